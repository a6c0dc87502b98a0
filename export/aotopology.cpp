// export/aotopology.cpp: module aoTopology (see aotopology.h): the step itself, the names of unnamed
// features, the clean-up of the cell's old primitives and the relation table. The edges, nodes and
// point primitives made from the topology are in aotopology_build.cpp.

#include "export/aotopology.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "export/aotopology_support.h"
#include "export/cell_extent.h"
#include "export/expf.h"
#include "export/exptext.h"
#include "export/srel_list.h"
#include "platform/topology/topology.h"
#include "platform/ui/ui.h"
#include "s57/dbutil.h"
#include "s57/dimml.h"
#include "s57/field_utils.h"
#include "s57/lookups.h"
#include "s57/s57_util2.h"

using namespace aotopology;

aotopology::InCellMemo* aotopology::inCellMemo = nullptr;
aotopology::FeatureFactsMemo* aotopology::featureFacts = nullptr;

namespace {

// The verdicts of the last rebuild and its cell, kept (out of the module's own tests' reach) for
// the export of that cell's features.
InCellMemo rebuildMemo;
std::string rebuildMemoCell;
bool rebuildMemoKept = false;

void dropRebuildMemo() {
    inCellMemo = nullptr;
    rebuildMemo.clear();
    rebuildMemoCell.clear();
    rebuildMemoKept = false;
}

std::string textOf(IRow* row, LONG index) {
    const _variant_t value = row->GetValue(index);
    if (value.vt == VT_NULL || value.vt == VT_EMPTY) return {};
    return static_cast<const char*>(_bstr_t(value));
}

// Moves the progress to step k of the cell with the message of string `id`.
void progress(int k, int id) {
    if (!stepProgressor) return;
    stepProgressor->PutPosition(LONG(cellIndex * 100 / cellCount + k / cellCount));
    const char* message = stringText(id);
    stepProgressor->PutMessage(_bstr_t(message ? message : ""));
}

HRESULT buildTopology(IWorkspace* workspace, const char* featureDataset, const char* cellName, double* tolerance) {
    IFeatureWorkspacePtr featureWorkspace(workspace);
    if (!featureWorkspace || !featureDataset) return E_FAIL;
    IFeatureDatasetPtr dataset = featureWorkspace->OpenFeatureDataset(featureDataset);
    ITopologyContainerPtr container(dataset);
    if (!container || container->GetTopologyCount() <= 0) return E_FAIL;
    ITopologyPtr topology = container->GetTopology(0);
    if (!topology) return E_FAIL;

    if (CheckSoundingInTopology(workspace) != S_OK) {
        displayMessage(161, kCaptionGdbToS57, "");
        return E_FAIL;
    }
    if (!cellSpatialFilter || !cellCoverage) {
        logLine("validateTopology: the extent of cell %s is not built\n", cellName);
        return E_FAIL;
    }

    // The verdicts stay for the export of the cell's features when the rebuild succeeds.
    dropRebuildMemo();
    rebuildMemoCell = cellName;
    inCellMemo = &rebuildMemo;
    struct ResetMemo {
        bool keep = false;
        ~ResetMemo() {
            if (!keep) dropRebuildMemo();
            inCellMemo = nullptr;
            rebuildMemoKept = keep;
        }
    } resetMemo;
    FeatureFactsMemo facts;
    featureFacts = &facts;
    struct ResetFacts {
        ~ResetFacts() { featureFacts = nullptr; }
    } resetFacts;

    // The topology's graph is built while the features are named and the old primitives go:
    // neither touches the shapes or rows of the topology's classes. Whatever fails here fails
    // again, in its place, at the build below.
    try {
        if (IGeometryPtr area = cellSpatialFilter->GetGeometry()) {
            IEnvelopePtr envelope = area->GetEnvelope();
            envelope->Expand(envelope->GetWidth() / 100, envelope->GetHeight() / 100, VARIANT_FALSE);
            (void)beginTopologyGraphBuild(topology->GetCache(), envelope);
        }
    } catch (const _com_error&) {
    }

    progress(8, 154);
    if (updateFENum(workspace, cellName, dataset) != S_OK) return E_FAIL;
    progress(12, 156);
    if (cleanUpData(workspace, cellName) != S_OK) return E_FAIL;

    IGeometryPtr metaArea = cellSpatialFilter->GetGeometry();
    IGeometryPtr dataArea = cellCoverage->GetGeometry();
    if (!metaArea) return E_FAIL;
    IEnvelopePtr envelope = metaArea->GetEnvelope();
    envelope->Expand(envelope->GetWidth() / 100, envelope->GetHeight() / 100, VARIANT_FALSE);
    progress(15, 155);
    // While the graph is finished aside, the soundings and the feature export's rows are read.
    SoundingsAhead soundings;
    soundingsAhead = &soundings;
    struct EndSoundings {
        ~EndSoundings() { soundingsAhead = nullptr; }
    } endSoundings;
    readSoundingsAhead(workspace);
    readFeatureRowsAhead(workspace, featureDataset, cellName);
    ITopologyGraphPtr cache = topology->GetCache();
    cache->Build(envelope, VARIANT_FALSE);
    const double clusterTolerance = topology->GetClusterTolerance();

    progress(20, 157);
    if (getTopoEdge(workspace, metaArea, dataArea, cache, clusterTolerance, cellName) != S_OK) return E_FAIL;
    // The vector export leaves out the vertices of an edge nearer than the tolerance to the line
    // between their neighbours. After the rebuild that would lose coordinates of the features and
    // can lay an edge onto another between the same nodes (a sliver of a few centimetres): the
    // rebuilt edges are written as they were built.
    if (tolerance) *tolerance = 0;
    progress(40, 158);
    if (getPointPrimitives(workspace, dataset, cellName) != S_OK) return E_FAIL;
    progress(45, 159);
    if (updateSrelTable(workspace, cellName) != S_OK) return E_FAIL;
    resetMemo.keep = true;
    return S_OK;
}

// Keeps what the naming read of a feature for the rebuild's edges (featureFacts).
void remember(IFeature* feature, const std::string& className, const std::string& name, LONG lnamIndex,
              int32_t code, esriGeometryType type) {
    FeatureFacts& f = (*featureFacts)[{className, feature->GetOID()}];
    f.name = name;
    f.lnam = lnamIndex >= 0 ? textOf(IRowPtr(feature), lnamIndex) : std::string();
    f.code = code;
    f.line = type == esriGeometryPolyline ? feature->GetShape() : nullptr;
}

// The cell's features of one class for updateFENum: the rows the where clause selects among those
// meeting the cell's whole coverage, with their object codes.
struct ClassCount {
    int32_t highest = 0, geo = 0, meta = 0;
};

}  // namespace

