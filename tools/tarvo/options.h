// tools/tarvo/options.h: what the options before the subcommand set for the whole run.
#pragma once

// `tarvo --verbose COMMAND ...`: the converter's per-record trace lines reach standard error.
inline bool& verboseOutput() {
    static bool verbose = false;
    return verbose;
}
