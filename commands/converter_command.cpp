// commands/converter_command.cpp: the ICommand half of the converter's two commands (see the header).
#include "commands/converter_command.h"

#include "commands/command_host.h"
#include "commands/resources.h"
#include "commands/tarvo_module.h"
#include "s57/s57_util2.h"

template <class Automation>
ConverterCommand<Automation>::ConverterCommand(const InterfaceInfo& automation, int captionId, int messageId)
    : lock_(tarvoModule),
      automation_(automation),
      bitmap_(loadModuleBitmap(IDB_COMMAND)),
      caption_(stringText(captionId)),
      messageId_(messageId) {}

template <class Automation>
ConverterCommand<Automation>::~ConverterCommand() {
    DeleteObject(bitmap_);
}

template <class Automation>
HRESULT ConverterCommand<Automation>::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    return dispatchIDsOfNames(automation_, names, count, ids);
}

template <class Automation>
HRESULT ConverterCommand<Automation>::get_Enabled(VARIANT_BOOL* enabled) {
    if (!enabled) return E_POINTER;
    *enabled = VARIANT_TRUE;
    return S_OK;
}

template <class Automation>
HRESULT ConverterCommand<Automation>::get_Checked(VARIANT_BOOL* checked) {
    if (!checked) return E_POINTER;
    *checked = VARIANT_FALSE;
    return S_OK;
}

template <class Automation>
HRESULT ConverterCommand<Automation>::get_Name(BSTR* name) {
    return comGuard([&] { return copyText(caption_, name); });
}
template <class Automation>
HRESULT ConverterCommand<Automation>::get_Caption(BSTR* caption) {
    return comGuard([&] { return copyText(caption_, caption); });
}
template <class Automation>
HRESULT ConverterCommand<Automation>::get_Tooltip(BSTR* tooltip) {
    return comGuard([&] { return copyText(caption_, tooltip); });
}
template <class Automation>
HRESULT ConverterCommand<Automation>::get_Message(BSTR* message) {
    return comGuard([&] { return copyText(stringText(messageId_), message); });
}
template <class Automation>
HRESULT ConverterCommand<Automation>::get_HelpFile(BSTR*) {
    return E_NOTIMPL;
}
template <class Automation>
HRESULT ConverterCommand<Automation>::get_HelpContextID(LONG*) {
    return E_NOTIMPL;
}

template <class Automation>
HRESULT ConverterCommand<Automation>::get_Bitmap(LONG* bitmap) {
    if (!bitmap) return E_POINTER;
    *bitmap = ui::gdiHandleValue(bitmap_);
    return S_OK;
}

template <class Automation>
HRESULT ConverterCommand<Automation>::get_Category(BSTR* category) {
    return comGuard([&] { return copyText(stringText(103), category); });
}

template <class Automation>
HRESULT ConverterCommand<Automation>::raw_OnCreate(IUnknown* hook) {
    return comGuard([&]() -> HRESULT {
        m_pHook = hook;  // asks the hook for the application interface
        return m_pHook ? S_OK : E_UNEXPECTED;
    });
}

template class ConverterCommand<Is572gdbCmd>;
template class ConverterCommand<Igdb2s57Cmd>;
