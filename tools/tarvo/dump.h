// tools/tarvo/dump.h: `tarvo dump [--summary | --s57] FILE`, an ISO 8211 file as the library reads it.
#pragma once

#include <cstdio>

// argv[0] is the command's name ("dump"), argv[1..argc-1] its arguments. The dump goes to `out`;
// one message naming the file and the problem, or the usage text, to `err`.
// Exit status: 0 read to its end, 1 failed, 2 bad arguments.
int runDump(int argc, char** argv, std::FILE* out, std::FILE* err);
