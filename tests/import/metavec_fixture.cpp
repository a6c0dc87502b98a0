// tests/import/metavec_fixture.cpp: the shared fixture of the metadata and vector import tests.
#include "metavec_fixture.h"

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "platform/ui/ui.h"
#include "s57/dbutil.h"
#include "s57/dimml.h"
#include "s57/s57_util2.h"

namespace metavec {

namespace {

std::string num(long v, int w) {
    std::string s = std::to_string(v);
    if (s.size() > std::size_t(w)) throw std::length_error(s);
    return std::string(std::size_t(w) - s.size(), '0') + s;
}

// A signed value right-aligned in w characters, as fixed-width I fields hold it.
std::string signedNum(long v, int w) {
    std::string s = std::to_string(v);
    if (s.size() > std::size_t(w)) throw std::length_error(s);
    return std::string(std::size_t(w) - s.size(), ' ') + s;
}

struct RawField {
    std::string tag, body;  // body ends with '\x1e'
};

// Field lengths and positions take 3 and 4 digits unless a field needs more (a node with many
// soundings); the leader's entry map says which.
std::string record(bool ddr, const std::vector<RawField>& fields) {
    std::size_t longest = 0, total = 0;
    for (const auto& f : fields) {
        longest = std::max(longest, f.body.size());
        total += f.body.size();
    }
    const int lengthWidth = std::max(3, int(std::to_string(longest).size()));
    const int positionWidth = std::max(4, int(std::to_string(total).size()));
    std::string dir, area;
    for (const auto& f : fields) {
        dir += f.tag + num(long(f.body.size()), lengthWidth) + num(long(area.size()), positionWidth);
        area += f.body;
    }
    dir += '\x1e';
    const std::size_t base = 24 + dir.size();
    return num(long(base + area.size()), 5) + (ddr ? "3LE1 09" : " D     ") + num(long(base), 5) +
           (ddr ? " ! " : "   ") + std::to_string(lengthWidth) + std::to_string(positionWidth) + "04" + dir + area;
}

RawField describe(const std::string& tag, const std::string& controls, const std::string& name,
                  const std::string& labels, const std::string& formats) {
    return {tag, controls + name + "\x1f" + labels + "\x1f" + formats + "\x1e"};
}

constexpr char UT = '\x1f';
constexpr char FT = '\x1e';

}  // namespace

// ---- CellBuilder ------------------------------------------------------------------------------------

void CellBuilder::add(std::vector<Field> fields) {
    std::vector<RawField> raw{{"0001", num(++next_, 5) + FT}};
    for (auto& f : fields) raw.push_back({f.tag, f.body});
    records_.push_back(record(false, raw));
}

void CellBuilder::ds(int rcid, const std::string& dsnm, bool withDssi, int noin, int nocn, int noed,
                     const std::string& comt) {
    std::vector<Field> fields;
    fields.push_back({"DSID", std::string("DS") + num(rcid, 10) + "N" + "01" + dsnm + UT + "1" + UT + "0" + UT +
                                  "20240101" + "20240102" + "03.1" + "ENC" + "" + UT + "2.0" + UT + "EN" + "US" +
                                  comt + FT});
    if (withDssi)
        fields.push_back({"DSSI", std::string("CN") + "1" + "1" + num(0, 10) + num(0, 10) + num(0, 10) + num(0, 10) +
                                      num(noin, 10) + num(nocn, 10) + num(noed, 10) + num(0, 10) + FT});
    add(fields);
}

void CellBuilder::dp(int rcid, const std::string& comf, const std::string& somf) {
    std::string body = std::string("DP") + num(rcid, 10) + "02" + "17" + "23" + num(25000, 10) + "01" + "01" + "01" +
                       "LL" + comf + UT;
    if (dspmHasSomf) body += somf + UT;
    body += std::string("dspm comment") + FT;
    add({{"DSPM", body}});
}

void CellBuilder::dh(int rcid) {
    add({{"DSHT", std::string("DH") + num(rcid, 10) + "US" + "20240101" + "20240102" + "history" + UT + "20240103" +
                      "comment" + FT}});
}

void CellBuilder::da(int rcid) {
    add({{"DSAC", std::string("DA") + num(rcid, 10) + "1.0" + UT + "2.0" + UT + "3.0" + UT + num(100, 10) + "acc" +
                      FT}});
}

void CellBuilder::vf(int rcid) { add({{"VRID", std::string("VF") + num(rcid, 10) + "001" + "I" + FT}}); }

void CellBuilder::vi2d(int rcid, int y, int x, const std::vector<std::pair<int, std::string>>& attv) {
    std::vector<Field> fields{{"VRID", std::string("VI") + num(rcid, 10) + "001" + "I" + FT}};
    if (!attv.empty()) {
        std::string body;
        for (const auto& [code, value] : attv) body += num(code, 5) + value + UT;
        fields.push_back({"ATTV", body + FT});
    }
    fields.push_back({"SG2D", signedNum(y, 10) + signedNum(x, 10) + FT});
    add(fields);
}

void CellBuilder::vi3d(int rcid, const std::vector<YXZ>& soundings, int perField) {
    std::vector<Field> fields{{"VRID", std::string("VI") + num(rcid, 10) + "001" + "I" + FT}};
    std::string body;
    int inField = 0;
    for (const YXZ& s : soundings) {
        body += signedNum(s.y, 10) + signedNum(s.x, 10) + signedNum(s.z, 10);
        if (perField > 0 && ++inField == perField) {
            fields.push_back({"SG3D", body + FT});
            body.clear();
            inField = 0;
        }
    }
    if (!body.empty() || fields.size() == 1) fields.push_back({"SG3D", body + FT});
    add(fields);
}

void CellBuilder::viBare(int rcid) { add({{"VRID", std::string("VI") + num(rcid, 10) + "001" + "I" + FT}}); }

void CellBuilder::vc(int rcid, int y, int x) {
    add({{"VRID", std::string("VC") + num(rcid, 10) + "001" + "I" + FT},
         {"SG2D", signedNum(y, 10) + signedNum(x, 10) + FT}});
}

void CellBuilder::ve(int rcid, const std::vector<Pointer>& pointers, const std::vector<YX>& yx) {
    std::vector<Field> fields{{"VRID", std::string("VE") + num(rcid, 10) + "001" + "I" + FT}};
    std::string body;
    for (const Pointer& p : pointers) body += p.name + "F" + "W" + p.topi + "N";
    if (!pointers.empty()) fields.push_back({"VRPT", body + FT});
    if (!yx.empty()) {
        std::string coords;
        for (const auto& [y, x] : yx) coords += signedNum(y, 10) + signedNum(x, 10);
        fields.push_back({"SG2D", coords + FT});
    }
    add(fields);
}

void CellBuilder::fe(int rcid, const std::string& prim, int objl) {
    add({{"FRID", std::string("FE") + num(rcid, 10) + prim + "001" + num(objl, 5) + "001" + "I" + FT},
         {"FOID", std::string("US") + UT + num(rcid, 10) + num(1, 5) + FT}});
}

std::string CellBuilder::bytes() const {
    const std::string dspmLabels = dspmHasSomf ? "RCNM!RCID!HDAT!VDAT!SDAT!CSCL!DUNI!HUNI!PUNI!COUN!COMF!SOMF!COMT"
                                               : "RCNM!RCID!HDAT!VDAT!SDAT!CSCL!DUNI!HUNI!PUNI!COUN!COMF!COMT";
    const std::string dspmFormats = dspmHasSomf ? "(A(2),I(10),I(2),I(2),I(2),I(10),I(2),I(2),I(2),A(2),A,A,A)"
                                                : "(A(2),I(10),I(2),I(2),I(2),I(10),I(2),I(2),I(2),A(2),A,A)";
    std::string out = record(
        true,
        {
            {"0000", "0000;&   metavec fixture\x1f"
                     "0001DSIDDSIDDSSI0001DSPM0001DSHT0001DSAC0001VRIDVRIDATTVVRIDVRPTVRIDSG2DVRIDSG3D0001FRID"
                     "FRIDFOID\x1e"},
            describe("0001", "0100;&   ", "ISO/IEC 8211 Record Identifier", "", "(I(5))"),
            describe("DSID", "1600;&   ", "Data set identification field",
                     "RCNM!RCID!EXPP!INTU!DSNM!EDTN!UPDN!UADT!ISDT!STED!PRSP!PSDN!PRED!PROF!AGEN!COMT",
                     "(A(2),I(10),A(1),I(2),A,A,A,A(8),A(8),A(4),A(3),A,A,A(2),A(2),A)"),
            describe("DSSI", "1600;&   ", "Data set structure information field",
                     "DSTR!AALL!NALL!NOMR!NOCR!NOGR!NOLR!NOIN!NOCN!NOED!NOFA",
                     "(A(2),A(1),A(1),I(10),I(10),I(10),I(10),I(10),I(10),I(10),I(10))"),
            describe("DSPM", "1600;&   ", "Data set parameter field", dspmLabels, dspmFormats),
            describe("DSHT", "1600;&   ", "Data set history field", "RCNM!RCID!PRCO!ESDT!LSDT!DCRT!CODT!COMT",
                     "(A(2),I(10),A(2),A(8),A(8),A,A(8),A)"),
            describe("DSAC", "1600;&   ", "Data set accuracy field", "RCNM!RCID!HACC!VACC!SACC!FPMF!COMT",
                     "(A(2),I(10),A,A,A,I(10),A)"),
            describe("VRID", "1600;&   ", "Vector record identifier field", "RCNM!RCID!RVER!RUIN",
                     "(A(2),I(10),I(3),A(1))"),
            describe("ATTV", "2600;&   ", "Vector record attribute field", "*ATTL!ATVL", "(I(5),A)"),
            describe("VRPT", "2000;&   ", "Vector record pointer field", "*NAME!ORNT!USAG!TOPI!MASK",
                     "(A(12),A(1),A(1),A(1),A(1))"),
            describe("SG2D", "2200;&   ", "2-D coordinate field", "*YCOO!XCOO", "(I(10),I(10))"),
            describe("SG3D", "2200;&   ", "3-D coordinate field", "*YCOO!XCOO!VE3D", "(I(10),I(10),I(10))"),
            describe("FRID", "1600;&   ", "Feature record identifier field", "RCNM!RCID!PRIM!GRUP!OBJL!RVER!RUIN",
                     "(A(2),I(10),A(1),I(3),I(5),I(3),A(1))"),
            describe("FOID", "1600;&   ", "Feature object identifier field", "AGEN!FIDN!FIDS", "(A,I(10),I(5))"),
        });
    for (const auto& r : records_) out += r;
    return out;
}

std::string CellBuilder::write(const std::filesystem::path& dir, const std::string& name) const {
    const std::filesystem::path p = dir / name;
    std::ofstream out(p, std::ios::binary);
    const std::string b = bytes();
    out.write(b.data(), std::streamsize(b.size()));
    if (!out) throw std::runtime_error("cannot write " + p.string());
    return p.string();
}

// ---- LoadedCell ---------------------------------------------------------------------------------------

LoadedCell::LoadedCell(const std::string& path) {
    pointFeatureCount = lineFeatureCount = areaFeatureCount = 0;
    rc = loadObjectRecList(&file, path.c_str(), &list);
    if (rc == 0) rc = cache_initialize(&cache, list, &hasFX);
}

LoadedCell::~LoadedCell() {
    cache_free(&cache);
    llist_destroy(list);
    if (file.fp) (void)Close8211File(&file);
}

// ---- Rows and the geodatabase ------------------------------------------------------------------------

std::string Row::text(const std::string& column) const {
    const auto it = values.find(column);
    if (it == values.end() || it->second.vt == VT_NULL || it->second.vt == VT_EMPTY) return {};
    const _bstr_t b(it->second);
    return static_cast<const char*>(b);
}

double Row::number(const std::string& column) const {
    const auto it = values.find(column);
    if (it == values.end() || it->second.vt == VT_NULL || it->second.vt == VT_EMPTY)
        return std::numeric_limits<double>::quiet_NaN();
    return double(it->second);
}

Gdb::Gdb() {
    static std::atomic<int> counter{0};
    dir_ = std::filesystem::temp_directory_path() /
           ("metavec_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    path_ = (dir_ / "test.gpkg").string();
    IWorkspaceFactoryPtr factory(CLSID_AccessWorkspaceFactory);
    ws_ = factory->Create(dir_.string().c_str(), "test.gpkg");
    fws_ = ws_;
    sr_ = ISpatialReferencePtr(CLSID_SpatialReferenceWGS84);
    sr_->SetZDomain(-12000.0, 9000.0);
    ITable* raw = nullptr;
    if (createGDBTable(fws_, "srel", &raw, fieldDefCount(srelFieldDefs), srelFieldDefs) != S_OK)
        throw std::runtime_error("cannot create srel");
    srel_.Attach(raw);
}

Gdb::~Gdb() {
    close();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

void Gdb::open() {
    IWorkspaceFactoryPtr factory(CLSID_AccessWorkspaceFactory);
    ws_ = factory->OpenFromFile(path_.c_str());
    fws_ = ws_;
    srel_ = fws_->OpenTable("srel");
}

void Gdb::close() {
    srel_ = nullptr;
    fws_ = nullptr;
    ws_ = nullptr;
}

void Gdb::sql(const std::string& statements) {
    close();
    sqlite3* db = nullptr;
    if (sqlite3_open(path_.c_str(), &db) != SQLITE_OK) throw std::runtime_error("cannot open " + path_);
    char* error = nullptr;
    const int rc = sqlite3_exec(db, statements.c_str(), nullptr, nullptr, &error);
    const std::string message = error ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    if (rc != SQLITE_OK) throw std::runtime_error(message + " in " + statements);
    open();
}

long Gdb::count(const char* table) const {
    ITablePtr t;
    if (FAILED(fws_->raw_OpenTable(_bstr_t(table).GetBSTR(), &t)) || !t) return -1;
    return t->RowCount(nullptr);
}

bool Gdb::hasClass(const char* name) const {
    IFeatureClassPtr c;
    return SUCCEEDED(fws_->raw_OpenFeatureClass(_bstr_t(name).GetBSTR(), &c)) && c;
}

std::vector<Row> Gdb::rows(const char* table) const {
    std::vector<Row> out;
    ITablePtr t;
    if (FAILED(fws_->raw_OpenTable(_bstr_t(table).GetBSTR(), &t)) || !t) return out;
    IFieldsPtr fields = t->GetFields();
    const LONG n = fields->GetFieldCount();
    std::vector<std::string> names;
    std::vector<bool> isShape;
    for (LONG i = 0; i < n; ++i) {
        IFieldPtr f = fields->GetField(i);
        std::string name = static_cast<const char*>(f->GetName());
        for (auto& c : name) c = char(std::toupper(static_cast<unsigned char>(c)));
        names.push_back(name);
        isShape.push_back(f->GetType() == esriFieldTypeGeometry);
    }
    ICursorPtr cursor = t->Search(nullptr, VARIANT_FALSE);
    for (IRowPtr r = cursor->NextRow(); r; r = cursor->NextRow()) {
        Row row;
        for (LONG i = 0; i < n; ++i) {
            if (!isShape[std::size_t(i)]) {
                row.values[names[std::size_t(i)]] = r->GetValue(i);
                continue;
            }
            IFeaturePtr feature(r);
            if (!feature) continue;
            IGeometryPtr shape = feature->GetShape();
            if (!shape) continue;
            auto add = [&](IPoint* p) { row.points.push_back({p->GetX(), p->GetY(), p->GetZ()}); };
            if (IPointCollectionPtr pc = shape; pc) {
                const LONG count = pc->GetPointCount();
                for (LONG k = 0; k < count; ++k) add(pc->GetPoint(k));
            } else if (IPointPtr p = shape; p) {
                add(p);
            }
        }
        out.push_back(std::move(row));
    }
    return out;
}

// ---- Log, catalogue, messages --------------------------------------------------------------------------

void prepareRun() {
    if (!s57Attributes) installBuiltinCatalogue();
    initPrimTypes();
    ui::setForm(ui::Form::Scripted);
    ui::scripted::reset();
    cellCount = 1;
    cellIndex = 0;
}

int occurrences(const std::string& text, const std::string& needle) {
    int n = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) ++n;
    return n;
}

// ---- GDAL -------------------------------------------------------------------------------------------------

namespace {

// One CSV record (fields may be quoted and hold commas).
std::vector<std::string> csvFields(const std::string& line) {
    std::vector<std::string> out;
    std::string cur;
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                cur += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                cur += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    out.push_back(cur);
    return out;
}

// The coordinates of a POINT, MULTIPOINT or LINESTRING WKT text, with or without Z.
std::vector<std::array<double, 3>> wktPoints(const std::string& wkt) {
    std::vector<std::array<double, 3>> out;
    const bool hasZ = wkt.find(" Z ") != std::string::npos || wkt.find(" Z(") != std::string::npos;
    std::string numbers;
    for (char c : wkt) numbers += (std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == 'e' ||
                                   c == 'E' || c == '+')
                                      ? c
                                      : ' ';
    // The geometry keyword has no digits, but its letters E (POINT has none, MULTIPOINT none,
    // LINESTRING one 'E'-free spelling) are turned into blanks by the test below.
    std::istringstream in(numbers);
    std::vector<double> values;
    std::string token;
    while (in >> token) {
        if (!std::isdigit(static_cast<unsigned char>(token[0])) && token[0] != '-' && token[0] != '.') continue;
        values.push_back(std::strtod(token.c_str(), nullptr));
    }
    const std::size_t dim = hasZ ? 3 : 2;
    for (std::size_t i = 0; i + dim <= values.size(); i += dim)
        out.push_back({values[i], values[i + 1], hasZ ? values[i + 2] : std::numeric_limits<double>::quiet_NaN()});
    return out;
}

}  // namespace

bool gdalPrimitives(const std::string& cell, const std::string& layer, std::map<long, GdalPrimitive>& out) {
    out.clear();
    const std::string command = "ogr2ogr -q -f CSV /vsistdout/ -oo RETURN_PRIMITIVES=ON -oo UPDATES=IGNORE "
                                "-lco GEOMETRY=AS_WKT '" + cell + "' " + layer + " 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return false;
    std::string text;
    char buf[65536];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe.get())) > 0;) text.append(buf, n);
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line)) return false;
    const std::vector<std::string> header = csvFields(line);
    std::map<std::string, std::size_t> column;
    for (std::size_t i = 0; i < header.size(); ++i) column[header[i]] = i;
    if (!column.count("WKT") || !column.count("RCID")) return false;
    while (std::getline(lines, line)) {
        if (line.empty()) continue;
        const std::vector<std::string> f = csvFields(line);
        auto get = [&](const std::string& name) -> std::string {
            const auto it = column.find(name);
            return it == column.end() || it->second >= f.size() ? std::string() : f[it->second];
        };
        GdalPrimitive p;
        p.rcid = std::strtol(get("RCID").c_str(), nullptr, 10);
        p.posacc = get("POSACC");
        p.quapos = get("QUAPOS");
        p.points = wktPoints(get("WKT"));
        for (int k = 0;; ++k) {
            const std::string key = "NAME_RCID_" + std::to_string(k);
            if (!column.count(key)) break;
            const std::string v = get(key);
            if (v.empty()) continue;
            ++p.pointers;
            p.nodes.push_back({std::strtol(v.c_str(), nullptr, 10), get("TOPI_" + std::to_string(k))});
        }
        out[p.rcid] = std::move(p);
    }
    return true;
}

bool gdalPrimitiveCounts(const std::string& cell, long& isolated, long& connected, long& edges) {
    isolated = connected = edges = -1;
    const std::string command = "ogrinfo -ro -so -oo RETURN_PRIMITIVES=ON -oo UPDATES=IGNORE '" + cell +
                                "' IsolatedNode ConnectedNode Edge 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return false;
    char line[1024];
    long* current = nullptr;
    bool any = false;
    while (std::fgets(line, sizeof line, pipe.get())) {
        const std::string text = line;
        if (text.rfind("Layer name: ", 0) == 0) {
            const std::string layer = text.substr(12, text.find_last_not_of("\r\n") - 11);
            current = layer == "IsolatedNode" ? &isolated : layer == "ConnectedNode" ? &connected
                      : layer == "Edge"       ? &edges
                                              : nullptr;
        } else if (current && text.rfind("Feature Count: ", 0) == 0) {
            *current = std::strtol(text.c_str() + 15, nullptr, 10);
            any = true;
        }
    }
    return any;
}

}  // namespace metavec
