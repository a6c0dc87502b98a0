// export/cell_extent.cpp: getExtent and checkOverlappingExtent (see cell_extent.h). The cell's
// coverage features are found by object id through table dsnm, their shapes are unioned into the
// two filters, and the data coverage is tested against every other coverage feature of the class.
// Every failure is E_FAIL with a log line; nothing is thrown to callers.

#include "export/cell_extent.h"

#include <cstdio>
#include <string>

#include "platform/geometry/geometry.h"
#include "s57/dbutil.h"
#include "s57/lookups.h"
#include "s57/s57_util2.h"

ISpatialFilterPtr cellCoverage;
ISpatialFilterPtr cellSpatialFilter;

namespace {

constexpr char kModule[] = "gdbs57main";
constexpr int32_t kOverlap = 8;

// The CATCOV value of a coverage feature; a feature without one counts as data coverage.
int32_t catcovOf(const _variant_t& value) {
    switch (value.vt) {
        case VT_NULL:
        case VT_EMPTY:
            return 1;
        case VT_BSTR: {
            const _bstr_t text(value);
            const char* s = static_cast<const char*>(text);
            return s && *s ? decimalInt32(s) : 1;
        }
        default:
            return static_cast<long>(value);
    }
}

ISpatialFilterPtr newFilter(IGeometry* geometry) {
    ISpatialFilterPtr filter(CLSID_SpatialFilter);
    if (!filter) _com_issue_error(E_OUTOFMEMORY);
    filter->PutGeometryField("SHAPE");
    filter->PutSpatialRel(esriSpatialRelIntersects);
    filter->PutRefGeometry(geometry);
    return filter;
}

IGeometryPtr unionOf(IGeometry* into, IGeometry* shape) {
    ITopologicalOperatorPtr op(into);
    if (!op) _com_issue_error(E_NOINTERFACE);
    return op->Union(shape);
}

IFeatureClassPtr coverageClass(IWorkspace* workspace, std::string* subtype, const char* function) {
    std::string className, subtypeName;
    if (checkFeatureClassName(className, subtypeName, "M_COVR", "A") != 0 || className.empty()) {
        logLine("%s: no feature class for M_COVR areas\n", function);
        return nullptr;
    }
    if (subtype) *subtype = subtypeName;
    IFeatureWorkspacePtr featureWorkspace(workspace);
    if (!featureWorkspace) _com_issue_error(E_NOINTERFACE);
    return featureWorkspace->OpenFeatureClass(className.c_str());
}

int32_t buildExtent(IWorkspace* workspace, const char* cellName) {
    IFeatureWorkspacePtr featureWorkspace(workspace);
    if (!featureWorkspace) _com_issue_error(E_NOINTERFACE);
    const std::string ids = cellCoverageIds(featureWorkspace, cellName);
    if (ids.empty()) {
        logLine("getExtent: cell %s has no rows in dsnm\n", cellName);
        return E_FAIL;
    }

    IFeatureClassPtr coverage = coverageClass(workspace, nullptr, "getExtent");
    if (!coverage) return E_FAIL;
    IQueryFilterPtr selection(CLSID_QueryFilter);
    selection->PutWhereClause(("OBJECTID IN (" + ids + ")").c_str());

    std::string catcovField;
    if (checkFeatureAttributeName(catcovField, "M_COVR", "A", "CATCOV") != 0 || catcovField.empty()) {
        logLine("getExtent: no field for CATCOV of M_COVR\n");
        return E_FAIL;
    }
    const LONG catcov = coverage->FindField(catcovField.c_str());
    if (catcov < 0) {
        logLine("getExtent: M_COVR has no field %s\n", catcovField.c_str());
        return E_FAIL;
    }

    IGeometryPtr all(CLSID_Polygon);
    IGeometryPtr data(CLSID_Polygon);
    if (!all || !data) _com_issue_error(E_OUTOFMEMORY);
    long features = 0;
    IFeatureCursorPtr cursor = coverage->Search(selection, VARIANT_FALSE);
    for (IFeaturePtr feature = cursor->NextFeature(); feature; feature = cursor->NextFeature()) {
        ++features;
        IGeometryPtr shape = feature->GetShape();
        if (!shape || shape->GetIsEmpty()) continue;
        all = unionOf(all, shape);
        if (catcovOf(feature->GetValue(catcov)) < 2) data = unionOf(data, shape);
    }
    if (features == 0) {
        logLine("getExtent: no M_COVR feature of cell %s is in the geodatabase\n", cellName);
        return E_FAIL;
    }

    cellCoverage = newFilter(data);
    cellSpatialFilter = newFilter(all);
    return checkOverlappingExtent(workspace, ids.c_str());
}

}  // namespace

