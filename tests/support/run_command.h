// tests/support/run_command.h: a program run through the shell as a user runs it, for the tests of
// the command-line tools: its exit status and what it wrote to standard output and error.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

struct Ran {
    int status = -1;  // -1: the program did not exit on its own
    std::string out, err;
};

// The whole file; empty when it cannot be read.
inline std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// `s` as one word of the shell.
inline std::string quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Runs `command` in the shell, its standard error sent to `errPath` (left there).
inline Ran runCommand(const std::string& command, const std::filesystem::path& errPath) {
    Ran r;
    if (FILE* p = popen((command + " 2>" + quote(errPath.string())).c_str(), "r")) {
        char buf[65536];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
        const int st = pclose(p);
        r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }
    r.err = slurp(errPath);
    return r;
}
