// commands/s572gdbcmd.h: the command "S-57 to Geodatabase": a host clicks it (ICommand) and it
// imports the S-57 file the user picks in its dialog into the geodatabase of the document's current
// layer; automation callers run the same import through Is572gdbCmd. No exception leaves a method.
#pragma once

#include <string>

#include "commands/converter_command.h"

class s572gdbCmd : public ConverterCommand<Is572gdbCmd> {
public:
    s572gdbCmd();

    // IDispatch over TarvoLib's Is572gdbCmd
    HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* excep, UINT* argErr) override;
    // Is572gdbCmd: S_OK whatever the import's outcome (it reports to the user and its log).
    HRESULT s572gdb(BSTR s57file, BSTR gdbConn, BSTR fctdataset) override;

    // ICommand
    HRESULT raw_OnClick() override;
};

// Runs the import driver once the input path could give the run its log name; else tells the
// user (text 113 with the path) and runs nothing. The driver's result, or -1 when refused.
int runImport(const std::string& s57file, const std::string& gdbConn, const std::string& dataset);