std::string cellCoverageIds(IFeatureWorkspace* workspace, const char* cellName) {
    if (!workspace || !cellName) _com_issue_error(E_POINTER);
    ITablePtr dsnm = workspace->OpenTable("dsnm");
    const LONG metaid = dsnm->FindField("metaid");
    if (metaid < 0) _com_issue_error(E_INVALIDARG);
    IQueryFilterPtr filter(CLSID_QueryFilter);
    filter->PutWhereClause(("DSNM=" + sqlText(cellName)).c_str());
    std::string ids;
    ICursorPtr cursor = dsnm->Search(filter, VARIANT_FALSE);
    for (IRowPtr row = cursor->NextRow(); row; row = cursor->NextRow()) {
        const _variant_t value = row->GetValue(metaid);
        if (value.vt == VT_NULL || value.vt == VT_EMPTY) continue;
        char text[16];
        std::snprintf(text, sizeof text, "%d", int(static_cast<long>(value)));
        if (!ids.empty()) ids += ',';
        ids += text;
    }
    return ids;
}

int32_t getExtent(IWorkspace* workspace, const char* cellName) {
    cellCoverage = nullptr;
    cellSpatialFilter = nullptr;
    int32_t rc = E_FAIL;
    try {
        if (!workspace || !cellName) {
            logLine("getExtent: Illegal parameter\n");
            return E_FAIL;
        }
        rc = buildExtent(workspace, cellName);
    } catch (const _com_error& e) {
        logComErrorOf(kModule, "getExtent", e);
        rc = E_FAIL;
    } catch (const std::exception& e) {
        logLine("Error: %s::getExtent\n%s\n", kModule, e.what());
        rc = E_FAIL;
    }
    if (rc != 0 && rc != kOverlap) {
        cellCoverage = nullptr;
        cellSpatialFilter = nullptr;
    }
    return rc;
}

int32_t checkOverlappingExtent(IWorkspace* workspace, const char* objectIdList) {
    try {
        if (!workspace || !objectIdList || !*objectIdList || !cellCoverage) {
            logLine("checkOverlappingExtent: Illegal parameter\n");
            return E_FAIL;
        }
        std::string subtypeName;
        IFeatureClassPtr coverage = coverageClass(workspace, &subtypeName, "checkOverlappingExtent");
        if (!coverage) return E_FAIL;

        std::string where = "(OBJECTID NOT IN (" + std::string(objectIdList) + "))";
        ISubtypesPtr subtypes(coverage);
        if (subtypes && subtypes->GetHasSubtype()) {
            IEnumSubtypePtr codes = subtypes->GetSubtypes();
            LONG code = 0;
            bool found = false;
            for (_bstr_t name = codes->Next(&code); name.length() > 0; name = codes->Next(&code)) {
                if (compareNoCase(static_cast<const char*>(name), subtypeName.c_str()) == 0) {
                    found = true;
                    break;
                }
            }
            if (!found) {
                logLine("checkOverlappingExtent: no subtype %s in the M_COVR class\n", subtypeName.c_str());
                return E_FAIL;
            }
            where += " AND (" + std::string(static_cast<const char*>(subtypes->GetSubtypeFieldName())) + " = " +
                     std::to_string(code) + ")";
        }
        // The overlap is of interiors: coverages that only share a border do not overlap.
        cellCoverage->PutSpatialRelDescription("T********");
        cellCoverage->PutWhereClause(where.c_str());
        return coverage->FeatureCount(cellCoverage) > 0 ? kOverlap : 0;
    } catch (const _com_error& e) {
        logComErrorOf(kModule, "checkOverlappingExtent", e);
        return E_FAIL;
    } catch (const std::exception& e) {
        logLine("Error: %s::checkOverlappingExtent\n%s\n", kModule, e.what());
        return E_FAIL;
    }
}
