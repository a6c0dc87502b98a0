// import/impv.cpp: module impv, the vector import of one base cell (primitive feature classes, srel
// rows of the edges, the topology cache). The importers leave the shared cursor past their own
// records on every way out, so that a stop of one never hides the records of the next.
// Every function catches _com_error around its body, logs it with its own name and returns E_FAIL.
#include "import/impv.h"

#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "s57/dbutil.h"
#include "s57/dimml.h"
#include "s57/llist.h"
#include "s57/lookups.h"
#include "s57/record_list.h"
#include "s57/relation_tables.h"
#include "s57/s57_file.h"
#include "s57/s57_util2.h"

namespace {

constexpr char kModule[] = "impv";

// Points by which node and edge coordinates grow.
constexpr int32_t kGrowPoints = 500;

// The catalogue attributes every primitive class carries: HORDAT, POSACC, QUAPOS.
constexpr int32_t kAttributeCodes[3] = {400, 401, 402};
constexpr int kAttributeCount = 3;

// A failed insert goes to the standard error stream and to the log.
__attribute__((format(printf, 1, 2))) void logBoth(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    std::vfprintf(stderr, format, args);
    if (logFile) std::vfprintf(logFile, format, again);
    va_end(again);
    va_end(args);
}

void logComError(const char* function, const _com_error& e) { logComErrorOf(kModule, function, e); }

struct FreeNode {
    void operator()(NodeObject* n) const noexcept {
        std::free(n->coords);
        std::free(n);
    }
};
using NodePtr = std::unique_ptr<NodeObject, FreeNode>;

struct FreeEdge {
    void operator()(EdgeObject* e) const noexcept {
        std::free(e->coords);
        std::free(e);
    }
};
using EdgePtr = std::unique_ptr<EdgeObject, FreeEdge>;

const char* subfieldValue(const Iso8211Record& record, int field, int index) {
    const char* value = record.fields[field].subFields[index].value;
    return value ? value : "";
}

// The text of the first subfield `label` of field `field`; null when the field has none.
const char* subfieldText(const Iso8211Record& record, int field, const char* label) {
    const int i = Find8211SubField(&record, label, field, 0);
    return i < 0 ? nullptr : subfieldValue(record, field, i);
}

// Find8211SubField within one field for a four-letter label: the first subfield at or after
// `start` with that label, or -1. Labels are compared with their terminator, as strcmp would.
int nextSubfield(const Iso8211Field& field, const char (&label)[5], int start) {
    static_assert(sizeof(Iso8211SubField::label) == 5);
    for (int j = start < 0 ? 0 : start; j < field.subfieldCount; ++j)
        if (std::memcmp(field.subFields[j].label, label, 5) == 0) return j;
    return -1;
}

double scaled(const char* text, int32_t factor) { return double(decimalInt32(text)) / double(factor); }

// A record name into a fixed buffer, cut to fit (record names have 12 characters).
void copyName(char* out, std::size_t size, const char* name) {
    const std::size_t n = strnlen(name, size - 1);
    std::memcpy(out, name, n);
    out[n] = '\0';
}

int32_t usableFactor(int32_t factor) { return factor < 1 ? 1 : factor; }

bool isKind(const ObjectRec* node, const char* type) {
    return node && std::strncmp(node->prim, type, sizeof node->prim) == 0;
}

// Moves the cursor past every record of the kind under it.
void skipKind(llist* records, const char* type) {
    while (isKind(static_cast<ObjectRec*>(llist_current(records)), type)) llist_next(records);
}

// Grows a coordinate array by kGrowPoints points of `dim` values when it is full; false when
// memory runs out (the array is then left as it was).
bool ensureRoom(double*& coords, int32_t& capacity, int32_t count, int dim, const char* allocFormat) {
    if (count < capacity) return true;
    const std::size_t bytes = std::size_t(capacity + kGrowPoints) * std::size_t(dim) * sizeof(double);
    auto* grown = static_cast<double*>(std::realloc(coords, bytes));
    if (!grown) {
        logLine(allocFormat, int(bytes));
        return false;
    }
    coords = grown;
    capacity += kGrowPoints;
    return true;
}

// Gives back what was not used; a failed shrink keeps the larger array.
void shrinkTo(double*& coords, int32_t count, int dim) {
    if (count <= 0) return;
    if (auto* shrunk = static_cast<double*>(std::realloc(coords, std::size_t(count) * std::size_t(dim) * sizeof(double))))
        coords = shrunk;
}

NodePtr newNode(const char* name, int16_t dim, int32_t capacity, const char* allocFormat) {
    NodePtr node(static_cast<NodeObject*>(std::calloc(1, sizeof(NodeObject))));
    if (!node) {
        logLine(allocFormat, int(sizeof(NodeObject)));
        return nullptr;
    }
    const std::size_t bytes = std::size_t(capacity) * std::size_t(dim) * sizeof(double);
    node->coords = static_cast<double*>(std::malloc(bytes));
    if (!node->coords) {
        logLine(allocFormat, int(bytes));
        return nullptr;
    }
    std::snprintf(node->name, sizeof node->name, "%s", name);
    node->dim = dim;
    return node;
}

// The log texts of one importer.
struct KindTexts {
    const char* type;
    const char* noRecord;
    const char* noSpatial;
    const char* acode;
    const char* trace;
    const char* read;
    const char* vrid;
    const char* attribute;
    const char* populate;
    const char* alloc;
    const char* noSG2D;
    const char* noYCOO;
    const char* noXCOO;
};

constexpr KindTexts kVI = {
    "VI",
    "importVI: no record found in object file\n",
    "importVI: no spatial record exist in the object file\n",
    "importVI: fail to map acode %d to aindex\n",
    "importVI: %s\n",
    "importVI: unable to read record %d\n",
    "importVI: record %d does not have field VRID\n",
    "importVI: record %d unable to obtain attribute\n",
    "importVI: record %d unable to populate attribute %d\n",
    "importVI: unable to allocate %d byte\n",
    "importVI: record %d does not have field SG2D or SG3D\n",
    "importVI: no YCOO subfield found in record %d\n",
    "importVI: no XCOO subfield found in record %d\n",
};

constexpr KindTexts kVC = {
    "VC",
    "importVC: no record found in object file\n",
    "importVC: no spatial record exist in the object file\n",
    "importVC: fail to map acode %d to aindex\n",
    "importVC: %s\n",
    "importVC: unable to read record %d\n",
    "importVC: record %d does not have field VRID\n",
    "importVC: record %d unable to obtain attribute\n",
    "importVC: record %d unable to populate attribute %d\n",
    "importVC: unable to allocate %d byte\n",
    "importVC: record %d does not have field SG2D\n",
    "importVC: no YCOO subfield found in record %d\n",
    "importVC: no XCOO subfield found in record %d\n",
};

constexpr KindTexts kVE = {
    "VE",
    "importVE: no record found in object file\n",
    "importVE: no spatial record exist in the object file\n",
    "importVE: fail to map acode %d to aindex\n",
    "importVE: %s\n",
    "importVE: unable to read record %d\n",
    "importVE: record %d does not have field VRID\n",
    "importVE: record %d unable to obtain attribute\n",
    "importVE: record %d unable to populate attribute %d\n",
    "importVE: unable to allocate %d byte\n",
    nullptr,
    "importVE: no YCOO subfield found in record %d\n",
    "importVE: no XCOO subfield found in record %d\n",
};

// The three catalogue attribute columns of the primitive classes.
struct Attributes {
    int32_t index[kAttributeCount] = {};
    FieldDef defs[kAttributeCount] = {};
};

int mapAttributes(const KindTexts& t, Attributes& attrs) {
    for (int k = 0; k < kAttributeCount; ++k) {
        if (lookupAttrIndex(kAttributeCodes[k], &attrs.index[k]) != 0 || attrs.index[k] < 0 ||
            attrs.index[k] >= s57AttributeCount) {
            logLine(t.acode, int(kAttributeCodes[k]));
            return -11;
        }
        attrs.defs[k] = s57Attributes[attrs.index[k]];
    }
    return 0;
}

// Opens or creates one primitive class; null when it cannot be had.
IFeatureClassPtr primitiveClass(IFeatureWorkspace* workspace, const char* name, esriGeometryType type, int zFlag,
                                const Attributes& attrs, ISpatialReference* spatialReference) {
    IFeatureClassPtr featureClass;
    const HRESULT hr = createFeatureClass(workspace, name, type, fieldDefCount(primitiveFieldDefs), primitiveFieldDefs,
                                          kAttributeCount, attrs.index, s57Attributes, zFlag, &featureClass,
                                          spatialReference);
    if ((hr != S_OK && hr != GDB_E_NAME_EXISTS) || !featureClass) return nullptr;
    return featureClass;
}

// One primitive row: the column texts of primitiveFieldDefs and of the attribute columns.
struct RowValues {
    const char* columns[4];
    const char* attributes[kAttributeCount];
};

// The common walk over the records of one kind from the cursor on. own(node, record, values)
// gives 0 for a converted record, 1 for a skipped one (logged), anything else to stop with.
template <class OwnPart>
int32_t walkRecords(const KindTexts& t, Iso8211File* file, llist* records, const Attributes& attrs,
                    const char* cellName, int32_t& converted, OwnPart&& own) {
    for (auto* node = static_cast<ObjectRec*>(llist_current(records)); isKind(node, t.type);
         node = static_cast<ObjectRec*>(llist_next(records))) {
        std::fprintf(stderr, t.trace, node->name);
        RecordHolder held;
        if (const int rc = readObjectRecord(file, node->recno, &held.record); rc != 0) {
            logLine(t.read, int(node->recno));
            skipKind(records, t.type);
            return rc;
        }
        const Iso8211Record& record = held.record;
        const int vrid = Find8211Field(&record, "VRID", 0);
        if (vrid < 0) {
            logLine(t.vrid, int(node->recno));
            continue;
        }
        const char* rcnm = subfieldText(record, vrid, "RCNM");
        const char* rcid = subfieldText(record, vrid, "RCID");
        const char* rver = subfieldText(record, vrid, "RVER");
        const char* ruin = subfieldText(record, vrid, "RUIN");
        const std::string name = std::string(rcnm ? rcnm : "") + (rcid ? rcid : "");
        RowValues values{{name.c_str(), rver ? rver : "", ruin ? ruin : "", cellName}, {}};
        if (getATTVValues(&record, s57Attributes, kAttributeCount, attrs.index, values.attributes) != 0) {
            logLine(t.attribute, int(node->recno));
            continue;
        }
        const int32_t rc = own(*node, record, values);
        if (rc == 0) ++converted;
        else if (rc != 1) {
            skipKind(records, t.type);
            return rc;
        }
    }
    return 0;
}

HRESULT insertRow(IFeatureClass* featureClass, IGeometry* geometry, int32_t& number, const Attributes& attrs,
                  const RowValues& values, int zFlag, double z) {
    return populateFeatureRecord(featureClass, geometry, ++number, fieldDefCount(primitiveFieldDefs), primitiveFieldDefs,
                                 values.columns, kAttributeCount, attrs.defs, values.attributes, zFlag, z);
}

// The SG2D node of importVI and importVC: one point row, then the node into the cache.
int32_t importNode2D(const KindTexts& t, const ObjectRec& node, const Iso8211Record& record, int field,
                     int32_t comf, IFeatureClass* featureClass, int32_t& number, const Attributes& attrs,
                     const RowValues& values, Cache* cache, int (*add)(Cache*, NodeObject*)) {
    const char* ycoo = subfieldText(record, field, "YCOO");
    if (!ycoo) {
        logLine(t.noYCOO, int(node.recno));
        return 1;
    }
    const char* xcoo = subfieldText(record, field, "XCOO");
    if (!xcoo) {
        logLine(t.noXCOO, int(node.recno));
        return 1;
    }
    NodePtr made = newNode(node.name, 2, 1, t.alloc);
    if (!made) return -1;
    const double x = scaled(xcoo, comf);
    const double y = scaled(ycoo, comf);
    made->num = 1;
    made->coords[0] = x;
    made->coords[1] = y;
    IPointPtr point(CLSID_Point);
    point->PutCoords(x, y);
    const HRESULT hr = insertRow(featureClass, point, number, attrs, values, 0, 0.0);
    if (FAILED(hr)) {
        logBoth(t.populate, int(node.recno), int(hr));
        return 1;
    }
    if (add(cache, made.get()) != 0) return -1;
    (void)made.release();
    return 0;
}

// The SG3D node of importVI: one vi3dsp row per sounding, one vi3d multipoint, then the cache.
int32_t importNode3D(const ObjectRec& node, const Iso8211Record& record, int firstField, int32_t comf,
                     int32_t somf, IFeatureClass* vi3dsp, IFeatureClass* vi3d, int32_t& spNumber,
                     int32_t& number3d, const Attributes& attrs, const RowValues& values, Cache* cache) {
    if (Find8211SubField(&record, "VE3D", firstField, 0) < 0) {
        logLine("importVI: no VE3D subfield found in record %d\n", int(node.recno));
        return 1;
    }
    NodePtr made = newNode(node.name, 3, kGrowPoints, kVI.alloc);
    if (!made) return -1;
    int32_t capacity = kGrowPoints;
    bool pointFailed = false;
    IPointCollectionPtr multipoint(CLSID_Multipoint);
    IPointPtr point(CLSID_Point);
    for (int f = firstField; f >= 0; f = Find8211Field(&record, "SG3D", f + 1)) {
        const Iso8211Field& field = record.fields[f];
        int iy = nextSubfield(field, "YCOO", 0);
        int ix = nextSubfield(field, "XCOO", 0);
        int iz = nextSubfield(field, "VE3D", 0);
        while (iy >= 0 && ix >= 0 && iz >= 0) {
            const double x = scaled(subfieldValue(record, f, ix), comf);
            const double y = scaled(subfieldValue(record, f, iy), comf);
            const double z = scaled(subfieldValue(record, f, iz), somf);
            point->PutCoords(x, y);
            point->PutZ(z);
            const HRESULT hr = insertRow(vi3dsp, point, spNumber, attrs, values, 1, z);
            if (FAILED(hr)) {
                logBoth(kVI.populate, int(node.recno), int(hr));
                pointFailed = true;
            } else {
                if (!ensureRoom(made->coords, capacity, made->num, 3, kVI.alloc)) return -1;
                double* at = made->coords + std::size_t(made->num) * 3;
                at[0] = x;
                at[1] = y;
                at[2] = z;
                ++made->num;
                multipoint->AddPoint(point);
            }
            iy = nextSubfield(field, "YCOO", iy + 1);
            ix = nextSubfield(field, "XCOO", ix + 1);
            iz = nextSubfield(field, "VE3D", iz + 1);
        }
    }
    // Not one sounding was written (each failure is logged): nothing to keep.
    if (made->num == 0) return 1;
    if (vi3d) {
        IGeometryPtr geometry(multipoint);
        const HRESULT hr = insertRow(vi3d, geometry, number3d, attrs, values, 0, 0.0);
        if (FAILED(hr)) {
            logBoth("importVI3D: record %d unable to populate attribute %d\n", int(node.recno), int(hr));
            return 1;
        }
    }
    shrinkTo(made->coords, made->num, 3);
    if (cache_add_vi(cache, made.get()) != 0) return -1;
    (void)made.release();
    return pointFailed ? 1 : 0;
}

// Puts the step progressor on position k of the cell's share, with a message of the string table.
void progressStep(int k, int message) {
    if (!stepProgressor) return;
    const int32_t count = cellCount > 0 ? cellCount : 1;
    stepProgressor->PutPosition(cellIndex * 100 / count + k / count);
    stepProgressor->Show();
    if (const char* text = stringText(message)) stepProgressor->PutMessage(text);
}

}  // namespace

