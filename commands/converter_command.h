// commands/converter_command.h: what the converter's two commands share: their ICommand (always
// enabled and unchecked; the caption as name, caption and tooltip; the module's command bitmap;
// category text 103; no help), the hook kept as the application, the module lock, and the
// GetIDsOfNames of their automation interface. No exception leaves a method.
#pragma once

#include "commands/tarvo_lib.h"
#include "platform/com/module.h"
#include "platform/host/host.h"
#include "platform/ui/gdi.h"

// The automation interface comes first: it answers IDispatch and is the object's identity, as the
// class descriptions and the type library give it.
template <class Automation>
class ConverterCommand : public ComObject<Automation, ICommand> {
public:
    ~ConverterCommand() override;

    // IDispatch over TarvoLib's automation interface (Invoke is each command's own)
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;

    // ICommand (OnClick is each command's own)
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

protected:
    // The automation interface's description; the ids of the caption and the message texts.
    ConverterCommand(const InterfaceInfo& automation, int captionId, int messageId);

    IApplicationPtr m_pHook;

private:
    ModuleLock lock_;
    const InterfaceInfo& automation_;
    HBITMAP bitmap_;
    _bstr_t caption_;
    int messageId_;
};

extern template class ConverterCommand<Is572gdbCmd>;
extern template class ConverterCommand<Igdb2s57Cmd>;
