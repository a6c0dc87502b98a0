// import/impf.cpp: module impf, first half: the feature import of one cell. Point, line, area and
// collection records are taken from the sorted record list group by group (one object class each),
// each group into the feature class (or table) and subtype that the product mapping names, one row
// per record (per sounding for SOUNDG), with its frel and srel rows.
// A group that cannot be set up is logged and passed over; a record that cannot be built or written
// is logged and the import goes on; a record that cannot be read ends the cell. Whatever happens, an
// importer leaves the list past its own primitive, so the next one finds its records.

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "import/impf.h"
#include "import/impf_prefetch.h"
#include "s57/dbutil.h"
#include "s57/dimml.h"
#include "s57/lookups.h"
#include "s57/record_list.h"
#include "s57/relation_tables.h"
#include "s57/s57_file.h"
#include "s57/s57_util2.h"

namespace {

constexpr char kModule[] = "impf";

// Values longer than this go to atto as well as to their column.
constexpr std::size_t kOverflowLength = 70;
constexpr int32_t kCatcovCode = 18;

// The points of the areas built ahead of the one being written, about at most. More buys no
// time on a large cell (the writer rarely waits) and costs peak memory.
constexpr std::size_t kAreaPointsAhead = 32768;

void logComError(const char* function, const _com_error& e) { logComErrorOf(kModule, function, e); }

std::string_view fieldText(const char* s, std::size_t size) { return std::string_view(s, strnlen(s, size)); }

ObjectRec* current(llist* records) { return static_cast<ObjectRec*>(llist_current(records)); }

bool isFeature(const ObjectRec* rec) {
    const int rank = primRank(rec->prim);
    return rank >= 1 && std::strncmp(rec->name, "FE", 2) == 0;
}

bool samePrim(const ObjectRec* rec, const char* prim) { return fieldText(rec->prim, sizeof rec->prim) == prim; }

// Passes over feature records of earlier primitives left behind by an importer that stopped early.
void skipEarlier(llist* records, const char* prim) {
    const int rank = primRank(prim);
    for (ObjectRec* rec = current(records); rec && isFeature(rec) && primRank(rec->prim) < rank;
         rec = static_cast<ObjectRec*>(llist_next(records))) {
    }
}

// Leaves the list on the first node after the primitive's records.
void skipPrimitive(llist* records, const char* prim) {
    for (ObjectRec* rec = current(records); rec && samePrim(rec, prim);
         rec = static_cast<ObjectRec*>(llist_next(records))) {
    }
}

// Leaves the list on the first node after the group (same class text and primitive).
void skipGroup(llist* records, const std::string& classCode, const char* prim) {
    for (ObjectRec* rec = current(records);
         rec && samePrim(rec, prim) && fieldText(rec->objClass, sizeof rec->objClass) == classCode;
         rec = static_cast<ObjectRec*>(llist_next(records))) {
    }
}

// Position cellIndex*100/cellCount + k/cellCount of the run's progressor.
void setProgress(int32_t k) {
    if (!stepProgressor) return;
    const int32_t cells = cellCount > 0 ? cellCount : 1;
    stepProgressor->PutPosition(cellIndex * 100 / cells + k / cells);
    stepProgressor->Show();
}

void setProgressMessage(int id) {
    if (!stepProgressor) return;
    if (const char* message = stringText(id)) stepProgressor->PutMessage(_bstr_t(message));
}

// The class group's catalogue facts: acronym, set-A and set-B/C attribute indexes.
struct ClassGroup {
    std::string code;     // the class text of the records (a code or an acronym)
    std::string acronym;
    std::vector<int32_t> setA, setBC;
};

// Fills the group from the catalogue; false after the logged failure (the group is skipped).
bool lookupGroup(ClassGroup& g, const char* importer) {
    const bool numeric = !g.code.empty() && g.code[0] >= '0' && g.code[0] <= '9';
    int32_t objectCode = 0;
    if (numeric) {
        const char* acronym = nullptr;
        if (lookupObjAcronym(g.code.c_str(), &acronym) != 0 || !acronym) {
            logLine("%s: unable decode object label code %s\n", importer, g.code.c_str());
            return false;
        }
        g.acronym = acronym;
        objectCode = int32_t(std::strtol(g.code.c_str(), nullptr, 10));
    } else {
        g.acronym = g.code;
        if (lookupObjCode(g.code.c_str(), &objectCode) != 0) {
            logLine("%s: unable find set A attribute list for object code %s\n", importer, g.code.c_str());
            return false;
        }
    }
    int32_t room = 0;
    if (lookupClassPairCount(objectCode, &room) != 0) {
        logLine("%s: unable find set A attribute list for object code %s\n", importer, g.code.c_str());
        return false;
    }
    std::vector<int32_t> codes(std::size_t(room) + 1);
    int32_t count = 0;
    if (lookupSetAAttributes(objectCode, &count, codes.data()) != 0) {
        logLine("%s: unable find set A attribute list for object code %s\n", importer, g.code.c_str());
        return false;
    }
    // The attribute indexes of the codes found; `set` names the set in the log line.
    auto mapCodes = [&](const char* set, std::vector<int32_t>& indexes) {
        for (int32_t k = 0; k < count; ++k) {
            int32_t index = 0;
            if (lookupAttrIndex(codes[k], &index) != 0) {
                logLine("%s: fail to map set %s acode %d to aindex\n", importer, set, codes[k]);
                return false;
            }
            indexes.push_back(index);
        }
        return true;
    };
    if (!mapCodes("A", g.setA)) return false;
    if (lookupSetBCAttributes(objectCode, &count, codes.data()) != 0) {
        logLine("%s: unable find set BC attribute list for object code %s\n", importer, g.code.c_str());
        return false;
    }
    return mapCodes("B C", g.setBC);
}

// The code an ATTL value names: its decimal value, or the code of the acronym it spells.
int32_t attributeCode(const char* attl) {
    if (!attl || !attl[0]) return 0;
    if (attl[0] >= '0' && attl[0] <= '9') return int32_t(std::strtol(attl, nullptr, 10));
    int32_t code = 0;
    return lookupAttrCode(attl, &code) == 0 ? code : 0;
}

// The record's row values: FRID subfields and the attribute values of the class's two sets.
struct RowValues {
    const char* frid[7] = {};
    std::vector<const char*> setA, setBC;
    int32_t catcov = 0;
};

// An attribute outside the class's sets has no column: it is logged by the calling function's name.
void collectValues(const char* function, RowValues& v, const ObjectRec* node, const Iso8211Record* record,
                   int32_t setACount, const int32_t* setAIndexes, int32_t setBCCount,
                   const int32_t* setBCIndexes, ITable* atto, bool coverage) {
    const int frid = Find8211Field(record, "FRID", 0);
    for (int i = 0; i < 7 && frid >= 0; ++i) {
        const int s = Find8211SubField(record, fridFieldDefs[i].name, frid, 0);
        v.frid[i] = s < 0 ? nullptr : record->fields[frid].subFields[s].value;
    }
    v.setA.assign(std::size_t(setACount), nullptr);
    v.setBC.assign(std::size_t(setBCCount), nullptr);
    (void)initAttributeValues(setACount, v.setA.data());
    (void)initAttributeValues(setBCCount, v.setBC.data());
    const char* lnam = node ? node->lnam : "";
    for (const char* tag : {"ATTF", "NATF"}) {
        const bool national = tag[0] == 'N';
        for (int f = Find8211Field(record, tag, 0); f >= 0; f = Find8211Field(record, tag, f + 1)) {
            int nextLabel = 0, nextValue = 0;
            for (;;) {
                const int l = Find8211SubField(record, "ATTL", f, nextLabel);
                const int a = Find8211SubField(record, "ATVL", f, nextValue);
                if (l < 0 || a < 0) break;
                nextLabel = l + 1;
                nextValue = a + 1;
                const char* attl = record->fields[f].subFields[l].value;
                const char* atvl = record->fields[f].subFields[a].value;
                if (!attl || !atvl) continue;
                if (std::strlen(atvl) > kOverflowLength) writeOverflowTable(atto, lnam, attl, atvl);
                const int32_t code = attributeCode(attl);
                bool placed = false;
                for (int32_t k = 0; k < setACount; ++k) {
                    const int32_t i = setAIndexes[k];
                    if (i < 0 || i >= s57AttributeCount || s57Attributes[i].index != code) continue;
                    v.setA[std::size_t(k)] = atvl;
                    placed = true;
                    if (coverage && !national && code == kCatcovCode)
                        v.catcov = int32_t(std::strtol(atvl, nullptr, 10));
                }
                for (int32_t k = 0; k < setBCCount; ++k) {
                    const int32_t i = setBCIndexes[k];
                    if (i >= 0 && i < s57AttributeCount && s57Attributes[i].index == code) {
                        v.setBC[std::size_t(k)] = atvl;
                        placed = true;
                    }
                }
                if (!placed)
                    logLine("%s: %s attribute %s is not an attribute of its class, value %s not imported\n",
                            function, lnam, attl, atvl);
            }
        }
    }
}

// The code of the class's subtype of that name (case ignored); false when there is none.
bool subtypeCode(IFeatureClass* featureClass, const char* subtypeName, LONG* code, bool* hasField,
                 std::string* field) {
    ISubtypesPtr subtypes(featureClass);
    *hasField = subtypes && subtypes->GetHasSubtype() == VARIANT_TRUE;
    if (!*hasField) return false;
    *field = static_cast<const char*>(subtypes->GetSubtypeFieldName());
    IEnumSubtypePtr all = subtypes->GetSubtypes();
    for (;;) {
        LONG c = 0;
        _bstr_t name = all->Next(&c);
        if (name.length() == 0) return false;
        if (compareNoCase(static_cast<const char*>(name), subtypeName) == 0) {
            *code = c;
            return true;
        }
    }
}

// A group's subtype, looked up on its first row written: all rows of a group share class and subtype.
struct SubtypeChoice {
    bool resolved = false;
    bool found = false;
    bool hasField = false;
    LONG code = 0;
    std::string field;
};

// writeFeatureClass with the group's subtype choice (null: looked up for this row alone).
int writeFeatureRow(int32_t recordId, const ObjectRec* node, const Iso8211Record* record, int32_t setACount,
                    const int32_t* setAIndexes, int32_t setBCCount, const int32_t* setBCIndexes, IGeometry* geometry,
                    IFeatureClass* featureClass, ITable* atto, const char* subtypeName, SubtypeChoice* choice,
                    int zFlag, int coverageFlag, const char* acronym, const char* primitive, const char* cellName);

// ---- The geometry importers ---------------------------------------------------------------------

struct Kind {
    const char* prim;         // "FP"
    const char* letter;       // "P"
    const char* name;         // "importFP"
    const char* plural;       // "Points"
    int32_t progressBase;     // 40
    esriGeometryType geometry;
};

constexpr Kind kPoint{"FP", "P", "importFP", "Points", 40, esriGeometryPoint};
constexpr Kind kLine{"FL", "L", "importFL", "Lines", 60, esriGeometryPolyline};
constexpr Kind kArea{"FA", "A", "importFA", "Areas", 80, esriGeometryPolygon};

int32_t featureCount(const Kind& kind) {
    if (&kind == &kPoint) return pointFeatureCount;
    if (&kind == &kLine) return lineFeatureCount;
    return areaFeatureCount;
}

// The class columns a class made here gets: the names and FRID of the template's classes, so that
// nothing of a class that the product mapping does not list is lost.
std::vector<FieldDef> ownClassColumns() {
    std::vector<FieldDef> defs = {{1, "ID", "-1", 2, 4}, {2, "LNAM", "UNKNOWN", 1, 17}, {3, "NAME", "UNKNOWN", 1, 12}};
    for (const FieldDef& d : fridFieldDefs) defs.push_back(d);
    return defs;
}

using Ring = std::vector<std::pair<double, double>>;

// The rings of a polygon, each without its closing point, started at its smallest vertex and run in
// the direction of its smaller neighbour: equal for rings of the same vertices whatever their order
// and orientation.
std::vector<Ring> ringSet(IPolygon* polygon) {
    std::vector<Ring> rings;
    IGeometryCollectionPtr parts(polygon);
    IPointPtr p(CLSID_Point);
    for (LONG i = 0, n = parts->GetGeometryCount(); i < n; ++i) {
        IPointCollectionPtr points(parts->GetGeometry(i));
        Ring r;
        for (LONG k = 0, m = points->GetPointCount(); k < m; ++k) {
            points->QueryPoint(k, p);
            r.emplace_back(p->GetX(), p->GetY());
        }
        if (r.size() > 1 && r.front() == r.back()) r.pop_back();
        r.erase(std::unique(r.begin(), r.end()), r.end());
        if (r.size() < 3) continue;
        std::rotate(r.begin(), std::min_element(r.begin(), r.end()), r.end());
        if (r.back() < r[1]) std::reverse(r.begin() + 1, r.end());
        rings.push_back(std::move(r));
    }
    std::sort(rings.begin(), rings.end());
    return rings;
}

// The area as the geodatabase keeps it: rings nested and oriented (exterior clockwise). Where that
// would change the rings themselves (an area whose rings cross or touch, which the platform repairs
// into other rings), the rings stay as the cell gives them: nothing of the data is dropped or moved.
IGeometryPtr finishArea(const ObjectRec* rec, IPolygon* polygon) {
    IPolygonPtr simplified(IClonePtr(polygon)->Clone());
    ITopologicalOperatorPtr(simplified)->Simplify();
    // Turning and reordering rings keeps their counts; a repair seldom does, so only then are the
    // rings themselves compared.
    if (IGeometryCollectionPtr(simplified)->GetGeometryCount() == IGeometryCollectionPtr(polygon)->GetGeometryCount() &&
        IPointCollectionPtr(simplified)->GetPointCount() == IPointCollectionPtr(polygon)->GetPointCount())
        return simplified;
    if (ringSet(simplified) == ringSet(polygon)) return simplified;
    logLine("importFA: %s %s rings do not bound a valid area, kept as given\n", rec->lnam, rec->name);
    return polygon;
}

// One record's geometry; 0, 1 (logged by the builder) or a failure.
int buildGeometry(const Kind& kind, bool sounding, const ObjectRec* rec, const Iso8211Record* record, Cache* cache,
                  double depthLimit, IGeometryPtr& geometry) {
    if (&kind == &kPoint) {
        IPoint* point = nullptr;
        IMultipoint* multipoint = nullptr;
        const int rc = getFPPoint(rec, rec->name, record, sounding ? nullptr : &point, sounding ? &multipoint : nullptr,
                                  cache, depthLimit);
        if (point) geometry.Attach(point);
        if (multipoint) geometry.Attach(multipoint);
        return rc;
    }
    if (&kind == &kLine) {
        IPolylinePtr line(CLSID_Polyline);
        const int rc = getFLLine(rec, rec->name, record, line, cache);
        geometry = line;
        return rc;
    }
    IPolygonPtr polygon(CLSID_Polygon);
    const int rc = getFAArea(rec, rec->name, record, polygon, cache);
    geometry = polygon;
    if (rc == 0) geometry = finishArea(rec, polygon);
    return rc;
}

// prefetch: the geometries built ahead, or null.
int importGeometries(const Kind& kind, IFeatureWorkspace* workspace, Iso8211File* file, llist* records,
                     ITable* srel, ITable* atto, Cache* cache, ITable* frel, ISpatialReference* spatialReference,
                     const char* cellName, GeometryPrefetch* prefetch = nullptr) {
    const char* importer = kind.name;
    int result = 0;
    try {
        skipEarlier(records, kind.prim);
        if (!current(records)) {
            logLine("%s: no record found in object file\n", importer);
            return 0;
        }
        int32_t group = 0;
        bool partial = false;
        RelationRows relations;
        while (ObjectRec* first = current(records)) {
            if (!samePrim(first, kind.prim)) break;
            ++group;
            if (const int32_t n = featureCount(kind); n > 0) setProgress(group * 20 / n + kind.progressBase);

            ClassGroup g;
            g.code = std::string(fieldText(first->objClass, sizeof first->objClass));
            if (!lookupGroup(g, importer)) {
                skipGroup(records, g.code, kind.prim);
                continue;
            }
            char defaultName[80];
            if (addClassPrefix(g.acronym.c_str(), kind.prim, defaultName, sizeof defaultName) != 0) {
                logLine("%s: unable to determine shape file name , class %s, prim %s", importer, g.acronym.c_str(),
                        kind.prim);
                skipGroup(records, g.code, kind.prim);
                continue;
            }
            const bool sounding = &kind == &kPoint && g.acronym == "SOUNDG";
            const bool coverage = &kind == &kArea && compareNoCase(g.acronym.c_str(), "M_COVR") == 0;

            std::string className, subtype;
            (void)checkFeatureClassName(className, subtype, g.acronym.c_str(), kind.letter);
            // A class that the mapping does not list keeps its default name rather than being lost.
            const bool mapped = !className.empty();
            if (!mapped) className = defaultName;

            std::vector<FieldDef> columns = ownClassColumns();
            std::vector<int32_t> attributes = g.setA;
            attributes.insert(attributes.end(), g.setBC.begin(), g.setBC.end());
            IFeatureClassPtr featureClass;
            const HRESULT created =
                createFeatureClass(workspace, className.c_str(), kind.geometry, int(columns.size()), columns.data(),
                                   int(attributes.size()), attributes.data(), s57Attributes, sounding ? 1 : 0,
                                   &featureClass, spatialReference);
            if ((created != S_OK && created != GDB_E_NAME_EXISTS) || !featureClass) {
                logLine("%s: unable to find class for object code %s\n", importer, g.code.c_str());
                skipGroup(records, g.code, kind.prim);
                partial = true;
                continue;
            }

            double depthLimit = -std::numeric_limits<double>::infinity();
            if (sounding) {
                ISpatialReferencePtr reference = IGeoDatasetPtr(featureClass)->GetSpatialReference();
                if (reference) {
                    double zmin = 0, zmax = 0;
                    reference->GetZDomain(&zmin, &zmax);
                    if (!(zmin < 0.0)) {
                        char warning[128];
                        std::snprintf(warning, sizeof warning,
                                      "Warning! Your spatial reference for Z value is above sea level.\n");
                        logLine("%s\n", warning);
                        // Only the soundings cannot be stored: the other point classes still are.
                        skipGroup(records, g.code, kind.prim);
                        partial = true;
                        continue;
                    }
                    depthLimit = zmin;
                }
            }

            int32_t recordId = 1;
            SubtypeChoice choice;
            for (ObjectRec* rec = current(records);
                 rec && samePrim(rec, kind.prim) && fieldText(rec->objClass, sizeof rec->objClass) == g.code;
                 rec = static_cast<ObjectRec*>(llist_next(records))) {
                std::fprintf(stderr, "%s: %s %s %s %s\n", importer, g.acronym.c_str(), rec->lnam, rec->name,
                             className.c_str());
                std::unique_ptr<GeometryPrefetch::Prepared> prepared = prefetch ? prefetch->take(rec) : nullptr;
                RecordHolder image;
                const int read = readObjectRecord(file, rec->recno, &image.record);
                if (read != 0) {
                    logLine("%s: unable to read record %d\n", importer, rec->recno);
                    result = read;
                    skipPrimitive(records, kind.prim);
                    return result;
                }
                IGeometryPtr geometry;
                int rc = 0;
                if (prepared) {
                    logCaptured(prepared->log);
                    if (prepared->error) std::rethrow_exception(prepared->error);
                    geometry = std::move(prepared->geometry);
                    rc = prepared->result;
                } else {
                    rc = buildGeometry(kind, sounding, rec, &image.record, cache, depthLimit, geometry);
                }
                if (rc == 1) {
                    logLine("%s: unable to get %s 's geometry\n", importer, rec->name);
                    continue;
                }
                if (rc != 0) {
                    skipPrimitive(records, kind.prim);
                    return rc;
                }
                bool written = true;
                if (sounding) {
                    IPointCollectionPtr points(geometry);
                    const LONG n = points->GetPointCount();
                    for (LONG i = 0; i < n; ++i) {
                        IPointPtr point = points->GetPoint(i);
                        rc = writeFeatureRow(recordId, rec, &image.record, int32_t(g.setA.size()), g.setA.data(),
                                             int32_t(g.setBC.size()), g.setBC.data(), point, featureClass, atto,
                                             subtype.c_str(), &choice, 1, 0, g.acronym.c_str(), kind.letter, cellName);
                        if (rc == 1) written = false;
                        else if (rc != 0) break;
                    }
                } else {
                    rc = writeFeatureRow(recordId, rec, &image.record, int32_t(g.setA.size()), g.setA.data(),
                                         int32_t(g.setBC.size()), g.setBC.data(), geometry, featureClass, atto,
                                         subtype.c_str(), &choice, 0, coverage ? 1 : 0, g.acronym.c_str(), kind.letter,
                                         cellName);
                    if (rc == 1) written = false;
                }
                if (rc != 0 && rc != 1) {
                    skipPrimitive(records, kind.prim);
                    return rc;
                }
                if (!written) {
                    logLine("%s: unable to write %s 's feature class\n", importer, rec->name);
                    partial = true;
                }
                rc = writeCrelTable(relations, frel, &image.record, rec->lnam, cache, cellName);
                if (rc == 1) {
                    logLine("%s: unable to write %s 's FFPT field\n", importer, rec->name);
                } else if (rc != 0) {
                    skipPrimitive(records, kind.prim);
                    return rc;
                }
                rc = writeSrelTable(relations, srel, &image.record, 'F', rec->lnam, rec->name, cellName);
                if (rc == 1) {
                    logLine("%s: unable to write %s 's FSPT field\n", importer, rec->name);
                } else if (rc != 0) {
                    skipPrimitive(records, kind.prim);
                    return rc;
                }
                if (written) ++recordId;
            }
            logLine("converted %5d %s Feature %s to Feature Class %s subtype %s\n", recordId - 1, g.acronym.c_str(),
                    kind.plural, className.c_str(), subtype.c_str());
        }
        return partial ? 1 : 0;
    } catch (const _com_error& e) {
        logComError(importer, e);
        result = E_FAIL;
    } catch (const std::bad_alloc&) {
        logComError(importer, _com_error(E_OUTOFMEMORY));
        result = E_FAIL;
    }
    skipPrimitive(records, kind.prim);
    return result;
}

}  // namespace