int32_t importVI(IFeatureWorkspace* workspace, Iso8211File* file, llist* records, int32_t comf, int32_t somf,
                 Cache* cache, ISpatialReference* spatialReference, const char* cellName) {
    try {
        if (!workspace || !file || !cache || !cellName) return -19;
        comf = usableFactor(comf);
        somf = usableFactor(somf);
        auto* first = static_cast<ObjectRec*>(llist_current(records));
        if (!first) {
            logLine("%s", kVI.noRecord);
            return 0;
        }
        if (!isKind(first, "VI")) {
            logLine("%s", kVI.noSpatial);
            return 0;
        }
        Attributes attrs;
        if (const int rc = mapAttributes(kVI, attrs); rc != 0) {
            skipKind(records, "VI");
            return rc;
        }
        IFeatureClassPtr vi2d = primitiveClass(workspace, "vi2d", esriGeometryPoint, 0, attrs, spatialReference);
        if (!vi2d) {
            logLine("importVI, unable to create vi2d feature class\n");
            skipKind(records, "VI");
            return 1;
        }
        IFeatureClassPtr vi3dsp = primitiveClass(workspace, "vi3dsp", esriGeometryPoint, 1, attrs, spatialReference);
        if (!vi3dsp) {
            logLine("importVI: unable to create vi3dsp feature class\n");
            skipKind(records, "VI");
            return 1;
        }
        // Without vi3d the soundings still reach vi3dsp and the cache; the result says partial.
        IFeatureClassPtr vi3d =
            primitiveClass(workspace, "vi3d", esriGeometryMultipoint, 0, attrs, spatialReference);
        if (!vi3d) logLine("importVI: unable to create vi3d feature class\n");

        int32_t converted = 0;
        int32_t number2d = 0;
        int32_t numberSp = 0;
        int32_t number3d = 0;
        const int32_t rc = walkRecords(
            kVI, file, records, attrs, cellName, converted,
            [&](const ObjectRec& node, const Iso8211Record& record, const RowValues& values) -> int32_t {
                const int sg2d = Find8211Field(&record, "SG2D", 0);
                if (sg2d >= 0)
                    return importNode2D(kVI, node, record, sg2d, comf, vi2d, number2d, attrs, values, cache,
                                        cache_add_vi);
                const int sg3d = Find8211Field(&record, "SG3D", 0);
                if (sg3d < 0) {
                    logLine(kVI.noSG2D, int(node.recno));
                    return 1;
                }
                return importNode3D(node, record, sg3d, comf, somf, vi3dsp, vi3d, numberSp, number3d, attrs,
                                    values, cache);
            });
        if (rc != 0) return rc;
        logLine("converted %5d Isolated nodes\n", int(converted));
        cache_sort_vi(cache);
        return vi3d ? 0 : 1;
    } catch (const _com_error& e) {
        skipKind(records, "VI");
        logComError("importVI", e);
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        skipKind(records, "VI");
        logComError("importVI", _com_error(E_OUTOFMEMORY));
        return E_FAIL;
    }
}

