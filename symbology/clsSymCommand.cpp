// symbology/clsSymCommand.cpp: the command. Every member runs under the class-procedure pattern
// (ErrorHandling.h) and answers its default after an error. The numbered lines (erl) are what a
// reported call stack names.

#include "symbology/clsSymCommand.h"

#include "platform/host/uid.h"
#include "symbology/ErrorHandling.h"
#include "symbology/clsExtension.h"
#include "symbology/modUtil.h"

namespace corvane {
namespace {

constexpr char kModule[] = "clsSymCommand";

HRESULT giveText(const char* text, BSTR* out) {
    return comGuard([&] {
        if (!out) return E_POINTER;
        *out = SysAllocString(fromUtf8(text).c_str());
        return *out ? S_OK : E_OUTOFMEMORY;
    });
}

}  // namespace

clsSymCommand::~clsSymCommand() {
    m_pExt = nullptr;
    m_pApp = nullptr;
}

HRESULT clsSymCommand::get_Enabled(VARIANT_BOOL* enabled) {
    return comGuard([&] {
        if (!enabled) return E_POINTER;
        *enabled = VARIANT_FALSE;
        LONG erl = 0;
        bool on = false;
        host::ErrObject err;
        bool failed = false;
        try {
            erl = 10;
            if (m_pExt) {
                erl = 20;
                IExtensionConfigPtr config = m_pExt;
                const esriExtensionState state = config->GetState();
                erl = 30;
                on = state == esriESEnabled && m_pApp->GetDocument()->GetFocusMap()->GetLayerCount() >= 1;
            }
        } catch (...) {
            err = host::currentError("Corvane");
            failed = true;
        }
        // The host asks at every poll: one report per spell of failures, not a dialog each time.
        if (failed) {
            if (!enabledErrorShown_) {
                enabledErrorShown_ = true;
                ReportError(true, CallStackEntry("ICommand_Enabled", kModule, erl), err.number, err.source,
                            err.description, 4);
            }
            return S_OK;
        }
        enabledErrorShown_ = false;
        *enabled = on ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    });
}

HRESULT clsSymCommand::get_Checked(VARIANT_BOOL* checked) {
    if (!checked) return E_POINTER;
    *checked = VARIANT_FALSE;
    return S_OK;
}
HRESULT clsSymCommand::get_Name(BSTR* name) { return giveText("s57Symbology", name); }
HRESULT clsSymCommand::get_Caption(BSTR* caption) { return giveText("Apply S-57 Symbology", caption); }
HRESULT clsSymCommand::get_Tooltip(BSTR* tooltip) { return giveText("", tooltip); }
HRESULT clsSymCommand::get_Message(BSTR* message) { return giveText("Apply Symbology to Layers in Map", message); }
HRESULT clsSymCommand::get_HelpFile(BSTR* file) { return giveText("", file); }
HRESULT clsSymCommand::get_HelpContextID(LONG* id) {
    if (!id) return E_POINTER;
    *id = 0;
    return S_OK;
}
HRESULT clsSymCommand::get_Bitmap(LONG* bitmap) {
    if (!bitmap) return E_POINTER;
    *bitmap = 0;
    return S_OK;
}
HRESULT clsSymCommand::get_Category(BSTR* category) { return giveText("S-57", category); }

HRESULT clsSymCommand::raw_OnCreate(IUnknown* hook) {
    return comGuard([&] {
        LONG erl = 0;
        ClassProcedure("ICommand_OnCreate", kModule, erl, [&] {
            erl = 10;
            m_pApp = hook;
            if (!m_pApp) host::raiseError(13, "Corvane");
            erl = 20;
            m_pExt = m_pApp->FindExtensionByCLSID(host::makeUid(kExtensionProgId));
        });
        return S_OK;
    });
}

HRESULT clsSymCommand::raw_OnClick() {
    return comGuard([&] {
        LONG erl = 0;
        ClassProcedure("ICommand_OnClick", kModule, erl, [&] {
            erl = 10;
            ApplySymbology(m_pApp);
        });
        return S_OK;
    });
}

}  // namespace corvane