int importFP(IFeatureWorkspace* workspace, Iso8211File* file, llist* records, ITable* srel, ITable* atto, Cache* cache,
             ITable* frel, ISpatialReference* spatialReference, const char* cellName) {
    return importGeometries(kPoint, workspace, file, records, srel, atto, cache, frel, spatialReference, cellName);
}

int importFL(IFeatureWorkspace* workspace, Iso8211File* file, llist* records, ITable* srel, ITable* atto, Cache* cache,
             ITable* frel, ISpatialReference* spatialReference, const char* cellName) {
    return importGeometries(kLine, workspace, file, records, srel, atto, cache, frel, spatialReference, cellName);
}

int importFA(IFeatureWorkspace* workspace, Iso8211File* file, llist* records, ITable* srel, ITable* atto, Cache* cache,
             ITable* frel, ISpatialReference* spatialReference, const char* cellName) {
    return importGeometries(kArea, workspace, file, records, srel, atto, cache, frel, spatialReference, cellName);
}

int importFX(IFeatureWorkspace* workspace, Iso8211File* file, llist* records, ITable* srel, ITable* atto, Cache* cache,
             ITable* frel, const char* cellName) {
    constexpr char importer[] = "importFX";
    constexpr char prim[] = "FX";
    int result = 0;
    try {
        skipEarlier(records, prim);
        if (!current(records)) {
            logLine("%s: no record found in object file\n", importer);
            return 0;
        }
        bool partial = false;
        RelationRows relations;
        while (ObjectRec* first = current(records)) {
            if (!samePrim(first, prim)) break;
            ClassGroup g;
            g.code = std::string(fieldText(first->objClass, sizeof first->objClass));
            if (!lookupGroup(g, importer)) {
                skipGroup(records, g.code, prim);
                continue;
            }
            ITablePtr table;
            if (!workspace || FAILED(workspace->raw_OpenTable(_bstr_t(g.acronym.c_str()).GetBSTR(), &table)) ||
                !table) {
                logLine("importFX: unable to find the table for object code %s\n", g.code.c_str());
                skipGroup(records, g.code, prim);
                partial = true;
                continue;
            }
            int32_t recordId = 1;
            for (ObjectRec* rec = current(records);
                 rec && samePrim(rec, prim) && fieldText(rec->objClass, sizeof rec->objClass) == g.code;
                 rec = static_cast<ObjectRec*>(llist_next(records))) {
                std::fprintf(stderr, "importFX: %s %s %s\n", g.acronym.c_str(), rec->lnam, rec->name);
                RecordHolder image;
                const int read = readObjectRecord(file, rec->recno, &image.record);
                if (read != 0) {
                    logLine("importFX: unable to read record %d\n", rec->recno);
                    skipPrimitive(records, prim);
                    return read;
                }
                int rc = writeFeatureTable(recordId, rec, &image.record, int32_t(g.setA.size()), g.setA.data(),
                                           int32_t(g.setBC.size()), g.setBC.data(), table, atto, g.acronym.c_str(),
                                           cellName);
                const bool written = rc == 0;
                if (rc == 1) {
                    logLine("importFX: unable to write %s 's attribute\n", rec->name);
                    partial = true;
                } else if (rc != 0) {
                    skipPrimitive(records, prim);
                    return rc;
                }
                rc = writeCrelTable(relations, frel, &image.record, rec->lnam, cache, cellName);
                if (rc == 1) {
                    logLine("importFX: unable to write %s 's FFPT field\n", rec->name);
                } else if (rc != 0) {
                    skipPrimitive(records, prim);
                    return rc;
                }
                rc = writeSrelTable(relations, srel, &image.record, 'F', rec->lnam, rec->name, cellName);
                if (rc == 1) {
                    logLine("importFX: unable to write %s 's FSPT field\n", rec->name);
                } else if (rc != 0) {
                    skipPrimitive(records, prim);
                    return rc;
                }
                if (written) ++recordId;
            }
            logLine("converted %5d %s Composite Feature\n", recordId - 1, g.acronym.c_str());
        }
        return partial ? 1 : 0;
    } catch (const _com_error& e) {
        logComError(importer, e);
        result = E_FAIL;
    } catch (const std::bad_alloc&) {
        logComError(importer, _com_error(E_OUTOFMEMORY));
        result = E_FAIL;
    }
    skipPrimitive(records, prim);
    return result;
}

