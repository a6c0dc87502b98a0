// commands/gdb2s57cmd.cpp: the export command: its click (document texts, the geodatabase's cells
// and catalogues, dialog 206, export, document refresh) and its automation method; the rest of its
// ICommand is ConverterCommand's.
#include "commands/gdb2s57cmd.h"

#include <cstdio>

#include "commands/command_host.h"
#include "export/gdbs57main.h"
#include "platform/gdb/gdb.h"
#include "s57/dbutil.h"
#include "s57/s57_util2.h"

namespace {

std::string numberDetail(long value) {
    char detail[24];
    std::snprintf(detail, sizeof detail, " %ld", value);
    return detail;
}

std::string textOf(const _variant_t& v) {
    if (v.vt == VT_NULL || v.vt == VT_EMPTY) return std::string();
    const _bstr_t text = static_cast<_bstr_t>(v);
    return static_cast<const char*>(text);
}

// Runs the export of the chosen cell or catalogue. How it ended the user was told in messages and
// the log; a caller that reports it reads lastExportOutcome().
void runExport(const ExportArguments& a) {
    (void)::gdb2s57(a.output.c_str(), a.gdbConn.c_str(), a.dataset.c_str(), a.cellName.c_str(),
                    a.catalogPath.c_str(), a.createTopology);
}

}  // namespace

bool cellEntries(IWorkspace* workspace, std::vector<gdb2s57dlg::Entry>& entries) {
    IFeatureWorkspacePtr featureWorkspace(workspace);
    ITablePtr dsid;
    const HRESULT opened = featureWorkspace ? featureWorkspace->raw_OpenTable(_bstr_t("dsid").GetBSTR(), &dsid)
                                            : E_NOINTERFACE;
    if (FAILED(opened) || !dsid) {
        displayMessage(107, kCaptionGdbToS57, numberDetail(long(opened)).c_str());
        return false;
    }
    const LONG count = dsid->RowCount(nullptr);
    if (count <= 0) {
        displayMessage(108, kCaptionGdbToS57, numberDetail(long(count)).c_str());
        return false;
    }
    const LONG dsnm = dsid->FindField("dsnm");
    ICursorPtr cursor = dsid->Search(nullptr, VARIANT_FALSE);
    for (IRowPtr row = cursor->NextRow(); row; row = cursor->NextRow()) {
        gdb2s57dlg::Entry e;
        e.name = dsnm >= 0 ? textOf(row->GetValue(dsnm)) : std::string();
        e.display = e.name;
        entries.push_back(std::move(e));
    }

    ITablePtr catd;
    if (FAILED(featureWorkspace->raw_OpenTable(_bstr_t("catd").GetBSTR(), &catd)) || !catd) return true;
    IQueryFilterPtr filter(CLSID_QueryFilter);
    filter->PutWhereClause("CFIL = 'CATALOG.030' OR CFIL = 'CATALOG.031'");
    const LONG catl = catd->FindField("catl");
    const LONG cfil = catd->FindField("cfil");
    cursor = catd->Search(filter, VARIANT_FALSE);
    for (IRowPtr row = cursor->NextRow(); row; row = cursor->NextRow()) {
        gdb2s57dlg::Entry e;
        e.directory = catl >= 0 ? textOf(row->GetValue(catl)) : std::string();
        e.name = cfil >= 0 ? textOf(row->GetValue(cfil)) : std::string();
        e.display = e.directory.empty() ? e.name : e.directory + "\\" + e.name;
        entries.push_back(std::move(e));
    }
    return true;
}

gdb2s57Cmd::gdb2s57Cmd() : ConverterCommand(kIgdb2s57CmdInfo, kCaptionGdbToS57, 105) {}

HRESULT gdb2s57Cmd::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                           EXCEPINFO* excep, UINT* argErr) {
    return dispatchInvoke(kIgdb2s57CmdInfo, id, flags, params, result, excep, argErr,
                          [this](const MethodInfo&, std::vector<_variant_t>& a, VARIANT*) {
                              return gdb2s57(a[0].bstrVal, a[1].bstrVal, a[2].bstrVal, a[3].bstrVal,
                                             a[4].bstrVal, a[5].boolVal);
                          });
}

ExportArguments automationExportArguments(BSTR gdbConn, BSTR fctdataset, BSTR s57path, BSTR s57cellname,
                                          BSTR catalogPath, VARIANT_BOOL createTopology) {
    ExportArguments a;
    a.gdbConn = narrowText(gdbConn);
    a.dataset = narrowText(fctdataset);
    a.cellName = narrowText(s57cellname);
    a.catalogPath = narrowText(catalogPath);
    a.createTopology = createTopology == VARIANT_TRUE;
    std::string name = a.cellName;
    if (name.empty() && !a.catalogPath.empty()) name = "CATALOG.031";
    a.output = narrowText(s57path);
    if (!a.output.empty() && a.output.back() != '/' && a.output.back() != '\\') a.output += '/';
    a.output += name;
    return a;
}

HRESULT gdb2s57Cmd::gdb2s57(BSTR gdbConn, BSTR fctdataset, BSTR s57path, BSTR s57cellname, BSTR catalogPath,
                            VARIANT_BOOL createTopology) {
    return comGuard([&]() -> HRESULT {
        runExport(automationExportArguments(gdbConn, fctdataset, s57path, s57cellname, catalogPath, createTopology));
        return S_OK;
    });
}

HRESULT gdb2s57Cmd::raw_OnClick() {
    return comGuard([&]() -> HRESULT {
        const DocumentTexts texts = documentTexts(m_pHook);
        const std::string dataset = datasetNameOf(texts.datasetQualifiedName);
        IWorkspacePtr workspace;
        const HRESULT opened = openWorkspace(texts.workspacePath.c_str(), &workspace);
        if (FAILED(opened) || !workspace) {
            displayMessage(106, kCaptionGdbToS57, numberDetail(long(opened)).c_str());
            return S_OK;
        }
        std::vector<gdb2s57dlg::Entry> entries;
        if (!cellEntries(workspace, entries)) return S_OK;
        workspace = nullptr;

        int answer = IDCANCEL;
        ExportArguments run;
        {
            gdb2s57dlg dialog(texts.workspacePath, std::move(entries));
            answer = dialog.doModal();
            run = {dialog.outputFile(), texts.workspacePath, dataset, dialog.cellName(), dialog.catalogPath(),
                   dialog.createTopology() != 0};
        }
        if (answer < 0) throw _com_error(E_ABORT, L"The export command needs its dialog, which batch mode cannot show");
        if (answer == IDOK) runExport(run);
        refreshDocument(m_pHook);
        return S_OK;
    });
}