HRESULT validateTopology(IWorkspace* workspace, const char* featureDataset, const char* /*agency*/,
                         const char* cellName, double* tolerance, unsigned char createTopology) {
    dropRebuildMemo();
    try {
        if (!workspace || !cellName) {
            logLine("validateTopology: Illegal parameter\n");
            return E_FAIL;
        }
        if (createTopology) return buildTopology(workspace, featureDataset, cellName, tolerance);
        // Stored primitives are written as they are: no vertex is generalised away.
        if (tolerance) *tolerance = 0;
        return readSrelTable(workspace, cellName);
    } catch (const _com_error& e) {
        logComErrorOf(kModule, "validateTopology", e);
        return E_FAIL;
    }
}

const InCellMemo* aotopology::rebuildVerdicts(const char* cellName) {
    return rebuildMemoKept && cellName && rebuildMemoCell == cellName ? &rebuildMemo : nullptr;
}

void aotopology::endRebuildVerdicts() { dropRebuildMemo(); }

HRESULT CheckSoundingInTopology(IWorkspace* workspace) {
    try {
        std::string className, subtype;
        if (checkFeatureClassName(className, subtype, "SOUNDG", "P") != 0 || className.empty()) return E_FAIL;
        IFeatureWorkspacePtr featureWorkspace(workspace);
        if (!featureWorkspace) return E_FAIL;
        IFeatureClassPtr soundings = featureWorkspace->OpenFeatureClass(className.c_str());
        ITopologyClassPtr member(soundings);
        if (!member) return E_FAIL;
        return member->GetIsInTopology() ? E_FAIL : S_OK;
    } catch (const _com_error& e) {
        logComErrorOf(kModule, "CheckSoundingInTopology", e);
        return E_FAIL;
    }
}