int32_t importVC(IFeatureWorkspace* workspace, Iso8211File* file, llist* records, int32_t comf, Cache* cache,
                 ISpatialReference* spatialReference, const char* cellName) {
    try {
        if (!workspace || !file || !cache || !cellName) return -19;
        comf = usableFactor(comf);
        auto* first = static_cast<ObjectRec*>(llist_current(records));
        if (!first) {
            logLine("%s", kVC.noRecord);
            return 0;
        }
        if (!isKind(first, "VC")) {
            logLine("%s", kVC.noSpatial);
            return 0;
        }
        Attributes attrs;
        if (const int rc = mapAttributes(kVC, attrs); rc != 0) {
            skipKind(records, "VC");
            return rc;
        }
        IFeatureClassPtr vc = primitiveClass(workspace, "vc", esriGeometryPoint, 0, attrs, spatialReference);
        if (!vc) {
            logLine("importVC: unable to create vc feature class\n");
            skipKind(records, "VC");
            return 1;
        }
        int32_t converted = 0;
        int32_t number = 0;
        const int32_t rc = walkRecords(
            kVC, file, records, attrs, cellName, converted,
            [&](const ObjectRec& node, const Iso8211Record& record, const RowValues& values) -> int32_t {
                const int sg2d = Find8211Field(&record, "SG2D", 0);
                if (sg2d < 0) {
                    logLine(kVC.noSG2D, int(node.recno));
                    return 1;
                }
                return importNode2D(kVC, node, record, sg2d, comf, vc, number, attrs, values, cache, cache_add_vc);
            });
        if (rc != 0) return rc;
        logLine("converted %5d Connected nodes\n", int(converted));
        cache_sort_vc(cache);
        return 0;
    } catch (const _com_error& e) {
        skipKind(records, "VC");
        logComError("importVC", e);
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        skipKind(records, "VC");
        logComError("importVC", _com_error(E_OUTOFMEMORY));
        return E_FAIL;
    }
}

