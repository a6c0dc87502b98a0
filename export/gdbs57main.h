// export/gdbs57main.h: module gdbs57main, the export driver. One run writes one base cell, or every
// base cell of an exchange set together with its CATALOG file and its other files, from a
// geodatabase to S-57, writing the run's log beside the output and telling the user of every
// failure. Nothing is thrown to callers; one run at a time (the run state of s57/s57_util2.h and
// the export's program-wide lists are shared).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/com/com.h"

struct IWorkspace;

// Runs one export. s57file: the cell file to write (in catalogue mode only its folder, where the
// set is written, and the log name are taken from it; '/' or '\\' separate folders); gdbConn: the
// geodatabase; fctdataset: the feature dataset; cellName: the cell's DSNM (ignored in catalogue
// mode); catalogPath: empty for one cell, else the CATL of the exchange set in table catd;
// createTopology: rebuild the topology primitives instead of reading the stored ones.
// 0 once the run got past its opening (how it ended is in the messages shown and in the log);
// -2 the log cannot be created; the catalogue loader's result; -19 a null argument, or an s57file
// that names no file (empty, or ending in a separator): nothing is made, no log either.
[[nodiscard]] int32_t gdb2s57(const char* s57file, const char* gdbConn, const char* fctdataset, const char* cellName,
                              const char* catalogPath, bool createTopology);

// How a run ended, for a caller that reports it (the result above says only whether the run got
// past its opening; the user was told the rest in messages and the log).
struct ExportOutcome {
    int cellsExported = 0;  // cells whose file was written whole
    int message = 0;        // the string-table id of the message that stopped the run; 0 none
    HRESULT error = S_OK;   // the COM error that stopped the run, or E_FAIL for a stop without message
    std::string reason;     // the stop's message text with its detail, or the error's description
    bool failed() const { return message != 0 || FAILED(error); }
};

// gdb2s57 that also tells how the run ended (outcome may be null). The outcome is filled also when
// the result is not 0.
[[nodiscard]] int32_t gdb2s57(const char* s57file, const char* gdbConn, const char* fctdataset, const char* cellName,
                              const char* catalogPath, bool createTopology, ExportOutcome* outcome);

// The outcome of the latest run of this module, and how many runs have ended: for a caller that
// reached the driver through the automation interface, whose method answers S_OK either way.
const ExportOutcome& lastExportOutcome();
unsigned long exportRunCount();

// The producing agency: AGEN of the first row of table dsid (at most 3 characters); empty when the
// table cannot be opened, has no AGEN column or no row, or after a COM error (logged).
std::string getAgen(IWorkspace* workspace);

// Where a run that writes s57file puts its log: the path without its last four characters, + ".log".
std::string exportLogPath(std::string_view s57file);

// The folder an exchange set is written into: the path before its last separator ('/' or '\\'), or
// "." (the current folder) for a path without one.
std::string exportOutputDirectory(std::string_view s57file);
