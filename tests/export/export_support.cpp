// tests/export/export_support.cpp: the shared part of the export's end-to-end tests (see the header).
#include "export_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "export/gdbs57main.h"
#include "platform/ui/ui.h"
#include "s57/s57_file.h"
#include "support/silence.h"

namespace fs = std::filesystem;

namespace exporttest {

e2e::DriverRun runExport(const std::string& output, const std::string& gdb, const std::string& cell,
                         const std::string& catalogue, const std::string& dataset, bool createTopology) {
    ui::setForm(ui::Form::Scripted);
    ui::scripted::reset();
    e2e::DriverRun run;
    {
        Silence quiet;
        run.result =
            gdb2s57(output.c_str(), gdb.c_str(), dataset.c_str(), cell.c_str(), catalogue.c_str(), createTopology);
    }
    run.events = ui::scripted::events();
    run.log = fileBytes(exportLogPath(output));
    ui::scripted::reset();
    return run;
}

std::vector<std::string> Field::values(const std::string& label) const {
    std::vector<std::string> out;
    for (const auto& [l, v] : subfields)
        if (l == label) out.push_back(v);
    return out;
}

const Field* Record::field(const std::string& tag) const {
    for (const Field& f : fields)
        if (f.tag == tag) return &f;
    return nullptr;
}

std::vector<Record> readRecords(const std::string& path) {
    std::vector<Record> out;
    Iso8211File file{};
    if (Read8211File(&file, path.c_str()) != 0) return out;
    for (int i = 1; i <= file.recordCount; ++i) {
        RecordHolder holder;
        if (Read8211Record(&file, i, &holder.record) != 0) break;
        Record r;
        for (int f = 0; f < holder.record.fieldCount; ++f) {
            const Iso8211Field& field = holder.record.fields[f];
            Field copy;
            copy.tag = field.tag;
            for (int s = 0; s < field.subfieldCount; ++s)
                copy.subfields.emplace_back(field.subFields[s].label,
                                            field.subFields[s].value ? field.subFields[s].value : "");
            r.fields.push_back(std::move(copy));
        }
        out.push_back(std::move(r));
    }
    (void)Close8211File(&file);
    return out;
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string ddrBytes(const std::string& path) {
    const std::string bytes = fileBytes(path);
    if (bytes.size() < 5) return {};
    const std::size_t length = std::strtoul(bytes.substr(0, 5).c_str(), nullptr, 10);
    return bytes.substr(0, std::min(length, bytes.size()));
}

bool gdalRead(const std::string& s57, const std::string& gpkg) {
    const std::string cmd = "ogr2ogr -f GPKG '" + gpkg + "' '" + s57 +
                            "' -oo UPDATES=OFF -oo SPLIT_MULTIPOINT=ON -oo ADD_SOUNDG_DEPTH=ON"
                            " -oo RETURN_PRIMITIVES=ON -oo RETURN_LINKAGES=ON -oo LNAM_REFS=ON"
                            " -skipfailures >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0 && fs::exists(gpkg);
}

}  // namespace exporttest
