// symbology/clsExtension.cpp: the extension. Every member runs under the class-procedure pattern
// (ErrorHandling.h) and answers its default after an error; nothing is passed back to the host.
// The numbered lines (erl) are what a reported call stack names.

#include "symbology/clsExtension.h"

#include <algorithm>

#include "platform/host/uid.h"
#include "symbology/ErrorHandling.h"
#include "symbology/clsSymCommand.h"

namespace corvane {
namespace {

constexpr char kModule[] = "clsExtension";
constexpr char kProductName[] = "Brackwell";
constexpr char kDescription[] =
    "Brackwell (1.0)\r\nThe Corvane developers, 2026\r\n\r\nApplies S-57 symbology to featureclasses.";

HRESULT giveText(const char* text, BSTR* out) {
    return comGuard([&] {
        if (!out) return E_POINTER;
        *out = SysAllocString(fromUtf8(text).c_str());
        return *out ? S_OK : E_OUTOFMEMORY;
    });
}

}  // namespace

HRESULT clsExtension::get_Name(BSTR* name) { return giveText(kProductName, name); }

HRESULT clsExtension::raw_Startup(VARIANT* initializationData) {
    return comGuard([&] {
        LONG erl = 0;
        ClassProcedure("IExtension_Startup", kModule, erl, [&] {
            erl = 10;
            IUnknown* hook = nullptr;
            if (initializationData && initializationData->vt == VT_UNKNOWN) hook = initializationData->punkVal;
            if (initializationData && initializationData->vt == VT_DISPATCH) hook = initializationData->pdispVal;
            m_pApp = hook;
            if (!m_pApp) host::raiseError(13, "Corvane");
            erl = 20;
            m_bConfigured = false;
            erl = 30;
            m_pMxDoc = m_pApp->GetDocument();
            erl = 40;
            IDocumentEventsSourcePtr events = m_pMxDoc;
            m_dwCookie = events->Advise(static_cast<IDocumentEvents*>(this));
        });
        return S_OK;
    });
}

HRESULT clsExtension::raw_Shutdown() {
    return comGuard([&] {
        LONG erl = 0;
        ClassProcedure("IExtension_Shutdown", kModule, erl, [&] {
            // The document holds this object as its event sink, and this object holds the document
            // and the application: both are let go here, or neither is ever freed.
            erl = 10;
            if (IDocumentEventsSourcePtr events = m_pMxDoc; events && m_dwCookie) {
                const DWORD cookie = std::exchange(m_dwCookie, 0);
                events->Unadvise(cookie);
            }
            erl = 20;
            m_pMxDoc = nullptr;
            m_pApp = nullptr;
        });
        return S_OK;
    });
}

HRESULT clsExtension::get_ProductName(BSTR* name) { return giveText(kProductName, name); }

HRESULT clsExtension::get_Description(BSTR* text) { return giveText(kDescription, text); }

HRESULT clsExtension::get_State(esriExtensionState* state) {
    if (!state) return E_POINTER;
    *state = static_cast<esriExtensionState>(m_lState);
    return S_OK;
}

HRESULT clsExtension::put_State(esriExtensionState state) {
    return comGuard([&] {
        LONG erl = 0;
        ClassProcedure("IExtensionConfig_State", kModule, erl, [&] {
            erl = 10;
            m_lState = state;
            erl = 20;
            if (m_bConfigured) configure("Let");
        });
        return S_OK;
    });
}

void clsExtension::documentEvent(const char* procedure, const char* reason) {
    LONG erl = 0;
    ClassProcedure(procedure, kModule, erl, [&] {
        erl = 10;
        if (!m_bConfigured) configure(reason);
        erl = 20;
        m_bConfigured = true;
    });
}

HRESULT clsExtension::raw_NewDocument() {
    return comGuard([&] {
        documentEvent("m_pMxDoc_NewDocument", "NewDoc");
        return S_OK;
    });
}

HRESULT clsExtension::raw_OpenDocument() {
    return comGuard([&] {
        documentEvent("m_pMxDoc_OpenDocument", "OpenDoc");
        return S_OK;
    });
}

HRESULT clsExtension::raw_CloseDocument() { return S_OK; }

void clsExtension::configure(const std::string& /*reason*/) {
    LONG erl = 0;
    ClassProcedure("configure", kModule, erl, [&] {
        erl = 10;
        if (!m_pMxDoc) host::raiseError(91, "Corvane");
        ICommandBarsPtr bars = m_pMxDoc->GetCommandBars();
        erl = 20;
        ICommandItemPtr barItem = bars->Find(host::makeUid(kStandardToolbarUid));
        ICommandBarPtr bar = barItem;
        if (!bar) return;
        erl = 30;
        IUIDPtr commandUid = host::makeUid(kCommandProgId);
        ICommandItemPtr commandItem = bars->Find(commandUid);
        if (!commandItem) return;
        erl = 40;
        const std::string commandValue = commandItem->GetID()->GetValue().narrow();
        const LONG count = bar->GetCount();
        for (LONG i = 0; i < count; ++i) {
            if (host::sameUid(bar->GetItem(i)->GetID()->GetValue().narrow(), commandValue)) return;
        }
        erl = 50;
        // Before the last two items, as on the host's own bar; a shorter bar takes it first.
        commandItem->PutGroup(VARIANT_TRUE);
        bar->Add(commandUid, _variant_t(std::max<LONG>(count - 2, 0)));
        erl = 60;
        commandItem->Refresh();
    });
}

}  // namespace corvane