int32_t checkS57Object(IFeature* feature, IFeatureClass* featureClass) {
    try {
        if (!feature || !featureClass) return -1;
        const std::string className = static_cast<const char*>(featureClass->GetAliasName());
        ISubtypesPtr subtypes(featureClass);
        std::string subtypeName = className;
        if (subtypes && subtypes->GetHasSubtype() == VARIANT_TRUE) {
            const LONG index = subtypes->GetSubtypeFieldIndex();
            const _variant_t value = feature->GetValue(index);
            LONG code = value.vt == VT_NULL || value.vt == VT_EMPTY ? 0 : LONG(static_cast<double>(value));
            if (code > 1000) code = 0;
            bool found = false;
            IEnumSubtypePtr all = subtypes->GetSubtypes();
            for (;;) {
                LONG c = 0;
                const _bstr_t name = all->Next(&c);
                if (name.length() == 0) break;
                if (c == code) {
                    subtypeName = static_cast<const char*>(name);
                    found = true;
                    break;
                }
            }
            if (!found) return -1;
        }
        const std::string acronym = findS57Object(className.c_str(), subtypeName.c_str());
        if (acronym.empty()) return -1;
        return findS57ObjectCode(acronym.c_str());
    } catch (const _com_error& e) {
        logComErrorOf(kModule, "checkS57Object", e);
        return -1;
    }
}

