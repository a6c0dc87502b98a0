// commands/gdb2s57cmd.h: the command "Geodatabase to S-57": a host clicks it (ICommand); it lists
// the cells (table dsid) and exchange-set catalogues (table catd) of the document's geodatabase,
// shows its dialog and exports the chosen one. Automation callers reach the export through
// Igdb2s57Cmd. No exception leaves a method.
#pragma once

#include <vector>

#include "commands/converter_command.h"
#include "commands/gdb2s57dlg.h"

class gdb2s57Cmd : public ConverterCommand<Igdb2s57Cmd> {
public:
    gdb2s57Cmd();

    // IDispatch over TarvoLib's Igdb2s57Cmd
    HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* excep, UINT* argErr) override;
    HRESULT gdb2s57(BSTR gdbConn, BSTR fctdataset, BSTR s57path, BSTR s57cellname, BSTR catalogPath,
                    VARIANT_BOOL createTopology) override;

    // ICommand
    HRESULT raw_OnClick() override;
};

struct IWorkspace;

// What the export driver gets from an automation call: the output path is s57path and s57cellname
// joined by a separator (none added when s57path ends with one); in catalogue mode (a catalogue
// path) without a cell name it is the CATALOG file's name there, so that the run's log is
// CATALOG.log in that folder instead of a name made from the folder itself; without either it is the
// folder alone, which the driver refuses (no cell name). The flag is set by VARIANT_TRUE only.
struct ExportArguments {
    std::string output;
    std::string gdbConn;
    std::string dataset;
    std::string cellName;
    std::string catalogPath;
    bool createTopology = false;
};
ExportArguments automationExportArguments(BSTR gdbConn, BSTR fctdataset, BSTR s57path, BSTR s57cellname,
                                          BSTR catalogPath, VARIANT_BOOL createTopology);

// The selection list of a geodatabase: one entry per row of dsid, then one per CATALOG.030 or
// CATALOG.031 row of catd (none when the geodatabase has no catd: it holds single cells only).
// Shows text 107 or 108 (caption 104) and returns false when there is no dsid table or no cell in it.
bool cellEntries(IWorkspace* workspace, std::vector<gdb2s57dlg::Entry>& entries);
