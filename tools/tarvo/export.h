// tools/tarvo/export.h: `tarvo export GEODATABASE OUTPUT [--cell NAME] [--exchange-set CATL]
// [--dataset NAME]`, one base cell or one exchange set of a geodatabase back to S-57.
#pragma once

#include <cstdio>

// argv[0] is the command's name ("export"), argv[1..argc-1] its arguments. Runs the export driver
// as an automation caller does: OUTPUT is the cell file to write, or with --exchange-set the
// CATALOG.031 to write (its folder receives the set). Without --cell and --exchange-set a
// geodatabase of one cell exports that cell; one of several fails and lists the cells (dsid DSNM)
// and exchange sets (catd CATL) it can export. An OUTPUT that is the geodatabase or a file the run
// reads is refused. The driver's messages, progress and closing question go through the program's
// user interface (terminal or batch); a summary goes to `out`, problems and the usage text to
// `err`. Exit status: 0 exported, 1 the run failed (as its log reports), 2 bad arguments.
int runExport(int argc, char** argv, FILE* out, FILE* err);
