// import/s572gdbmain.h: module s572gdbmain, the import driver. One run converts a base cell (".000")
// or every base cell that the CATALOG file of an exchange set lists into a feature dataset of a
// geodatabase, writing the run's log beside the input and telling the user of every failure.
// Nothing is thrown to callers; one run at a time (the run state of s57/s57_util2.h is shared).
#pragma once

#include <string>
#include <string_view>

#include "platform/com/com.h"

struct IFeatureWorkspace;

// Runs one import. s57file: a base cell or a CATALOG.03x file ('/' or '\\' separators);
// gdbConn: the geodatabase path (".gpkg", ".mdb") or connection file (".sde"); fctdataset: the
// target feature dataset. 0 once the run got past its opening checks, whatever happened after
// (the outcome is in the messages shown and in the log); else the first failure: -19 a null
// argument, -2 the log cannot be created, the catalogue loader's result, checkFileAccess's
// result, or loadCatalogRecList's result. A catalogue without any base cell gives 0.
[[nodiscard]] int s572gdb(const char* s57file, const char* gdbConn, const char* fctdataset);

// How a run ended, for a caller that reports it (the result above says only whether the run got
// past its opening; the user was told the rest in messages and the log).
struct ImportOutcome {
    int cellsImported = 0;  // cells whose import was saved
    int message = 0;        // the string-table id of the message that stopped the run; 0 none
    HRESULT error = S_OK;   // the geodatabase's result behind the stop, when it gave one
    std::string reason;     // the stop's message text with its detail, or the error's description
    long overflowValues = 0;  // attribute values longer than their column, stored whole in atto
    bool failed() const { return message != 0 || FAILED(error); }
};

// s572gdb that also tells how the run ended (outcome may be null). The outcome is filled also
// when the result is not 0.
[[nodiscard]] int s572gdb(const char* s57file, const char* gdbConn, const char* fctdataset, ImportOutcome* outcome);

// The outcome of the latest run of this module, and how many runs have ended: for a caller that
// reached the driver through the automation interface, whose method answers S_OK either way.
const ImportOutcome& lastImportOutcome();
unsigned long importRunCount();

// Opens every feature class that the product mapping names; each one that does not open is
// logged ("Unable to open the feature class <name>"), once per class. 0, or E_FAIL when at
// least one is missing or after a COM error (logged).
[[nodiscard]] HRESULT checkExistingFeatureClass(IFeatureWorkspace* featureWorkspace);

// Where a run on s57file writes its log: the path without its last four characters, + ".log".
std::string importLogPath(std::string_view s57file);
