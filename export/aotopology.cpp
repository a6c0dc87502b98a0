// export/aotopology.cpp: module aoTopology (see aotopology.h). The rebuild of the primitives from
// the geodatabase topology is not part of this build: the flag ends the step with a log line and
// E_FAIL, never with primitives that were not made. Reading the stored relations is complete.

#include "export/aotopology.h"

#include <string>

#include "export/srel_list.h"
#include "s57/dbutil.h"
#include "s57/s57_util2.h"

namespace {

constexpr char kModule[] = "aoTopology";

// The rebuild (names for unnamed features, clean-up, edges and nodes from the topology, point
// primitives, the srel table) comes here.
HRESULT buildTopology(IWorkspace* /*workspace*/, const char* /*featureDataset*/, const char* cellName,
                      double* /*tolerance*/) {
    logLine("validateTopology: creating new spatial primitives is not built yet, cell %s not exported\n",
            cellName ? cellName : "");
    return E_FAIL;
}

std::string textOf(IRow* row, LONG index) {
    const _variant_t value = row->GetValue(index);
    if (value.vt == VT_NULL || value.vt == VT_EMPTY) return {};
    return static_cast<const char*>(_bstr_t(value));
}

}  // namespace

HRESULT validateTopology(IWorkspace* workspace, const char* featureDataset, const char* /*agency*/,
                         const char* cellName, double* tolerance, unsigned char createTopology) {
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
            for (int i = 0; i < 7; ++i) v[i] = textOf(row, index[i]);
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