HRESULT updateFENum(IWorkspace* workspace, const char* cellName, IFeatureDataset* dataset) {
    try {
        IFeatureWorkspacePtr featureWorkspace(workspace);
        IFeatureClassContainerPtr container(dataset);
        if (!featureWorkspace || !container || !cellSpatialFilter || !cellCoverage) return E_FAIL;
        CellTest inCell(cellSpatialFilter->GetGeometry(), cellCoverage->GetGeometry());
        ClassCount count;
        const LONG classes = container->GetClassCount();
        std::vector<IFeatureClassPtr> opened;  // each class opened once for both passes
        for (LONG c = 0; c < classes; ++c) opened.push_back(container->GetClass(c));

        // Pass 1: the numbers in use and the named features (one count per name).
        for (const IFeatureClassPtr& featureClass : opened) {
            if (!featureClass) continue;
            // Every feature in the cell lies within the whole coverage: the containment test below
            // decides, without the search testing each shape first.
            IQueryFilterPtr filter(CLSID_QueryFilter);
            filter->PutWhereClause("NAME IS NOT NULL");
            const LONG nameIndex = featureClass->FindField("NAME");
            IFeatureCursorPtr cursor = featureClass->Search(filter, VARIANT_FALSE);
            if (nameIndex < 0) _com_issue_error(E_FAIL);
            std::vector<std::pair<std::string, IFeaturePtr>> rows;
            for (IFeaturePtr f = cursor->NextFeature(); f; f = cursor->NextFeature())
                rows.emplace_back(textOf(IRowPtr(f), nameIndex), f);
            std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
            const esriGeometryType type = featureClass->GetShapeType();
            const std::string className = static_cast<const char*>(IDatasetPtr(featureClass)->GetName());
            const LONG lnamIndex = featureClass->FindField("LNAM");
            std::string previous = "xx";
            for (const auto& [name, feature] : rows) {
                const int32_t code = inCell.codeOf(feature, featureClass);
                if (code < 0) return E_FAIL;
                if (featureFacts) remember(feature, className, name, lnamIndex, code, type);
                // A part of the feature counted already is passed over whether it lies in the cell
                // or not: no need to test its shape.
                if (name == previous) continue;
                if (!inCellOnce(inCell, className, feature->GetOID(), feature->GetShape(), type, isMetaCode(code))) continue;
                const std::string rest = name.size() > 2 ? name.substr(2) : std::string();
                const int32_t number = int32_t(std::atoi(rest.c_str()));
                count.highest = std::max(count.highest, number);
                (isMetaCode(code) ? count.meta : count.geo)++;
                previous = "FE" + rest;
            }
        }

        // Pass 2: the unnamed features take the next numbers.
        for (const IFeatureClassPtr& featureClass : opened) {
            if (!featureClass) continue;
            IQueryFilterPtr filter(CLSID_QueryFilter);
            filter->PutWhereClause("NAME IS NULL OR NAME = ''");
            const LONG nameIndex = featureClass->FindField("NAME");
            IFeatureCursorPtr cursor = featureClass->Update(filter, VARIANT_FALSE);
            if (nameIndex < 0) _com_issue_error(E_FAIL);
            const esriGeometryType type = featureClass->GetShapeType();
            const std::string className = static_cast<const char*>(IDatasetPtr(featureClass)->GetName());
            const LONG lnamIndex = featureClass->FindField("LNAM");
            for (IFeaturePtr feature = cursor->NextFeature(); feature; feature = cursor->NextFeature()) {
                const int32_t code = inCell.codeOf(feature, featureClass);
                if (code < 0) return E_FAIL;
                if (!inCellOnce(inCell, className, feature->GetOID(), feature->GetShape(), type, isMetaCode(code))) {
                    if (featureFacts) remember(feature, className, textOf(IRowPtr(feature), nameIndex), lnamIndex, code, type);
                    continue;
                }
                ++count.highest;
                (isMetaCode(code) ? count.meta : count.geo)++;
                const std::string name = generatedName("FE", count.highest);
                feature->PutValue(nameIndex, _variant_t(name.c_str()));
                cursor->UpdateFeature(feature);
                if (featureFacts) remember(feature, className, name, lnamIndex, code, type);
            }
        }
        if (populateDSSI(featureWorkspace, "NOGR", count.geo, cellName) != S_OK) return E_FAIL;
        if (populateDSSI(featureWorkspace, "NOMR", count.meta, cellName) != S_OK) return E_FAIL;
        return S_OK;
    } catch (const _com_error& e) {
        logComErrorOf(kModule, "updateFENum", e);
        const _bstr_t description = e.Description();
        const char* text = description.length() ? static_cast<const char*>(description) : e.ErrorMessage();
        MessageBoxA(nullptr, text, "GIS", MB_OK);
        return E_FAIL;
    }
}

HRESULT cleanUpData(IWorkspace* workspace, const char* cellName) {
    try {
        if (createPrimitiveTable(workspace) != S_OK) return E_FAIL;
        IFeatureWorkspacePtr featureWorkspace(workspace);
        if (!featureWorkspace) return E_FAIL;
        for (const char* name : {"VE", "VC", "VI3DSP", "VI2D", "VI3D"}) {
            IFeatureClass* raw = nullptr;
            if (FAILED(featureWorkspace->raw_OpenFeatureClass(_bstr_t(name).GetBSTR(), &raw)) || !raw) return E_FAIL;
            IFeatureClassPtr featureClass;
            featureClass.Attach(raw);
            if (cleanUpFeatures(featureClass, cellName) != S_OK) return E_FAIL;
        }
        ITable* raw = nullptr;
        if (FAILED(featureWorkspace->raw_OpenTable(_bstr_t("SREL").GetBSTR(), &raw)) || !raw) return E_FAIL;
        ITablePtr srel;
        srel.Attach(raw);
        return cleanUpRows(srel, cellName) == S_OK ? S_OK : E_FAIL;
    } catch (const _com_error& e) {
        logComErrorOf(kModule, "cleanUpData", e);
        return E_FAIL;
    }
}

