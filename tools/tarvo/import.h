// tools/tarvo/import.h: `tarvo import S57FILE GEODATABASE [--dataset NAME]`, a base cell or every
// base cell of an exchange set (S57FILE a CATALOG.03x) into a feature dataset of a geodatabase.
#pragma once

#include <cstdio>

// argv[0] is the command's name ("import"), argv[1..argc-1] its arguments. Runs the import driver
// as an automation caller does; a GEODATABASE that does not exist is first created as `tarvo
// create` creates it. The driver's messages, progress and closing question go through the
// program's user interface (terminal or batch); a summary goes to `out`, problems and the usage
// text to `err`. Exit status: 0 imported, 1 the run failed (as its log reports), 2 bad arguments.
int runImport(int argc, char** argv, FILE* out, FILE* err);
