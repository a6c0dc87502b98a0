// platform/host/uid.cpp: the UID object ("Host.UID") and UID comparison.

#include "platform/host/uid.h"

#include <cctype>

namespace host {
namespace {

class Uid : public ComObject<IUID> {
public:
    HRESULT get_Value(BSTR* value) override {
        if (!value) return E_POINTER;
        *value = SysAllocString(value_.c_str());
        return *value ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT put_Value(BSTR value) override {
        return comGuard([&] {
            value_ = value ? std::wstring(value, SysStringLen(value)) : std::wstring();
            return S_OK;
        });
    }

private:
    std::wstring value_;
};

const ComClassRegistrar registerUid(CLSID_UID, "Host.UID", &createComInstance<Uid>);

}  // namespace

std::string uidKey(const std::string& value) {
    if (auto g = guidFromString(value)) return guidToString(*g);
    CLSID clsid;
    if (!value.empty() && SUCCEEDED(CLSIDFromProgID(value.c_str(), &clsid))) return guidToString(clsid);
    std::string lower = value;
    for (auto& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

bool sameUid(const std::string& a, const std::string& b) { return uidKey(a) == uidKey(b); }

IUIDPtr makeUid(const std::string& value) {
    IUIDPtr uid(CLSID_UID);
    uid->PutValue(value.c_str());
    return uid;
}

}  // namespace host
