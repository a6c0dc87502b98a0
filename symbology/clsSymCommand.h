// symbology/clsSymCommand.h: the command "Apply S-57 Symbology": enabled while the extension is
// enabled and the focus map holds layers; a click runs ApplySymbology. Every member reports its
// errors through ReportError and answers its default; Enabled, which the host asks again and
// again, reports an error once until it answers without one.
#pragma once

#include "platform/host/host.h"
#include "symbology/corvane_module.h"

namespace corvane {

inline constexpr CLSID CLSID_clsSymCommand = makeGuid("{AAA664C0-25F3-4001-844B-62807216D146}");
inline constexpr char kCommandProgId[] = "Corvane.clsSymCommand";
inline constexpr GUID LIBID_Corvane = makeGuid("{D3FAD027-6578-45C0-B6D7-F44BA391B78A}");

class clsSymCommand : public ComObject<ICommand> {
public:
    ~clsSymCommand() override;  // Class_Terminate

    HRESULT get_Enabled(VARIANT_BOOL* enabled) override;
    HRESULT get_Checked(VARIANT_BOOL* checked) override;
    HRESULT get_Name(BSTR* name) override;
    HRESULT get_Caption(BSTR* caption) override;
    HRESULT get_Tooltip(BSTR* tooltip) override;
    HRESULT get_Message(BSTR* message) override;
    HRESULT get_HelpFile(BSTR* file) override;
    HRESULT get_HelpContextID(LONG* id) override;
    HRESULT get_Bitmap(LONG* bitmap) override;
    HRESULT get_Category(BSTR* category) override;
    HRESULT raw_OnCreate(IUnknown* hook) override;
    HRESULT raw_OnClick() override;

private:
    ModuleLock moduleLock_{corvaneModule()};
    IApplicationPtr m_pApp;
    IExtensionPtr m_pExt;
    bool enabledErrorShown_ = false;
};

}  // namespace corvane
