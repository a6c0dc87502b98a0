// commands/s572gdbcmd.cpp: the import command: its click (document texts, dialog 207, import,
// document refresh) and its automation method; the rest of its ICommand is ConverterCommand's.
#include "commands/s572gdbcmd.h"

#include "commands/command_host.h"
#include "commands/s572gdbdlg.h"
#include "import/s572gdbmain.h"
#include "s57/s57_util2.h"

s572gdbCmd::s572gdbCmd() : ConverterCommand(kIs572gdbCmdInfo, kCaptionS57ToGdb, 102) {}

int runImport(const std::string& s57file, const std::string& gdbConn, const std::string& dataset) {
    if (!usableInputPath(s57file)) {
        displayMessage(113, kCaptionS57ToGdb, (" " + s57file).c_str());
        return -1;
    }
    return ::s572gdb(s57file.c_str(), gdbConn.c_str(), dataset.c_str());
}

HRESULT s572gdbCmd::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                           EXCEPINFO* excep, UINT* argErr) {
    return dispatchInvoke(kIs572gdbCmdInfo, id, flags, params, result, excep, argErr,
                          [this](const MethodInfo&, std::vector<_variant_t>& a, VARIANT*) {
                              return s572gdb(a[0].bstrVal, a[1].bstrVal, a[2].bstrVal);
                          });
}

HRESULT s572gdbCmd::s572gdb(BSTR s57file, BSTR gdbConn, BSTR fctdataset) {
    return comGuard([&] {
        (void)runImport(narrowText(s57file), narrowText(gdbConn), narrowText(fctdataset));
        return S_OK;
    });
}

HRESULT s572gdbCmd::raw_OnClick() {
    return comGuard([&]() -> HRESULT {
        const DocumentTexts texts = documentTexts(m_pHook);
        const std::string dataset = datasetNameOf(texts.datasetQualifiedName);
        int answer = IDCANCEL;
        std::string s57file;
        {
            s572gdbdlg dialog(texts.workspacePath);
            answer = dialog.doModal();
            s57file = dialog.s57File();
        }
        if (answer < 0) throw _com_error(E_ABORT, L"The import command needs its dialog, which batch mode cannot show");
        if (answer == IDOK) (void)runImport(s57file, texts.workspacePath, dataset);
        refreshDocument(m_pHook);
        return S_OK;
    });
}
