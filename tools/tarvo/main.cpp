// tools/tarvo/main.cpp: the `tarvo` command-line tool: the options before the subcommand, help and
// version, then the subcommand, which gets the rest of the arguments. Each subcommand lives in a
// file of its own with a run function and one line in the table below.

#include <cstdio>
#include <cstring>

#include "tools/tarvo/create.h"
#include "tools/tarvo/dump.h"
#include "tools/tarvo/import.h"
#include "tools/tarvo/options.h"

#ifndef TARVO_VERSION
#define TARVO_VERSION "unknown"
#endif

namespace {

struct Command {
    const char* name;
    int (*run)(int, char**, std::FILE*, std::FILE*);
    const char* args;
};

const Command kCommands[] = {
    {"dump", runDump, "[--summary | --s57] FILE"},
    {"create", runCreate, "GEODATABASE [--dataset NAME]"},
    {"import", runImport, "S57FILE GEODATABASE [--dataset NAME] [--verbose]"},
};

// What each option of a subcommand does; a subcommand without an entry shows its usage line alone.
struct CommandHelp {
    const char* name;
    const char* text;
};
const CommandHelp kHelp[] = {
    {"dump",
     "Prints an ISO/IEC 8211 file: its DDR and every data record with its fields and subfields.\n"
     "  --summary       the record count and the records holding each field tag\n"
     "  --s57           the records as the S-57 record layer decodes them\n"},
    {"create",
     "Creates the geodatabase (a GeoPackage) with every class of the product model, or completes one.\n"
     "  --dataset NAME  the feature dataset (default S57; 151 bytes at most)\n"},
    {"import",
     "Imports an S-57 base cell, or every base cell of an exchange set (S57FILE a CATALOG.03x), into\n"
     "the geodatabase, which is created when there is none. The log is written beside S57FILE.\n"
     "  --dataset NAME  the feature dataset (default S57; 151 bytes at most)\n"
     "  --verbose, -v   the converter's trace lines (one per record) on standard error\n"},
};

const Command* find(const char* name) {
    for (const Command& c : kCommands)
        if (std::strcmp(name, c.name) == 0) return &c;
    return nullptr;
}

void usage(std::FILE* out) {
    std::fprintf(out, "usage: tarvo [--verbose] COMMAND [ARGUMENTS]\n       tarvo --help | --version | help [COMMAND]\n"
                      "commands:\n");
    for (const Command& c : kCommands) std::fprintf(out, "  tarvo %s %s\n", c.name, c.args);
    std::fprintf(out, "options:\n"
                      "  --verbose, -v   the converter's trace lines on standard error\n"
                      "  --help, -h      this text; `tarvo help COMMAND` or `tarvo COMMAND --help` for one command\n"
                      "  --version       the tool's version\n"
                      "  --              ends the options (for a file name that begins with '-')\n");
}

void commandHelp(std::FILE* out, const Command& c) {
    std::fprintf(out, "usage: tarvo %s %s\n", c.name, c.args);
    for (const CommandHelp& h : kHelp)
        if (std::strcmp(h.name, c.name) == 0) std::fputs(h.text, out);
    std::fputs("  --help, -h      this text\n  --              ends the options\n", out);
}

bool isHelp(const char* a) { return std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0; }

}  // namespace

int main(int argc, char** argv) {
    int at = 1;
    for (; at < argc && argv[at][0] == '-'; ++at) {
        const char* a = argv[at];
        if (isHelp(a)) {
            usage(stdout);
            return 0;
        }
        if (std::strcmp(a, "--version") == 0 || std::strcmp(a, "-V") == 0) {
            std::printf("tarvo %s\n", TARVO_VERSION);
            return 0;
        }
        if (std::strcmp(a, "--verbose") == 0 || std::strcmp(a, "-v") == 0) {
            verboseOutput() = true;
            continue;
        }
        if (std::strcmp(a, "--") == 0) {
            ++at;
            break;
        }
        std::fprintf(stderr, "tarvo: unknown option %s\n", a);
        usage(stderr);
        return 2;
    }
    if (at >= argc) {
        usage(stderr);
        return 2;
    }
    if (std::strcmp(argv[at], "help") == 0) {
        if (at + 1 >= argc) {
            usage(stdout);
            return 0;
        }
        const Command* c = find(argv[at + 1]);
        if (!c) {
            std::fprintf(stderr, "tarvo: unknown command %s\n", argv[at + 1]);
            usage(stderr);
            return 2;
        }
        commandHelp(stdout, *c);
        return 0;
    }
    const Command* c = find(argv[at]);
    if (!c) {
        std::fprintf(stderr, "tarvo: unknown command %s\n", argv[at]);
        usage(stderr);
        return 2;
    }
    // `tarvo COMMAND --help`, wherever it stands among the options.
    for (int i = at + 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
        if (isHelp(argv[i])) {
            commandHelp(stdout, *c);
            return 0;
        }
    return c->run(argc - at, argv + at, stdout, stderr);
}
