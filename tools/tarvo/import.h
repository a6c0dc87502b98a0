// tools/tarvo/import.h: `tarvo import S57FILE GEODATABASE [--dataset NAME] [--verbose]`, a base cell or every
// base cell of an exchange set (S57FILE a CATALOG.03x) into a feature dataset of a geodatabase.
#pragma once

#include <cstdio>

// argv[0] is the command's name ("import"), argv[1..argc-1] its arguments ("--" ends the options).
// Checks the input, the names and the geodatabase first; a GEODATABASE that does not exist (or
// has no bytes) is then created as `tarvo create` creates it, and the import driver runs as an
// automation caller runs it. On a terminal its progress, messages and closing question go through
// the program's user interface; in batch they are not shown. The result line goes to `out`; a
// failure's reason (in words, naming the file) or the usage text to `err`.
// Exit status: 0 imported, 1 the run failed (as the run returned and reported it), 2 bad arguments.
int runImport(int argc, char** argv, FILE* out, FILE* err);

// `tarvo --verbose`: the converter's trace lines (one per record) reach standard error.
inline bool& verboseOutput() {
    static bool verbose = false;
    return verbose;
}
