// tests/export/core_fixture.cpp: see core_fixture.h.
#include "core_fixture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "import/impf.h"
#include "import/s572gdbmain.h"
#include "platform/ui/ui.h"
#include "s57/dbutil.h"
#include "s57/gdb_template.h"
#include "s57/s57_file.h"
#include "support/silence.h"

namespace fs = std::filesystem;

namespace coretest {

Scratch::Scratch() {
    std::string pattern = (fs::temp_directory_path() / "tarvo-export-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("no scratch folder");
    path_ = pattern;
}

Scratch::~Scratch() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

IGeometryPtr rectangle(double xmin, double ymin, double xmax, double ymax) {
    IPointCollectionPtr ring(CLSID_Ring);
    const WKSPoint points[5] = {{xmin, ymin}, {xmin, ymax}, {xmax, ymax}, {xmax, ymin}, {xmin, ymin}};
    ring->AddWKSPoints(5, points);
    IGeometryCollectionPtr polygon(CLSID_Polygon);
    polygon->AddGeometry(IGeometryPtr(ring));
    return IGeometryPtr(polygon);
}

namespace {

std::string templatePath() {
    static Scratch folder;  // lives until the process ends
    static std::string made;
    if (made.empty()) {
        const std::string path = (folder.path() / "template.gpkg").string();
        if (FAILED(createGeodatabase(path.c_str(), "S57", nullptr, nullptr, nullptr)))
            throw std::runtime_error("the geodatabase template cannot be made");
        made = path;
    }
    return made;
}

}  // namespace

TemplateGdb::TemplateGdb() {
    fs::copy_file(templatePath(), path());
    open();
}

TemplateGdb::TemplateGdb(const std::string& cellPath) {
    fs::copy_file(templatePath(), path());
    const fs::path cell = dir_.path() / fs::path(cellPath).filename();
    fs::create_symlink(cellPath, cell);
    ui::setForm(ui::Form::Scripted);
    ui::scripted::reset();
    {
        Silence quiet;
        importResult_ = s572gdb(cell.string().c_str(), path().c_str(), "S57");
    }
    ui::scripted::reset();
    open();
}

void TemplateGdb::open() {
    IWorkspace* raw = nullptr;
    if (FAILED(openWorkspace(path().c_str(), &raw)) || !raw) throw std::runtime_error("the copy does not open");
    ws_.Attach(raw);
    fws_ = ws_;
}

long TemplateGdb::addCoverage(const std::string& cell, int catcov, IGeometry* shape) {
    IFeatureClassPtr cls = fws_->OpenFeatureClass("MetadataAreaFeature");
    ISubtypesPtr subtypes(cls);
    IFeatureBufferPtr buffer = cls->CreateFeatureBuffer();
    buffer->PutValue(cls->FindField(subtypes->GetSubtypeFieldName()), _variant_t(302L));
    buffer->PutValue(cls->FindField("CATCOV"), _variant_t(std::to_string(catcov).c_str()));
    buffer->PutRefShape(shape);
    IFeatureCursorPtr cursor = cls->Insert(VARIANT_TRUE);
    const long oid = long(cursor->InsertFeature(buffer));
    cursor->Flush();
    if (::addCoverage(ws_, cell.c_str(), catcov, int32_t(oid)) != 0) throw std::runtime_error("no dsnm row");
    return oid;
}

std::string ReadField::value(const std::string& label, int n) const {
    for (const auto& [l, v] : subfields)
        if (l == label && n-- == 0) return v;
    return "<absent>";
}

int ReadField::count(const std::string& label) const {
    int n = 0;
    for (const auto& s : subfields) n += s.first == label ? 1 : 0;
    return n;
}

const ReadField* ReadRecord::field(const std::string& tag) const {
    for (const ReadField& f : fields)
        if (f.tag == tag) return &f;
    return nullptr;
}

int readBack(const std::string& path, std::vector<ReadRecord>& out) {
    out.clear();
    Iso8211File file{};
    int rc = Read8211File(&file, path.c_str());
    if (rc != 0) return rc;
    for (int i = 1; i <= file.recordCount; ++i) {
        RecordHolder holder;
        rc = Read8211Record(&file, i, &holder.record);
        if (rc != 0) break;
        ReadRecord r;
        for (int f = 0; f < holder.record.fieldCount; ++f) {
            const Iso8211Field& field = holder.record.fields[f];
            ReadField rf;
            rf.tag = field.tag;
            for (int k = 0; k < field.subfieldCount; ++k)
                rf.subfields.emplace_back(field.subFields[k].label,
                                          std::string(field.subFields[k].value ? field.subFields[k].value : ""));
            r.fields.push_back(std::move(rf));
        }
        out.push_back(std::move(r));
    }
    const int closed = Close8211File(&file);
    return rc != 0 ? rc : closed;
}

void insertRow(ITable* table, const std::map<std::string, _variant_t>& values) {
    IRowBufferPtr buffer = table->CreateRowBuffer();
    for (const auto& [column, value] : values) {
        const LONG index = table->FindField(column.c_str());
        if (index < 0) throw std::runtime_error("no column " + column);
        buffer->PutValue(index, value);
    }
    ICursorPtr cursor = table->Insert(VARIANT_TRUE);
    cursor->InsertRow(buffer);
    cursor->Flush();
}

}  // namespace coretest
