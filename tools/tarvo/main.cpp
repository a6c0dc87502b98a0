// tools/tarvo/main.cpp: the `tarvo` command-line tool: picks the subcommand and hands it the rest
// of the arguments. Each subcommand lives in a file of its own with a run function.
// Before the subcommand: --help, --version, --verbose and "--"; `tarvo help [COMMAND]` and
// `tarvo COMMAND --help` print a command's usage with its options (kHelp), all on standard output.

#include <cstdio>
#include <cstring>

#include "tools/tarvo/create.h"
#include "tools/tarvo/dump.h"
#include "tools/tarvo/export.h"
#include "tools/tarvo/import.h"

#ifndef TARVO_VERSION
#define TARVO_VERSION "unknown"
#endif

namespace {

struct Command {
    const char* name;
    int (*run)(int, char**, std::FILE*, std::FILE*);
    const char* args;
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
     "Creates the geodatabase (a GeoPackage) with every class of the product model, or completes one\n"
     "(also an enterprise geodatabase named by its connection file, NAME.sde).\n"
     "  --dataset NAME  the feature dataset (default S57; 151 bytes at most)\n"
     "  --versioned     register the feature dataset as versioned\n"},
    {"import",
     "Imports an S-57 base cell, or every base cell of an exchange set (S57FILE a CATALOG.03x), into\n"
     "the geodatabase (a GeoPackage, or an enterprise geodatabase's connection file NAME.sde), which is\n"
     "created when there is none. The log is written beside S57FILE.\n"
     "  --dataset NAME  the feature dataset (default S57; 151 bytes at most)\n"
     "  --verbose, -v   the converter's trace lines (one per record) on standard error\n"},
    {"export",
     "Exports one cell of the geodatabase to S-57 (OUTPUT the .000 file), or an exchange set with its\n"
     "CATALOG.031 (OUTPUT the catalogue to write). The log is written beside OUTPUT.\n"
     "  --cell NAME          the cell (its DSNM); needed when the geodatabase holds several\n"
     "  --exchange-set CATL  the exchange set that table catd names by CATL\n"
     "  --dataset NAME       the feature dataset (default S57)\n"
     "  --create-topology    rebuild the cell's spatial primitives from the dataset's topology first\n"},
};

void usage(std::FILE* out, const Command* cmds, std::size_t n) {
    std::fprintf(out, "usage: tarvo [--verbose] COMMAND [ARGUMENTS]\n"
                      "       tarvo --help | --version | help [COMMAND]\n"
                      "commands:\n");
    for (std::size_t i = 0; i < n; ++i) std::fprintf(out, "  tarvo %s %s\n", cmds[i].name, cmds[i].args);
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

const Command* find(const Command* cmds, std::size_t n, const char* name) {
    for (std::size_t i = 0; i < n; ++i)
        if (std::strcmp(name, cmds[i].name) == 0) return &cmds[i];
    return nullptr;
}

bool isHelp(const char* a) { return std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0; }

// Runs the command line once the table of subcommands is known.
int dispatch(int argc, char** argv, const Command* cmds, std::size_t n) {
    int at = 1;
    for (; at < argc && argv[at][0] == '-'; ++at) {
        const char* a = argv[at];
        if (isHelp(a)) {
            usage(stdout, cmds, n);
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
        usage(stderr, cmds, n);
        return 2;
    }
    if (at >= argc) {
        usage(stderr, cmds, n);
        return 2;
    }
    if (std::strcmp(argv[at], "help") == 0) {
        if (at + 1 >= argc) {
            usage(stdout, cmds, n);
            return 0;
        }
        const Command* c = find(cmds, n, argv[at + 1]);
        if (!c) {
            std::fprintf(stderr, "tarvo: unknown command %s\n", argv[at + 1]);
            usage(stderr, cmds, n);
            return 2;
        }
        commandHelp(stdout, *c);
        return 0;
    }
    const Command* c = find(cmds, n, argv[at]);
    if (!c) {
        std::fprintf(stderr, "tarvo: unknown command %s\n", argv[at]);
        usage(stderr, cmds, n);
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

}  // namespace

int main(int argc, char** argv) {
    const Command cmds[] = {
        {"dump", runDump, "[--summary | --s57] FILE"},
        {"create", runCreate, "GEODATABASE [--dataset NAME] [--versioned]"},
        {"import", runImport, "S57FILE GEODATABASE [--dataset NAME]"},
        {"export", runExport,
         "GEODATABASE OUTPUT [--cell NAME] [--exchange-set CATL] [--dataset NAME] [--create-topology]"},
    };
    const std::size_t n = sizeof cmds / sizeof cmds[0];
    return dispatch(argc, argv, cmds, n);
}
