// tools/tarvo/option_value.h: an option of the subcommands that takes a value, given as
// `--name VALUE` or `--name=VALUE`; an empty value is no value.
#pragma once

#include <cstring>
#include <string>

// Whether argv[i] is `option`: 1 when it is, with its value in `to` (i moved past a separate value);
// -1 when it is but no value follows; 0 when it is another argument (`--name=` among them).
inline int optionValue(int argc, char** argv, int& i, const char* option, std::string& to) {
    const char* a = argv[i];
    const std::size_t n = std::strlen(option);
    if (std::strcmp(a, option) == 0) {
        if (i + 1 >= argc || !argv[i + 1][0]) return -1;
        to = argv[++i];
        return 1;
    }
    if (std::strncmp(a, option, n) == 0 && a[n] == '=' && a[n + 1]) {
        to = a + n + 1;
        return 1;
    }
    return 0;
}
