// symbology/clsExtension.h: the extension "Brackwell": keeps the application and its document from
// Startup, and on the first new or opened document (and on every later State change) places the
// symbology command on the standard command bar. Shutdown lets the application go and stops
// listening to the document, which otherwise holds the extension for ever.
#pragma once

#include <string>

#include "platform/host/host.h"
#include "symbology/corvane_module.h"

namespace corvane {

inline constexpr CLSID CLSID_clsExtension = makeGuid("{A7519AD8-0B4A-4BB9-98C7-937E988EEC7C}");
inline constexpr char kExtensionProgId[] = "Corvane.clsExtension";

class clsExtension : public ComObject<IExtension, IExtensionConfig, IDocumentEvents> {
public:
    // IExtension
    HRESULT get_Name(BSTR* name) override;
    HRESULT raw_Startup(VARIANT* initializationData) override;
    HRESULT raw_Shutdown() override;
    // IExtensionConfig
    HRESULT get_ProductName(BSTR* name) override;
    HRESULT get_Description(BSTR* text) override;
    HRESULT get_State(esriExtensionState* state) override;
    HRESULT put_State(esriExtensionState state) override;
    // The document's events (m_pMxDoc)
    HRESULT raw_NewDocument() override;
    HRESULT raw_OpenDocument() override;
    HRESULT raw_CloseDocument() override;

private:
    ModuleLock moduleLock_{corvaneModule()};
    void configure(const std::string& reason);
    void documentEvent(const char* procedure, const char* reason);

    LONG m_lState = 0;
    IApplicationPtr m_pApp;
    bool m_bConfigured = false;
    IMxDocumentPtr m_pMxDoc;
    DWORD m_dwCookie = 0;
};

}  // namespace corvane