int importFeature(IFeatureWorkspace* workspace, Iso8211File* file, llist* records, ITable* srel, Cache* cache,
                  int hasCollections, ISpatialReference* spatialReference, const char* cellName) {
    try {
        ITablePtr attr, atto, frel;
        HRESULT hr = createGDBTable(workspace, "attr", &attr, fieldDefCount(attrFieldDefs), attrFieldDefs);
        if ((hr != S_OK && hr != GDB_E_NAME_EXISTS) || !attr) {
            logLine("importFeature unable to create attr\n");
            return 1;
        }
        hr = createGDBTable(workspace, "atto", &atto, fieldDefCount(attoFieldDefs), attoFieldDefs);
        if ((hr != S_OK && hr != GDB_E_NAME_EXISTS) || !atto) {
            logLine("importFeature unable to create atto\n");
            return 1;
        }
        hr = createGDBTable(workspace, "frel", &frel, 6, frelFieldDefs);
        if ((hr != S_OK && hr != GDB_E_NAME_EXISTS) || !frel) {
            logLine("importFeature unable to create frel\n");
            return 1;
        }

        // The features are found by kind: where the vector import left the list is not relied on.
        ObjectRec* rec = current(records);
        if (!rec || !isFeature(rec)) {
            for (rec = static_cast<ObjectRec*>(llist_first(records)); rec && !isFeature(rec);
                 rec = static_cast<ObjectRec*>(llist_next(records))) {
            }
        }

        // The areas are built on other cores while the points and lines are written.
        // Without the memory for it, the writer builds them itself.
        std::optional<GeometryPrefetch> prefetch;
        try {
            std::vector<const ObjectRec*> areas;
            for (const llist_node* n = records->current; n; n = n->next)
                if (const auto* r = static_cast<const ObjectRec*>(n->data); samePrim(r, kArea.prim)) areas.push_back(r);
            if (const unsigned threads = GeometryPrefetch::threadsFor(areas.size()); threads > 0)
                prefetch.emplace(file, std::move(areas),
                                 [cache](const ObjectRec* r, const Iso8211Record* record, IGeometryPtr& geometry) {
                                     return buildGeometry(kArea, false, r, record, cache,
                                                          -std::numeric_limits<double>::infinity(), geometry);
                                 },
                                 threads, kAreaPointsAhead);
        } catch (const std::bad_alloc&) {
            prefetch.reset();
        }

        struct Step {
            int progress, message;
            const char* what;
        };
        const Step steps[] = {{40, 134, "point"}, {60, 135, "line"}, {80, 136, "area"}, {0, 0, "composite"}};
        for (const Step& step : steps) {
            int rc = 0;
            if (step.message) {
                setProgress(step.progress);
                setProgressMessage(step.message);
            }
            if (step.progress == 40) rc = importFP(workspace, file, records, srel, atto, cache, frel, spatialReference, cellName);
            else if (step.progress == 60) rc = importFL(workspace, file, records, srel, atto, cache, frel, spatialReference, cellName);
            else if (step.progress == 80)
                rc = importGeometries(kArea, workspace, file, records, srel, atto, cache, frel, spatialReference,
                                      cellName, prefetch ? &*prefetch : nullptr);
            else if (hasCollections) rc = importFX(workspace, file, records, srel, atto, cache, frel, cellName);
            if (rc == 1) {
                logLine("importFeature: fail to import all feature %s record, continue processing...\n", step.what);
            } else if (rc != 0) {
                logLine("importFeature: fatal error occur when importing feature %s record. rc = %d\n", step.what, rc);
                return rc;
            }
        }
        return 0;
    } catch (const _com_error& e) {
        logComError("importFeature", e);
    } catch (const std::bad_alloc&) {
        logComError("importFeature", _com_error(E_OUTOFMEMORY));
    }
    return E_FAIL;
}