namespace {

// The edge of importVE after its srel rows: begin node, SG2D vertices, end node; one ve row.
int32_t importEdge(const ObjectRec& node, const Iso8211Record& record, const NodeObject& begin,
                   const NodeObject& end, int32_t comf, IFeatureClass* ve, int32_t& number, const Attributes& attrs,
                   const RowValues& values, Cache* cache) {
    const int sg2d = Find8211Field(&record, "SG2D", 0);
    if (sg2d >= 0) {
        if (!subfieldText(record, sg2d, "YCOO")) {
            logLine(kVE.noYCOO, int(node.recno));
            return 1;
        }
        if (!subfieldText(record, sg2d, "XCOO")) {
            logLine(kVE.noXCOO, int(node.recno));
            return 1;
        }
    }
    EdgePtr edge(static_cast<EdgeObject*>(std::calloc(1, sizeof(EdgeObject))));
    if (!edge) {
        logLine(kVE.alloc, int(sizeof(EdgeObject)));
        return -1;
    }
    int32_t capacity = kGrowPoints;
    edge->coords = static_cast<double*>(std::malloc(std::size_t(capacity) * 2 * sizeof(double)));
    if (!edge->coords) {
        logLine(kVE.alloc, int(std::size_t(capacity) * 2 * sizeof(double)));
        return -1;
    }
    std::snprintf(edge->name, sizeof edge->name, "%s", node.name);
    copyName(edge->beginNode, sizeof edge->beginNode, begin.name);
    copyName(edge->endNode, sizeof edge->endNode, end.name);

    IPointCollectionPtr line(CLSID_Polyline);
    auto add = [&](double x, double y) -> bool {
        if (!ensureRoom(edge->coords, capacity, edge->num, 2, kVE.alloc)) return false;
        edge->coords[std::size_t(edge->num) * 2] = x;
        edge->coords[std::size_t(edge->num) * 2 + 1] = y;
        ++edge->num;
        return true;
    };
    if (!add(begin.coords[0], begin.coords[1])) return -1;
    for (int f = sg2d; f >= 0; f = Find8211Field(&record, "SG2D", f + 1)) {
        const Iso8211Field& field = record.fields[f];
        int iy = nextSubfield(field, "YCOO", 0);
        int ix = nextSubfield(field, "XCOO", 0);
        while (iy >= 0 && ix >= 0) {
            if (!add(scaled(subfieldValue(record, f, ix), comf), scaled(subfieldValue(record, f, iy), comf)))
                return -1;
            iy = nextSubfield(field, "YCOO", iy + 1);
            ix = nextSubfield(field, "XCOO", ix + 1);
        }
    }
    if (!add(end.coords[0], end.coords[1])) return -1;
    // The line gets the edge's vertices in one call rather than a point object each.
    std::vector<WKSPoint> vertices(std::size_t(edge->num));
    for (std::size_t i = 0; i < vertices.size(); ++i) vertices[i] = {edge->coords[2 * i], edge->coords[2 * i + 1]};
    line->AddWKSPoints(LONG(vertices.size()), vertices.data());

    IGeometryPtr geometry(line);
    const HRESULT hr = insertRow(ve, geometry, number, attrs, values, 0, 0.0);
    if (FAILED(hr)) {
        logBoth(kVE.populate, int(node.recno), int(hr));
        return 1;
    }
    shrinkTo(edge->coords, edge->num, 2);
    if (cache_add_ve(cache, edge.get()) != 0) return -1;
    (void)edge.release();
    return 0;
}

}  // namespace