HRESULT cleanUpFeatures(IFeatureClass* featureClass, const char* cellName) {
    try {
        if (!featureClass || !cellName) return E_FAIL;
        IQueryFilterPtr filter(CLSID_QueryFilter);
        filter->PutWhereClause(("DSNM = " + sqlText(cellName)).c_str());
        return ITablePtr(featureClass)->DeleteSearchedRows(filter);
    } catch (const _com_error& e) {
        logComErrorOf(kModule, "cleanUpFeatures", e);
        return E_FAIL;
    }
}

HRESULT cleanUpRows(ITable* table, const char* cellName) {
    try {
        if (!table || !cellName) return E_FAIL;
        IQueryFilterPtr filter(CLSID_QueryFilter);
        filter->PutWhereClause(("DSNM = " + sqlText(cellName)).c_str());
        return table->DeleteSearchedRows(filter);
    } catch (const _com_error& e) {
        logComErrorOf(kModule, "cleanUpRows", e);
        return E_FAIL;
    }
}

HRESULT createPrimitiveTable(IWorkspace* workspace) {
    try {
        IFeatureWorkspacePtr featureWorkspace(workspace);
        if (!featureWorkspace) return E_FAIL;
        int32_t index[3];
        const int32_t codes[3] = {400, 401, 402};
        for (int i = 0; i < 3; ++i) {
            if (lookupAttrIndex(codes[i], &index[i]) != 0) {
                logLine("aoTopology: fail to map acode %d to aindex\n", int(codes[i]));
                return -11;
            }
        }
        struct Plan {
            const char* name;
            esriGeometryType type;
            int z;
            const char* failure;
        };
        const Plan plans[] = {
            {"vi2d", esriGeometryPoint, 0, "aoTopology, unable to create vi2d feature class\n"},
            {"vi3dsp", esriGeometryPoint, 1, "aoTopology: unable to create vi3dsp feature class\n"},
            {"vc", esriGeometryPoint, 0, "aoTopology: unable to create vc feature class\n"},
            {"ve", esriGeometryPolyline, 0, "aoTopology: unable to create ve feature class\n"},
        };
        for (const Plan& plan : plans) {
            IFeatureClassPtr featureClass;
            const HRESULT hr = createFeatureClass(featureWorkspace, plan.name, plan.type, fieldDefCount(primitiveFieldDefs),
                                                  primitiveFieldDefs, 3, index, s57Attributes, plan.z, &featureClass,
                                                  nullptr);
            if (hr != S_OK && hr != GDB_E_NAME_EXISTS) {
                logLine("%s", plan.failure);
                return E_FAIL;
            }
        }
        ITablePtr srel;
        const HRESULT hr = createGDBTable(featureWorkspace, "srel", &srel, fieldDefCount(srelFieldDefs), srelFieldDefs);
        if (hr != S_OK && hr != GDB_E_NAME_EXISTS) {
            logLine("aoTopology: unable to populate srel\n");
            return E_FAIL;
        }
        return S_OK;
    } catch (const _com_error& e) {
        logComErrorOf(kModule, "createPrimitiveTable", e);
        return E_FAIL;
    }
}