// ---- Rows -----------------------------------------------------------------------------------------

int writeFeatureClass(int32_t recordId, const ObjectRec* node, const Iso8211Record* record, int32_t setACount,
                      const int32_t* setAIndexes, int32_t setBCCount, const int32_t* setBCIndexes, IGeometry* geometry,
                      IFeatureClass* featureClass, ITable* atto, const char* subtypeName, int zFlag, int coverageFlag,
                      const char* acronym, const char* primitive, const char* cellName) {
    return writeFeatureRow(recordId, node, record, setACount, setAIndexes, setBCCount, setBCIndexes, geometry,
                           featureClass, atto, subtypeName, nullptr, zFlag, coverageFlag, acronym, primitive, cellName);
}

namespace {

int writeFeatureRow(int32_t recordId, const ObjectRec* node, const Iso8211Record* record, int32_t setACount,
                    const int32_t* setAIndexes, int32_t setBCCount, const int32_t* setBCIndexes, IGeometry* geometry,
                    IFeatureClass* featureClass, ITable* atto, const char* subtypeName, SubtypeChoice* choice,
                    int zFlag, int coverageFlag, const char* acronym, const char* primitive, const char* cellName) {
    try {
        if (!node || !record || !featureClass) return 1;
        acronym = acronym ? acronym : "";
        RowValues v;
        collectValues("writeFeatureClass", v, node, record, setACount, setAIndexes, setBCCount, setBCIndexes,
                      atto, coverageFlag != 0);

        char line[512];
        IFeatureCursorPtr cursor;
        HRESULT hr = featureClass->raw_Insert(VARIANT_TRUE, &cursor);
        if (FAILED(hr) || !cursor) {
            std::snprintf(line, sizeof line, "Error %d:Error on inserting feature %s into feature class", int(hr),
                          acronym);
            logLine("%s\n", line);
            return 1;
        }
        IFeatureBufferPtr buffer;
        hr = featureClass->raw_CreateFeatureBuffer(&buffer);
        if (FAILED(hr) || !buffer) {
            std::snprintf(line, sizeof line, "Error %d:Error on create feature buffer when coverting %s", int(hr),
                          acronym);
            logLine("%s\n", line);
            return 1;
        }
        if (zFlag && geometry) {
            if (IPointPtr point = IPointPtr(geometry)) (void)SetRecordValue(buffer, "DEPTH", _variant_t(point->GetZ()));
            if (IZAwarePtr aware = IZAwarePtr(geometry)) aware->PutZAware(VARIANT_TRUE);
        }
        if (geometry) {
            hr = buffer->putref_Shape(geometry);
            if (FAILED(hr)) {
                std::snprintf(line, sizeof line,
                              "Error %d:Error on inserting feature buffer when converting %s in %s. Check field "
                              "definitions.",
                              int(hr), node->name, acronym);
                logLine("%s\n", line);
                return 1;
            }
        }
        writeSetA_Table(buffer, recordId, node->lnam, node->name, v.frid, setACount, setAIndexes, v.setA.data(),
                        acronym, primitive);
        writeSetBC_Table(buffer, setBCCount, setBCIndexes, v.setBC.data(), acronym, primitive);

        if (subtypeName && subtypeName[0]) {
            SubtypeChoice own;
            SubtypeChoice& c = choice ? *choice : own;
            if (!c.resolved) {
                c.found = subtypeCode(featureClass, subtypeName, &c.code, &c.hasField, &c.field);
                c.resolved = true;
            }
            const LONG code = c.code;
            const bool hasField = c.hasField;
            const bool found = c.found;
            const std::string& field = c.field;
            if (hasField) {
                if (!found) {
                    std::snprintf(line, sizeof line,
                                  "Error %d:Error on finding subtype in Geodatabase when converting %s in %s. Check "
                                  "field definitions.",
                                  -1, node->name, acronym);
                    logLine("%s\n", line);
                    return 1;
                }
                (void)SetRecordValue(buffer, field.c_str(), _variant_t(int32_t(code)));
            }
        }

        _variant_t oid;
        hr = cursor->raw_InsertFeature(buffer, &oid);
        // Every failed insert is a row that is not there: it is reported, never counted as written.
        if (FAILED(hr)) {
            std::snprintf(line, sizeof line,
                          "Error %d:Error on inserting feature buffer when converting %s in %s. Check field "
                          "definitions.",
                          int(hr), node->name, acronym);
            logLine("%s\n", line);
            return 1;
        }
        (void)cursor->raw_Flush();
        if (coverageFlag) {
            IWorkspacePtr workspace = IDatasetPtr(featureClass)->GetWorkspace();
            int32_t metaid = 0;
            if (oid.vt == VT_I4) metaid = oid.lVal;
            (void)addCoverage(workspace, cellName, v.catcov, metaid);
        }
        return 0;
    } catch (const _com_error& e) {
        logComError("writeFeatureClass", e);
    } catch (const std::bad_alloc&) {
        logComError("writeFeatureClass", _com_error(E_OUTOFMEMORY));
    }
    return E_FAIL;
}

}  // namespace