int32_t importVE(IFeatureWorkspace* workspace, Iso8211File* file, llist* records, int32_t comf, Cache* cache,
                 ITable* srel, ISpatialReference* spatialReference, const char* cellName) {
    try {
        if (!workspace || !file || !cache || !srel || !cellName) return -19;
        comf = usableFactor(comf);
        auto* first = static_cast<ObjectRec*>(llist_current(records));
        if (!first) {
            logLine("%s", kVE.noRecord);
            return 0;
        }
        if (!isKind(first, "VE")) {
            logLine("%s", kVE.noSpatial);
            return 0;
        }
        Attributes attrs;
        if (const int rc = mapAttributes(kVE, attrs); rc != 0) {
            skipKind(records, "VE");
            return rc;
        }
        IFeatureClassPtr ve = primitiveClass(workspace, "ve", esriGeometryPolyline, 0, attrs, spatialReference);
        if (!ve) {
            logLine("importVE: unable to create ve feature class\n");
            skipKind(records, "VE");
            return 1;
        }
        int32_t converted = 0;
        int32_t number = 0;
        RelationRows relations;
        const int32_t rc = walkRecords(
            kVE, file, records, attrs, cellName, converted,
            [&](const ObjectRec& node, const Iso8211Record& record, const RowValues& values) -> int32_t {
                const int vrpt = Find8211Field(&record, "VRPT", 0);
                if (vrpt < 0) {
                    logLine("importVE: record %d does not have field VRPT\n", int(node.recno));
                    return 1;
                }
                NodeObject* begin = nullptr;
                NodeObject* end = nullptr;
                for (int f = vrpt; f >= 0; f = Find8211Field(&record, "VRPT", f + 1)) {
                    int in = Find8211SubField(&record, "NAME", f, 0);
                    int it = Find8211SubField(&record, "TOPI", f, 0);
                    while (in >= 0 && it >= 0) {
                        const char* name = subfieldValue(record, f, in);
                        const char* topi = subfieldValue(record, f, it);
                        if (std::strcmp(topi, "1") == 0 || std::strcmp(topi, "B") == 0)
                            (void)cache_find_vc(cache, name, &begin);
                        else if (std::strcmp(topi, "2") == 0 || std::strcmp(topi, "E") == 0)
                            (void)cache_find_vc(cache, name, &end);
                        else
                            logLine("importVE: record %d unknown field VRPT , subfield TOPI value %s\n",
                                    int(node.recno), topi);
                        in = Find8211SubField(&record, "NAME", f, in + 1);
                        it = Find8211SubField(&record, "TOPI", f, it + 1);
                    }
                }
                if (!begin || !end) {
                    logLine("importVE: record %d , name %s\n", int(node.recno), node.name);
                    if (!begin) logLine(" unable to get begin node\n");
                    if (!end) logLine(" unable to get end node\n");
                    return 1;
                }
                const int srelRc = writeSrelTable(relations, srel, &record, 'V', node.lnam, node.name, cellName);
                if (srelRc == 1) logLine("importVE: unable to write %s 's VRPT field\n", node.name);
                else if (srelRc != 0) return srelRc;
                return importEdge(node, record, *begin, *end, comf, ve, number, attrs, values, cache);
            });
        if (rc != 0) return rc;
        logLine("converted %5d Edges\n", int(converted));
        cache_sort_ve(cache);
        return 0;
    } catch (const _com_error& e) {
        skipKind(records, "VE");
        logComError("importVE", e);
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        skipKind(records, "VE");
        logComError("importVE", _com_error(E_OUTOFMEMORY));
        return E_FAIL;
    }
}

