// tools/tarvo/create.h: `tarvo create GEODATABASE [--dataset NAME]`, the geodatabase template of the
// product model in a new or existing personal geodatabase.
#pragma once

#include <cstdio>

// argv[0] is the command's name ("create"), argv[1..argc-1] its arguments. What was done goes to
// `out`, problems and the usage text to `err`. Exit status: 0 done, 1 failed, 2 bad arguments.
int runCreate(int argc, char** argv, FILE* out, FILE* err);