int writeFeatureTable(int32_t recordId, const ObjectRec* node, const Iso8211Record* record, int32_t setACount,
                      const int32_t* setAIndexes, int32_t setBCCount, const int32_t* setBCIndexes, ITable* table,
                      ITable* atto, const char* acronym, const char* cellName) {
    try {
        if (!node || !record || !table) return 1;
        acronym = acronym ? acronym : "";
        RowValues v;
        collectValues("writeFeatureTable", v, node, record, setACount, setAIndexes, setBCCount, setBCIndexes,
                      atto, false);
        IRowBufferPtr buffer = table->CreateRowBuffer();
        ICursorPtr cursor = table->Insert(VARIANT_TRUE);
        writeSetA_FeatureTable(buffer, recordId, node->lnam, node->name, cellName, v.frid, setACount, setAIndexes,
                               v.setA.data(), acronym);
        writeSetBC_FeatureTable(buffer, setBCCount, setBCIndexes, v.setBC.data(), acronym, "");
        _variant_t oid;
        const HRESULT hr = cursor->raw_InsertRow(buffer, &oid);
        if (FAILED(hr)) {
            logLine("writeFeatureTable: Error %d:Error on inserting row when converting %s in %s\n", int(hr),
                    node->name, acronym);
            return 1;
        }
        (void)cursor->raw_Flush();
        return 0;
    } catch (const _com_error& e) {
        logComError("writeFeatureTable", e);
    } catch (const std::bad_alloc&) {
        logComError("writeFeatureTable", _com_error(E_OUTOFMEMORY));
    }
    return E_FAIL;
}

