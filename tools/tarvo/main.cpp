// tools/tarvo/main.cpp: the `tarvo` command-line tool: picks the subcommand and hands it the rest
// of the arguments. Each subcommand lives in a file of its own with a run function.

#include <cstdio>
#include <cstring>

#include "tools/tarvo/create.h"
#include "tools/tarvo/dump.h"
#include "tools/tarvo/export.h"
#include "tools/tarvo/import.h"

namespace {

struct Command {
    const char* name;
    int (*run)(int, char**, std::FILE*, std::FILE*);
    const char* args;
};

void usage(std::FILE* err, const Command* cmds, std::size_t n) {
    std::fprintf(err, "usage: tarvo COMMAND [ARGUMENTS]\ncommands:\n");
    for (std::size_t i = 0; i < n; ++i)
        std::fprintf(err, "  tarvo %s %s\n", cmds[i].name, cmds[i].args);
}

}  // namespace

int main(int argc, char** argv) {
    const Command cmds[] = {
        {"dump", runDump, "[--summary | --s57] FILE"},
        {"create", runCreate, "GEODATABASE [--dataset NAME]"},
        {"import", runImport, "S57FILE GEODATABASE [--dataset NAME]"},
        {"export", runExport, "GEODATABASE OUTPUT [--cell NAME] [--exchange-set CATL] [--dataset NAME]"},
    };
    const std::size_t n = sizeof cmds / sizeof cmds[0];
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        usage(stderr, cmds, n);
        return argc < 2 ? 2 : 0;
    }
    for (const Command& c : cmds)
        if (std::strcmp(argv[1], c.name) == 0) return c.run(argc - 1, argv + 1, stdout, stderr);
    std::fprintf(stderr, "tarvo: unknown command %s\n", argv[1]);
    usage(stderr, cmds, n);
    return 2;
}
