// commands/s572gdbcmd.cpp: the import command: its ICommand properties, its click (document texts,
// dialog 207, import, document refresh) and its automation method.
#include "commands/s572gdbcmd.h"

#include "commands/command_host.h"
#include "commands/resources.h"
#include "commands/s572gdbdlg.h"
#include "commands/tarvo_module.h"
#include "import/s572gdbmain.h"
#include "s57/s57_util2.h"

s572gdbCmd::s572gdbCmd()
    : lock_(tarvoModule), bitmap_(loadModuleBitmap(IDB_COMMAND)), caption_(stringText(kCaptionS57ToGdb)) {}

s572gdbCmd::~s572gdbCmd() { DeleteObject(bitmap_); }

int runImport(const std::string& s57file, const std::string& gdbConn, const std::string& dataset) {
    if (!usableInputPath(s57file)) {
        displayMessage(113, kCaptionS57ToGdb, (" " + s57file).c_str());
        return -1;
    }
    return ::s572gdb(s57file.c_str(), gdbConn.c_str(), dataset.c_str());
}

HRESULT s572gdbCmd::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    return dispatchIDsOfNames(kIs572gdbCmdInfo, names, count, ids);
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

HRESULT s572gdbCmd::get_Enabled(VARIANT_BOOL* enabled) {
    if (!enabled) return E_POINTER;
    *enabled = VARIANT_TRUE;
    return S_OK;
}

HRESULT s572gdbCmd::get_Checked(VARIANT_BOOL* checked) {
    if (!checked) return E_POINTER;
    *checked = VARIANT_FALSE;
    return S_OK;
}

HRESULT s572gdbCmd::get_Name(BSTR* name) { return comGuard([&] { return copyText(caption_, name); }); }
HRESULT s572gdbCmd::get_Caption(BSTR* caption) { return comGuard([&] { return copyText(caption_, caption); }); }
HRESULT s572gdbCmd::get_Tooltip(BSTR* tooltip) { return comGuard([&] { return copyText(caption_, tooltip); }); }
HRESULT s572gdbCmd::get_Message(BSTR* message) {
    return comGuard([&] { return copyText(stringText(102), message); });
}
HRESULT s572gdbCmd::get_HelpFile(BSTR*) { return E_NOTIMPL; }
HRESULT s572gdbCmd::get_HelpContextID(LONG*) { return E_NOTIMPL; }

HRESULT s572gdbCmd::get_Bitmap(LONG* bitmap) {
    if (!bitmap) return E_POINTER;
    *bitmap = ui::gdiHandleValue(bitmap_);
    return S_OK;
}

HRESULT s572gdbCmd::get_Category(BSTR* category) {
    return comGuard([&] { return copyText(stringText(103), category); });
}

HRESULT s572gdbCmd::raw_OnCreate(IUnknown* hook) {
    return comGuard([&]() -> HRESULT {
        m_pHook = hook;  // asks the hook for the application interface
        return m_pHook ? S_OK : E_UNEXPECTED;
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