int addCoverage(IWorkspace* workspace, const char* cellName, int32_t catcov, int32_t metaid) {
    try {
        IFeatureWorkspacePtr features(workspace);
        ITablePtr table;
        HRESULT hr = getDSNMTable(features, &table);
        if (FAILED(hr) || !table) return FAILED(hr) ? hr : E_FAIL;
        IRowBufferPtr buffer = table->CreateRowBuffer();
        ICursorPtr cursor = table->Insert(VARIANT_TRUE);
        (void)SetRecordValue(buffer, "DSNM", _variant_t(cellName ? cellName : ""));
        (void)SetRecordValue(buffer, "CATCOV", _variant_t(catcov));
        (void)SetRecordValue(buffer, "METAID", _variant_t(metaid));
        _variant_t oid;
        hr = cursor->raw_InsertRow(buffer, &oid);
        if (FAILED(hr)) {
            logLine("addCoverage: unable to add cell %s to dsnm, result %d\n", cellName ? cellName : "", int(hr));
            return hr;
        }
        (void)cursor->raw_Flush();
        return 0;
    } catch (const _com_error& e) {
        logComError("addCoverage", e);
    } catch (const std::bad_alloc&) {
        logComError("addCoverage", _com_error(E_OUTOFMEMORY));
    }
    return E_FAIL;
}
