// commands/s572gdbcmd.h: the command "S-57 to Geodatabase": a host clicks it (ICommand) and it
// imports the S-57 file the user picks in its dialog into the geodatabase of the document's current
// layer; automation callers run the same import through Is572gdbCmd. No exception leaves a method.
#pragma once

#include "commands/tarvo_lib.h"
#include "platform/com/module.h"
#include "platform/host/host.h"
#include "platform/ui/gdi.h"

class s572gdbCmd : public ComObject<Is572gdbCmd, ICommand> {
public:
    s572gdbCmd();
    ~s572gdbCmd() override;

    // IDispatch over TarvoLib's Is572gdbCmd
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* excep, UINT* argErr) override;
    // Is572gdbCmd: S_OK whatever the import's outcome (it reports to the user and its log).
    HRESULT s572gdb(BSTR s57file, BSTR gdbConn, BSTR fctdataset) override;

    // ICommand
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
    ModuleLock lock_;
    IApplicationPtr m_pHook;
    HBITMAP bitmap_;
    _bstr_t caption_;
};

// Runs the import driver once the input path could give the run its log name; else tells the
// user (text 113 with the path) and runs nothing. The driver's result, or -1 when refused.
int runImport(const std::string& s57file, const std::string& gdbConn, const std::string& dataset);
