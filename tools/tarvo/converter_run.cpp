// tools/tarvo/converter_run.cpp: the registered converter's call and the report of a run without
// an outcome, shared by `tarvo import` and `tarvo export`.
#include "tools/tarvo/converter_run.h"

#include "platform/com/typelib.h"

bool invokeRegistered(const char* progId, const wchar_t* method, std::vector<_variant_t> args, std::string* failure) {
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(progId, &clsid))) return false;
    IDispatchPtr converter;
    HRESULT hr = converter.CreateInstance(clsid);
    if (SUCCEEDED(hr)) hr = invokeByName(converter, method, std::move(args));
    if (FAILED(hr)) {
        const std::string description = toUtf8(takeErrorDescription());
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", unsigned(hr));
        *failure = std::string("the registered converter ") + progId + " failed: " + code + " " + errorMessageOf(hr) +
                   (description.empty() ? "" : ": ") + description;
    }
    return true;
}

bool reportUnseenOutcome(const char* command, const char* subject, const std::string& registryFailure,
                         bool outcomeSeen, const std::string& logPath, FILE* err) {
    if (!registryFailure.empty()) {
        std::fprintf(err, "tarvo %s: %s\n", command, registryFailure.c_str());
        return true;
    }
    if (!outcomeSeen) {
        std::fprintf(err,
                     "tarvo %s: %s: the registered converter is another copy of the module; how its run ended "
                     "is in its log %s\n",
                     command, subject, logPath.c_str());
        return true;
    }
    return false;
}