int32_t importVector(IFeatureWorkspace* workspace, Iso8211File* file, llist* records, int32_t comf, int32_t somf,
                     ITable* srel, Cache* cache, ISpatialReference* spatialReference, const char* cellName) {
    try {
        if (!workspace || !file || !records || !srel || !cache || !cellName) return -19;
        if (comf < 1) {
            logLine("importVector: COMF %d is not a positive factor, 1 used\n", int(comf));
            comf = 1;
        }
        if (somf < 1) {
            logLine("importVector: SOMF %d is not a positive factor, 1 used\n", int(somf));
            somf = 1;
        }
        // The vectors follow every record the list sorts before them (metadata, DH, DA, VF and
        // records of other kinds), whether or not the cell has a DP record.
        constexpr int kFirstVectorRank = 110;
        auto* node = static_cast<ObjectRec*>(llist_first(records));
        while (node && recordKindRank(node->name) < kFirstVectorRank)
            node = static_cast<ObjectRec*>(llist_next(records));

        int32_t rc = importVI(workspace, file, records, comf, somf, cache, spatialReference, cellName);
        if (rc == 1) {
            logLine("importVector: fail to import all vi record, continue processing...\n");
        } else if (rc != 0) {
            logLine("importVector: fatal error occur when importing vi record. rc = %d\n", int(rc));
            return rc;
        }
        progressStep(25, 132);
        rc = importVC(workspace, file, records, comf, cache, spatialReference, cellName);
        if (rc == 1) {
            logLine("importVector: fail to import all vc record, continue processing...\n");
        } else if (rc != 0) {
            logLine("importVector: fatal error occur when importing vc record. rc = %d\n", int(rc));
            return rc;
        }
        progressStep(30, 133);
        rc = importVE(workspace, file, records, comf, cache, srel, spatialReference, cellName);
        if (rc == 1) logLine("importVector: fail to import all ve record, continue processing...\n");
        else if (rc != 0) return rc;
        return 0;
    } catch (const _com_error& e) {
        logComError("importVector", e);
        return E_FAIL;
    } catch (const std::bad_alloc&) {
        logComError("importVector", _com_error(E_OUTOFMEMORY));
        return E_FAIL;
    }
}
