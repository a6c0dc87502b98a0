// tests/support/test_data.h: where the real charts are, and the skip when they are not there.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace testdata {

inline std::filesystem::path root() { return TARVO_TEST_DATA; }

inline bool present() { return std::filesystem::is_directory(root()); }

// Path of a file under the data folder, e.g. path("enc/US5MA12M/US5MA12M.000").
inline std::string path(const std::string& rel) { return (root() / rel).string(); }

// Every file under the data folder whose name ends with one of the suffixes (case ignored), sorted.
inline std::vector<std::string> files(const std::vector<std::string>& suffixes) {
    std::vector<std::string> out;
    if (!present()) return out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root())) {
        if (!e.is_regular_file()) continue;
        std::string name = e.path().filename().string();
        for (auto& c : name) c = char(std::toupper(static_cast<unsigned char>(c)));
        for (auto s : suffixes) {
            for (auto& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
            if (name.size() >= s.size() && name.compare(name.size() - s.size(), s.size(), s) == 0) {
                out.push_back(e.path().string());
                break;
            }
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace testdata

#define SKIP_WITHOUT_DATA()                                                                  \
    do {                                                                                     \
        if (!testdata::present())                                                            \
            GTEST_SKIP() << "test data folder " << testdata::root() << " is absent";         \
    } while (0)