HRESULT updateSrelTable(IWorkspace* workspace, const char* cellName) {
    try {
        IFeatureWorkspacePtr featureWorkspace(workspace);
        if (!featureWorkspace || !cellName) return E_FAIL;
        ITable* raw = nullptr;
        if (FAILED(featureWorkspace->raw_OpenTable(_bstr_t("SREL").GetBSTR(), &raw)) || !raw) return E_FAIL;
        ITablePtr table;
        table.Attach(raw);
        const char* columns[8] = {"SRC_LNAM", "SRC_NAME", "DEST_NAME", "ORNT", "USAG", "MASK", "TOPI", "DSNM"};
        LONG index[8];
        for (int i = 0; i < 8; ++i) index[i] = table->FindField(columns[i]);
        ICursorPtr cursor = table->Insert(VARIANT_TRUE);
        IRowBufferPtr buffer = table->CreateRowBuffer();
        // The buffer keeps its values from row to row: a column is set again only when its value
        // differs from the row before's (the rows of one edge, the one-letter columns). A value's
        // variant is made once (a feature's name recurs on each of its edges).
        if (index[7] >= 0) buffer->PutValue(index[7], _variant_t(cellName));
        std::string last[7];
        std::unordered_map<std::string, _variant_t> variants;
        for (int32_t k = 0; k < topoSrelList.count; ++k) {
            const SrelRecord& r = topoSrelList.records[k];
            const char* values[7] = {r.SRC_LNAM, r.SRC_NAME, r.DEST_NAME, r.ORNT, r.USAG, r.MASK, r.TOPI};
            for (int i = 0; i < 7; ++i) {
                if (k > 0 && last[i] == values[i]) continue;
                last[i] = values[i];
                if (index[i] < 0) continue;
                auto [it, added] = variants.try_emplace(last[i]);
                if (added) it->second = _variant_t(values[i]);
                buffer->PutValue(index[i], it->second);
            }
            cursor->InsertRow(buffer);
        }
        cursor->Flush();
        return S_OK;
    } catch (const _com_error& e) {
        logComErrorOf(kModule, "updateSrelTable", e);
        return E_FAIL;
    }
}

HRESULT readSrelTable(IWorkspace* workspace, const char* cellName) {
    try {
        if (!workspace || !cellName) return E_FAIL;
        IFeatureWorkspacePtr featureWorkspace(workspace);
        if (!featureWorkspace) return E_FAIL;
        ITable* raw = nullptr;
        if (FAILED(featureWorkspace->raw_OpenTable(_bstr_t("SREL").GetBSTR(), &raw)) || !raw) {
            logLine("readSrelTable: unable to open table srel\n");
            return E_FAIL;
        }
        ITablePtr table;
        table.Attach(raw);
        const char* columns[7] = {"SRC_LNAM", "SRC_NAME", "DEST_NAME", "ORNT", "USAG", "TOPI", "MASK"};
        LONG index[7];
        for (int i = 0; i < 7; ++i) {
            index[i] = table->FindField(columns[i]);
            if (index[i] < 0) {
                logLine("readSrelTable: table srel has no column %s\n", columns[i]);
                return E_FAIL;
            }
        }
        IQueryFilterPtr filter(CLSID_QueryFilter);
        filter->PutWhereClause(("DSNM = " + sqlText(cellName)).c_str());
        ICursorPtr cursor = table->Search(filter, VARIANT_FALSE);
        for (IRowPtr row = cursor->NextRow(); row; row = cursor->NextRow()) {
            std::string v[7];
            for (int i = 0; i < 7; ++i) v[i] = columnUtf8(row->GetValue(index[i]));
            // A row the list cannot take (logged there) would leave a pointer out of the cell.
            if (AppendSrelRecord(&topoSrelList, v[0].c_str(), v[1].c_str(), v[2].c_str(), v[3].c_str(),
                                 v[4].c_str(), v[5].c_str(), v[6].c_str(), cellName) != 0)
                return E_FAIL;
        }
        return S_OK;
    } catch (const _com_error& e) {
        logComErrorOf(kModule, "readSrelTable", e);
        return E_FAIL;
    }
}
