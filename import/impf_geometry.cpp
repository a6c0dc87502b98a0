// import/impf_geometry.cpp: module impf, second half: a feature's geometry from its FSPT pointers and
// the nodes and edges of the topology cache, and the writers of its FRID, name and attribute columns,
// of the attribute overflow table atto and of the cell table dsnm.
// Geometry builders log each bad pointer and give 1 (the record is skipped); column writers never fail
// their caller: a missing column stays unset, a COM failure is logged.

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "import/impf.h"
#include "s57/dbutil.h"
#include "s57/dimml.h"
#include "s57/lookups.h"
#include "s57/record_list.h"
#include "s57/s57_codec.h"
#include "s57/s57_file.h"
#include "s57/s57_util2.h"

namespace {

constexpr char kModule[] = "impf";

void logComError(const char* function, const _com_error& e) { logComErrorOf(kModule, function, e); }

const char* text(const char* s) { return s ? s : ""; }

// The value of the k-th subfield `label` of field `field` (k from 0), or null.
struct SubfieldWalk {
    const Iso8211Record* record;
    int field;
    const char* label;
    int next = 0;
    // The next subfield with the label, or null when there is none.
    const Iso8211SubField* step() {
        const int s = Find8211SubField(record, label, field, next);
        if (s < 0) return nullptr;
        next = s + 1;
        return &record->fields[field].subFields[s];
    }
};

const char* firstValue(const Iso8211Record* record, int field, const char* label) {
    const int s = Find8211SubField(record, label, field, 0);
    return s < 0 ? nullptr : record->fields[field].subFields[s].value;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

IPointPtr newPoint(double x, double y) {
    IPointPtr p(CLSID_Point);
    p->PutCoords(x, y);
    return p;
}

// 'F' forward, 'R' reverse, or 0 for a value of the wrong length.
char orientation(const char* ornt, const char* function, const ObjectRec* node, const char* recordName) {
    if (!ornt || std::strlen(ornt) != 1) {
        logLine("%s: %s %s invalid FSPT::ORNT subfield %s\n", function, text(node ? node->lnam : nullptr),
                recordName, text(ornt));
        return 0;
    }
    if (ornt[0] == '1' || ornt[0] == 'F') return 'F';
    if (ornt[0] == '2' || ornt[0] == 'R') return 'R';
    logLine("%s: %s %s invalid FSPT::ORNT subfield %s, override to F\n", function, text(node ? node->lnam : nullptr),
            recordName, ornt);
    return 'F';
}

bool validName(const char* name) { return name && std::strlen(name) == 12; }

// The text goes into its BSTR once (a _bstr_t would make it twice).
template <class Buffer>
void setValue(Buffer* buffer, const char* column, const char* value) {
    (void)SetRecordValue(buffer, column, textVariant(value));
}

// The attribute mappings of one class and attribute code, in table order: every attribute value
// of every feature looks its field up here, and the table holds thousands of mappings. Keys are
// the code and the class acronym in lower case, made without an allocation.
struct MappingKey {
    int32_t code = 0;
    char name[sizeof AttributeMapRec::objectName] = {};
    bool operator==(const MappingKey&) const = default;
};

struct MappingKeyHash {
    std::size_t operator()(const MappingKey& k) const noexcept {
        std::size_t h = std::hash<int32_t>()(k.code);
        for (const char c : k.name) h = h * 131 + static_cast<unsigned char>(c);
        return h;
    }
};

// False when the acronym is longer than any class acronym of the table can be.
bool mappingKey(int32_t code, const char* acronym, std::size_t length, MappingKey& key) {
    if (length > sizeof key.name) return false;
    key.code = code;
    for (std::size_t i = 0; i < length; ++i) key.name[i] = char(std::tolower(static_cast<unsigned char>(acronym[i])));
    return true;
}

const std::vector<int32_t>* mappingsOf(int32_t code, const char* acronym) {
    static std::unordered_map<MappingKey, std::vector<int32_t>, MappingKeyHash> index;
    static uint64_t builtFor = 0;
    static const AttributeMapRec* builtOver = nullptr;
    static int32_t builtCount = -1;
    if (builtFor != dimmlTablesGeneration || builtOver != attributeMaps || builtCount != attributeMapCount) {
        index.clear();
        for (int32_t i = 0; i < attributeMapCount; ++i) {
            const AttributeMapRec& m = attributeMaps[i];
            MappingKey key;
            (void)mappingKey(m.code, m.objectName, strnlen(m.objectName, sizeof m.objectName), key);
            index[key].push_back(i);
        }
        builtFor = dimmlTablesGeneration;
        builtOver = attributeMaps;
        builtCount = attributeMapCount;
    }
    MappingKey key;
    if (!mappingKey(code, acronym, std::strlen(acronym), key)) return nullptr;
    const auto it = index.find(key);
    return it == index.end() ? nullptr : &it->second;
}

template <class Buffer>
void setGDBValueOf(Buffer* buffer, const char* acronym, int32_t code, const char* attributeAcronym, const char* value,
                   const char* primitive) {
    try {
        const char* field = attributeAcronym;
        const bool anyPrimitive = !primitive || !primitive[0];
        if (const std::vector<int32_t>* maps = mappingsOf(code, acronym)) {
            for (const int32_t i : *maps) {
                const AttributeMapRec& m = attributeMaps[i];
                if (!anyPrimitive && compareNoCase(m.objectType, primitive) != 0) continue;
                field = m.gdbName;
                break;
            }
        }
        setValue(buffer, field, value);
    } catch (const _com_error& e) {
        logComError("setGDBValue", e);
    } catch (const std::bad_alloc&) {
        logComError("setGDBValue", _com_error(E_OUTOFMEMORY));
    }
}

// PRIM and RUIN come as the codec's numbers from binary files and as letters from ASCII ones.
std::string decoded(const char* label, const char* value, const char* fallback, bool* failed) {
    char out[kCodecTextMax + 1] = {};
    *failed = false;
    if (bin2ascii(label, value, out) != 0) {
        *failed = true;
        return fallback;
    }
    return out;
}

// The FRID and name columns shared by both set-A writers; `function` names the writer in its lines.
template <class Buffer>
void writeFridColumns(Buffer* buffer, int32_t recordId, const char* lnam, const char* recordName, const char* cellName,
                      const char* const* frid, const char* function, bool tableLines) {
    char id[16];
    std::snprintf(id, sizeof id, "%d", recordId);
    setValue(buffer, "ID", id);
    setValue(buffer, "LNAM", text(lnam));
    setValue(buffer, "NAME", text(recordName));
    if (cellName) setValue(buffer, "DSNM", cellName);

    const char* prim = frid ? frid[2] : nullptr;
    const char* grup = frid ? frid[3] : nullptr;
    const char* rver = frid ? frid[5] : nullptr;
    const char* ruin = frid ? frid[6] : nullptr;
    const char* end = tableLines ? "" : "\n";

    std::string primText;
    if (!prim || !prim[0]) {
        logLine("%s: %s %s does not have a PRIM subfield, override to N%s", function, text(lnam), recordName, end);
        primText = "N";
    } else if (isDigit(prim[0])) {
        bool failed = false;
        primText = decoded("PRIM", prim, "N", &failed);
        if (failed)
            logLine("%s: %s %s unable to map subfield PRIM value %s to text, override to N\n", function, text(lnam),
                    recordName, prim);
    } else {
        primText = prim;
    }
    setValue(buffer, "PRIM", primText.c_str());

    if (!grup || !grup[0]) {
        logLine("%s: %s %s does not have a GRUP subfield, override to 255%s", function, text(lnam), recordName, end);
        setValue(buffer, "GRUP", "255");
    } else {
        setValue(buffer, "GRUP", grup);
    }

    if (!rver || !rver[0]) {
        logLine("%s: %s %s does not have a RVER subfield, override to 1%s", function, text(lnam), recordName, end);
        setValue(buffer, "RVER", "1");
    } else {
        setValue(buffer, "RVER", rver);
    }

    std::string ruinText;
    if (!ruin || !ruin[0]) {
        logLine("%s: %s %s does not have a RUIN subfield, override to I%s", function, text(lnam), recordName, end);
        ruinText = "I";
    } else if (isDigit(ruin[0])) {
        bool failed = false;
        ruinText = decoded("RUIN", ruin, "I", &failed);
        if (failed)
            logLine("%s: %s %s unable to map subfield RUIN value %s to text, override to I%s", function, text(lnam),
                    recordName, ruin, end);
    } else {
        ruinText = ruin;
    }
    setValue(buffer, "RUIN", ruinText.c_str());
}

template <class Buffer>
void writeAttributes(Buffer* buffer, int32_t count, const int32_t* indexes, const char* const* values,
                     const char* acronym, const char* primitive) {
    for (int32_t k = 0; k < count; ++k) {
        if (!values || !values[k] || !values[k][0]) continue;
        const int32_t i = indexes[k];
        if (i < 0 || i >= s57AttributeCount) continue;
        setGDBValueOf(buffer, acronym, s57Attributes[i].index, s57Attributes[i].name, values[k], primitive);
    }
}

}  // namespace

// ---- Geometry ---------------------------------------------------------------------------------

int getFPPoint(const ObjectRec* node, const char* recordName, const Iso8211Record* record, IPoint** point,
               IMultipoint** multipoint, Cache* cache, double depthLimit) {
    try {
        const char* lnam = text(node ? node->lnam : nullptr);
        recordName = text(recordName);
        if (point) *point = nullptr;
        if (multipoint) *multipoint = nullptr;
        if (!record || !cache || (!point && !multipoint)) return 1;
        const int f = Find8211Field(record, "FSPT", 0);
        if (f < 0) {
            logLine("getFPPoint: %s %s no FSPT field found\n", lnam, recordName);
            return 1;
        }
        const char* name = firstValue(record, f, "NAME");
        if (!name) {
            logLine("getFPPoint: %s %s no FSPT::NAME subfield found\n", lnam, recordName);
            return 1;
        }
        if (!validName(name)) {
            logLine("getFPPoint: %s %s no FSPT::NAME contian invalid data\n", lnam, recordName);
            return 1;
        }
        NodeObject* target = nullptr;
        if (name[1] == 'I') (void)cache_find_vi(cache, name, &target);
        else (void)cache_find_vc(cache, name, &target);
        if (!target) {
            logLine("getFPPoint: %s %s target isolated node %s not found\n", lnam, recordName, name);
            return 1;
        }
        if (target->num < 1 || !target->coords) {
            logLine("getFPPoint: %s %s target node %s dimension %d coords, expect at least 1\n", lnam, recordName,
                    name, target->dim);
            return 1;
        }
        const double* c = target->coords;
        if (target->dim == 2) {
            if (target->num > 1)
                logLine("getFPPoint: %s %s target node %s dimension %d coords, only first one is used\n", lnam,
                        recordName, name, target->dim);
            IPointPtr p = newPoint(c[0], c[1]);
            if (multipoint) {
                IMultipointPtr m(CLSID_Multipoint);
                IPointCollectionPtr(m)->AddPoint(p);
                *multipoint = m.Detach();
            } else {
                *point = p.Detach();
            }
            return 0;
        }
        if (target->dim != 3) {
            logLine("getFPPoint: %s %s target node %s unsupported dimension %d\n", lnam, recordName, name,
                    target->dim);
            return 1;
        }
        if (!multipoint) {
            IPointPtr p = newPoint(c[0], c[1]);
            p->PutZ(c[2]);
            IZAwarePtr(p)->PutZAware(VARIANT_TRUE);
            *point = p.Detach();
            return 0;
        }
        IMultipointPtr m(CLSID_Multipoint);
        IZAwarePtr(m)->PutZAware(VARIANT_TRUE);
        IPointCollectionPtr points(m);
        for (int32_t i = 0; i < target->num; ++i) {
            const double* q = c + 3 * std::size_t(i);
            if (q[2] < depthLimit) {
                logLine("getFPPoint: %s %s target node %s point %d depth %g below the limit %g\n", lnam, recordName,
                        name, i + 1, q[2], depthLimit);
                return 1;
            }
            IPointPtr p = newPoint(q[0], q[1]);
            p->PutZ(q[2]);
            points->AddPoint(p);
        }
        *multipoint = m.Detach();
        return 0;
    } catch (const _com_error& e) {
        logComError("getFPPoint", e);
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        logComError("getFPPoint", _com_error(E_OUTOFMEMORY));
        return E_FAIL;
    }
}

int getFLLine(const ObjectRec* node, const char* recordName, const Iso8211Record* record, IPolyline* line,
              Cache* cache) {
    try {
        const char* lnam = text(node ? node->lnam : nullptr);
        recordName = text(recordName);
        if (!record || !line || !cache) return 1;
        int f = Find8211Field(record, "FSPT", 0);
        if (f < 0) {
            logLine("getFLLine: %s %s no FSPT field found\n", lnam, recordName);
            return 1;
        }
        IGeometryCollectionPtr paths(line);
        IPathPtr path;  // one object carries every path over: the polyline copies what it is given
        std::vector<WKSPoint> points;
        double lastX = 0, lastY = 0;
        int edges = 0;
        auto append = [&](double x, double y) {
            // The node two edges share is kept once; an edge that starts elsewhere starts a path, so
            // no segment is drawn that is not in the data.
            if (!points.empty() && x == lastX && y == lastY) return;
            points.push_back({x, y});
            lastX = x;
            lastY = y;
        };
        auto flush = [&]() {
            if (points.empty()) return;
            if (!path) path = IPathPtr(CLSID_Path);
            path->SetEmpty();
            IPointCollectionPtr(path)->AddWKSPoints(LONG(points.size()), points.data());
            paths->AddGeometry(path);
            points.clear();
        };
        for (; f >= 0; f = Find8211Field(record, "FSPT", f + 1)) {
            SubfieldWalk names{record, f, "NAME"};
            SubfieldWalk ornts{record, f, "ORNT"};
            for (const Iso8211SubField* n = names.step(); n; n = names.step()) {
                if (!validName(n->value)) {
                    logLine("getFLLine: %s %s invalid FSPT::NAME subfield %s\n", lnam, recordName, text(n->value));
                    return 1;
                }
                EdgeObject* edge = nullptr;
                (void)cache_find_ve(cache, n->value, &edge);
                if (!edge) {
                    logLine("getFLLine: %s %s target edge %s not found\n", lnam, recordName, n->value);
                    return 1;
                }
                const Iso8211SubField* o = ornts.step();
                const char dir = orientation(o ? o->value : nullptr, "getFLLine", node, recordName);
                if (!dir) return 1;
                if (edge->num < 1 || !edge->coords) continue;
                const int32_t last = edge->num - 1;
                const double* first = edge->coords + (dir == 'F' ? 0 : 2 * std::size_t(last));
                if (!points.empty() && (first[0] != lastX || first[1] != lastY)) flush();
                for (int32_t i = 0; i <= last; ++i) {
                    const double* q = edge->coords + 2 * std::size_t(dir == 'F' ? i : last - i);
                    append(q[0], q[1]);
                }
                ++edges;
            }
        }
        if (edges == 0) {
            logLine("getFLLine: %s %s invalid FSPT field\n", lnam, recordName);
            return 1;
        }
        flush();
        return 0;
    } catch (const _com_error& e) {
        logComError("getFLLine", e);
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        logComError("getFLLine", _com_error(E_OUTOFMEMORY));
        return E_FAIL;
    }
}

int getFAArea(const ObjectRec* node, const char* recordName, const Iso8211Record* record, IPolygon* polygon,
              Cache* cache) {
    try {
        const char* lnam = text(node ? node->lnam : nullptr);
        recordName = text(recordName);
        if (!record || !polygon || !cache) return 1;
        int f = Find8211Field(record, "FSPT", 0);
        if (f < 0) {
            logLine("getFAArea: %s %s no FSPT field found\n", lnam, recordName);
            return 1;
        }
        // Rings are collected here and handed to the polygon only when every pointer was good: the
        // first bad pointer drops the feature's geometry as a whole.
        std::vector<std::vector<WKSPoint>> rings;
        std::vector<WKSPoint> ring;
        bool inRing = false;
        std::string start;
        double startX = 0, startY = 0;
        bool closed = false;
        int edges = 0;
        auto finishRing = [&]() {
            if (!ring.empty()) rings.push_back(std::move(ring));
            ring.clear();
            inRing = false;
            closed = false;
        };
        for (; f >= 0; f = Find8211Field(record, "FSPT", f + 1)) {
            SubfieldWalk names{record, f, "NAME"};
            SubfieldWalk ornts{record, f, "ORNT"};
            SubfieldWalk usags{record, f, "USAG"};
            for (const Iso8211SubField* n = names.step(); n; n = names.step()) {
                if (!validName(n->value)) {
                    logLine("getFAArea: %s %s invalid FSPT::NAME subfield %s\n", lnam, recordName, text(n->value));
                    return 1;
                }
                EdgeObject* edge = nullptr;
                (void)cache_find_ve(cache, n->value, &edge);
                if (!edge) {
                    logLine("getFAArea: %s %s target edge %s not found\n", lnam, recordName, n->value);
                    return 1;
                }
                const Iso8211SubField* o = ornts.step();
                const char dir = orientation(o ? o->value : nullptr, "getFAArea", node, recordName);
                if (!dir) return 1;
                const Iso8211SubField* u = usags.step();
                const char* usag = u ? u->value : nullptr;
                if (!usag || std::strlen(usag) != 1) {
                    logLine("getFAArea: %s %s invalid FSPT::USAG subfield _%s_\n", lnam, recordName, text(usag));
                    return 1;
                }
                // A boundary truncated at the data limit ("C", "3") bounds the area as an exterior one
                // does; the record keeps its value for the srel row.
                const char use = (usag[0] == 'C' || usag[0] == '3') ? 'E' : usag[0];
                if (use != '1' && use != 'E' && use != '2' && use != 'I') {
                    logLine("getFAArea: %s %s invalid FSPT::USAG subfield %s\n", lnam, recordName, usag);
                    return 1;
                }
                if (closed) finishRing();
                const bool forward = dir == 'F';
                if (!inRing) {
                    inRing = true;
                    start = forward ? edge->beginNode : edge->endNode;
                }
                const int32_t num = edge->coords ? edge->num : 0;
                if (num > 0 && ring.empty()) {
                    const double* first = edge->coords + (forward ? 0 : 2 * std::size_t(num - 1));
                    startX = first[0];
                    startY = first[1];
                }
                const char* endNode = forward ? edge->endNode : edge->beginNode;
                closed = std::strncmp(endNode, start.c_str(), sizeof edge->endNode) == 0;
                // Two nodes at one place (a cell that repeats a node) close a ring as one node does.
                if (!closed && num > 1) {
                    const double* last = edge->coords + (forward ? 2 * std::size_t(num - 1) : 0);
                    closed = last[0] == startX && last[1] == startY;
                }
                for (int32_t i = 0; i + 1 < num; ++i) {
                    const double* q = edge->coords + 2 * std::size_t(forward ? i : num - 1 - i);
                    ring.push_back({q[0], q[1]});
                }
                ++edges;
            }
            finishRing();
        }
        if (edges == 0) {
            logLine("getFAArea: %s %s invalid FSPT field\n", lnam, recordName);
            return 1;
        }
        IGeometryCollectionPtr parts(polygon);
        IRingPtr part(CLSID_Ring);  // the polygon copies each ring it is given
        for (const std::vector<WKSPoint>& r : rings) {
            part->SetEmpty();
            IPointCollectionPtr(part)->AddWKSPoints(LONG(r.size()), r.data());
            part->Close();
            parts->AddGeometry(part);
        }
        polygon->Close();
        return 0;
    } catch (const _com_error& e) {
        logComError("getFAArea", e);
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        logComError("getFAArea", _com_error(E_OUTOFMEMORY));
        return E_FAIL;
    }
}

// ---- Columns ------------------------------------------------------------------------------------

void writeSetA_Table(IFeatureBuffer* buffer, int32_t recordId, const char* lnam, const char* recordName,
                     const char* const* frid, int32_t setACount, const int32_t* setAIndexes,
                     const char* const* setAValues, const char* acronym, const char* primitive) {
    if (!buffer) return;
    try {
        writeFridColumns(buffer, recordId, lnam, text(recordName), nullptr, frid, "writeSetA_Table", false);
        writeAttributes(buffer, setACount, setAIndexes, setAValues, text(acronym), primitive);
    } catch (const _com_error& e) {
        logComError("writeSetA_Table", e);
    } catch (const std::bad_alloc&) {
        logComError("writeSetA_Table", _com_error(E_OUTOFMEMORY));
    }
}

void writeSetA_FeatureTable(IRowBuffer* buffer, int32_t recordId, const char* lnam, const char* recordName,
                            const char* cellName, const char* const* frid, int32_t setACount,
                            const int32_t* setAIndexes, const char* const* setAValues, const char* acronym) {
    if (!buffer) return;
    try {
        writeFridColumns(buffer, recordId, lnam, text(recordName), text(cellName), frid, "writeSetA_FeatureTable",
                         true);
        writeAttributes(buffer, setACount, setAIndexes, setAValues, text(acronym), "");
    } catch (const _com_error& e) {
        logComError("writeSetA_FeatureTable", e);
    } catch (const std::bad_alloc&) {
        logComError("writeSetA_FeatureTable", _com_error(E_OUTOFMEMORY));
    }
}

void writeSetBC_Table(IFeatureBuffer* buffer, int32_t setBCCount, const int32_t* setBCIndexes,
                      const char* const* setBCValues, const char* acronym, const char* primitive) {
    if (!buffer) return;
    try {
        writeAttributes(buffer, setBCCount, setBCIndexes, setBCValues, text(acronym), primitive);
    } catch (const _com_error& e) {
        logComError("writeSetBC_Table", e);
    } catch (const std::bad_alloc&) {
        logComError("writeSetBC_Table", _com_error(E_OUTOFMEMORY));
    }
}

void writeSetBC_FeatureTable(IRowBuffer* buffer, int32_t setBCCount, const int32_t* setBCIndexes,
                             const char* const* setBCValues, const char* acronym, const char* primitive) {
    if (!buffer) return;
    try {
        writeAttributes(buffer, setBCCount, setBCIndexes, setBCValues, text(acronym), text(primitive));
    } catch (const _com_error& e) {
        logComError("writeSetBC_FeatureTable", e);
    } catch (const std::bad_alloc&) {
        logComError("writeSetBC_FeatureTable", _com_error(E_OUTOFMEMORY));
    }
}

void setGDBValue(IFeatureBuffer* buffer, const char* acronym, int32_t code, const char* attributeAcronym,
                 const char* value, const char* primitive) {
    if (!buffer || !acronym || !attributeAcronym || !value) return;
    setGDBValueOf(buffer, acronym, code, attributeAcronym, value, primitive);
}

void setGDBValue(IRowBuffer* buffer, const char* acronym, int32_t code, const char* attributeAcronym,
                 const char* value, const char* primitive) {
    if (!buffer || !acronym || !attributeAcronym || !value) return;
    setGDBValueOf(buffer, acronym, code, attributeAcronym, value, primitive);
}

void writeOverflowTable(ITable* atto, const char* lnam, const char* attl, const char* value) {
    if (!atto) return;
    try {
        std::string label = text(attl);
        if (!label.empty() && isDigit(label[0])) {
            const char* acronym = nullptr;
            if (lookupAttrAcronym(label.c_str(), &acronym) == 0 && acronym) label = acronym;
            else logLine("writeOverflowTable: unable to map attribute code %s to label\n", label.c_str());
        }
        if (label.size() > 6) label.resize(6);
        ICursorPtr cursor = atto->Insert(VARIANT_TRUE);
        IRowBufferPtr row = atto->CreateRowBuffer();
        setValue(row.GetInterfacePtr(), attoFieldDefs[0].name, text(lnam));
        setValue(row.GetInterfacePtr(), attoFieldDefs[1].name, label.c_str());
        setValue(row.GetInterfacePtr(), attoFieldDefs[2].name, text(value));
        _variant_t oid;
        const HRESULT hr = cursor->raw_InsertRow(row, &oid);
        if (FAILED(hr)) logLine("writeOverflowTable: unable to insert %s's %s value, result %d\n", text(lnam),
                                label.c_str(), int(hr));
        (void)cursor->raw_Flush();
    } catch (const _com_error& e) {
        logComError("writeOverflowTable", e);
    } catch (const std::bad_alloc&) {
        logComError("writeOverflowTable", _com_error(E_OUTOFMEMORY));
    }
}

HRESULT getDSNMTable(IFeatureWorkspace* workspace, ITable** table) {
    if (!table) return E_POINTER;
    *table = nullptr;
    if (!workspace) return E_POINTER;
    try {
        ITable* raw = nullptr;
        HRESULT hr = workspace->raw_OpenTable(_bstr_t("DSNM").GetBSTR(), &raw);
        if (SUCCEEDED(hr) && raw) {
            *table = raw;
            return S_OK;
        }
        IObjectClassDescriptionPtr description(CLSID_ObjectClassDescription);
        IFieldsEditPtr fields(description->GetRequiredFields());
        fields->AddField(makeField("dsnm", esriFieldTypeString, 30));
        fields->AddField(makeField("catcov", esriFieldTypeInteger, 2));
        fields->AddField(makeField("metaid", esriFieldTypeInteger, 10));
        ITablePtr created = workspace->CreateTable("dsnm", fields, nullptr, nullptr, _bstr_t(""));
        *table = workspace->OpenTable("dsnm").Detach();
        return S_OK;
    } catch (const _com_error& e) {
        logComError("getDSNMTable", e);
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        logComError("getDSNMTable", _com_error(E_OUTOFMEMORY));
        return E_FAIL;
    }
}
