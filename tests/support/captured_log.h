// tests/support/captured_log.h: the run's log (logFile) pointed at memory for a scope, and its text.
#pragma once

#include <stdio.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "s57/s57_util2.h"

namespace testsupport {

class CapturedLog {
public:
    CapturedLog() : saved_(logFile) {
        mem_ = open_memstream(&buf_, &size_);
        logFile = mem_;
    }
    ~CapturedLog() {
        logFile = saved_;
        if (mem_) std::fclose(mem_);
        std::free(buf_);
    }
    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;

    std::string text() {
        if (!mem_) return {};
        std::fflush(mem_);
        return std::string(buf_, size_);
    }

private:
    char* buf_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* mem_ = nullptr;
    std::FILE* saved_ = nullptr;
};

}  // namespace testsupport
