// tests/support/silence.h: standard output and error sent to /dev/null for a scope; the catalogue
// loader, the importers and the exporters trace every record, and the test output stays readable.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

class Silence {
public:
    Silence() {
        std::fflush(stdout);
        std::fflush(stderr);
        out_ = dup(1);
        err_ = dup(2);
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, 1);
            dup2(null, 2);
            close(null);
        }
    }
    ~Silence() {
        std::fflush(stdout);
        std::fflush(stderr);
        if (out_ >= 0) dup2(out_, 1), close(out_);
        if (err_ >= 0) dup2(err_, 2), close(err_);
    }
    Silence(const Silence&) = delete;
    Silence& operator=(const Silence&) = delete;

private:
    int out_ = -1, err_ = -1;
};
