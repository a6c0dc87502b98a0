// platform/com/typelib.cpp: type library registration and the IDispatch helpers.
#include "platform/com/typelib.h"

#include <cstdio>
#include <cwctype>

#include "platform/com/com_error.h"

namespace {

bool sameName(const wchar_t* a, const char* b) {
    const std::wstring wb = fromUtf8(b);
    const wchar_t* p = wb.c_str();
    for (; *a && *p; ++a, ++p)
        if (std::towlower(*a) != std::towlower(*p)) return false;
    return *a == 0 && *p == 0;
}

std::string versionText(const TypeLibInfo& lib) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%x.%x", unsigned(lib.majorVersion), unsigned(lib.minorVersion));
    return buf;
}

void removeIfEmpty(reg::Key& root, const std::string& path) {
    if (const reg::Key* k = root.find(path); k && k->empty()) root.remove(path);
}

}  // namespace

void registerTypeLib(reg::Key& root, const TypeLibInfo& lib, const std::string& modulePath) {
    const std::string libid = guidToString(lib.libid);
    const std::string version = versionText(lib);
    reg::Key& v = root.create("HKEY_CLASSES_ROOT\\TypeLib\\" + libid + "\\" + version);
    v.setDefault(lib.helpString);
    v.create("0\\linux").setDefault(modulePath);
    v.create("FLAGS").setDefault("0");
    const auto slash = modulePath.rfind('/');
    v.create("HELPDIR").setDefault(slash == std::string::npos ? std::string() : modulePath.substr(0, slash));
    for (const CoclassInfo& c : lib.coclasses) {
        if (!c.defaultInterface) continue;
        reg::Key& itf = root.create("HKEY_CLASSES_ROOT\\Interface\\" + guidToString(c.defaultInterface->iid));
        itf.setDefault(c.defaultInterface->name);
        reg::Key& tl = itf.create("TypeLib");
        tl.setDefault(libid);
        tl.setValue("Version", version);
    }
}

void unregisterTypeLib(reg::Key& root, const TypeLibInfo& lib) {
    const std::string libKey = "HKEY_CLASSES_ROOT\\TypeLib\\" + guidToString(lib.libid);
    root.remove(libKey + "\\" + versionText(lib));
    removeIfEmpty(root, libKey);
    removeIfEmpty(root, "HKEY_CLASSES_ROOT\\TypeLib");
    for (const CoclassInfo& c : lib.coclasses)
        if (c.defaultInterface) root.remove("HKEY_CLASSES_ROOT\\Interface\\" + guidToString(c.defaultInterface->iid));
    removeIfEmpty(root, "HKEY_CLASSES_ROOT\\Interface");
}

HRESULT dispatchIDsOfNames(const InterfaceInfo& itf, LPOLESTR* names, UINT count, DISPID* ids) {
    if (!names || !ids) return E_POINTER;
    if (count == 0) return S_OK;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    const MethodInfo* method = nullptr;
    for (const MethodInfo& m : itf.methods)
        if (names[0] && sameName(names[0], m.name)) method = &m;
    if (!method) return DISP_E_UNKNOWNNAME;
    ids[0] = method->dispid;
    HRESULT hr = S_OK;
    for (UINT i = 1; i < count; ++i) {
        for (std::size_t p = 0; p < method->params.size(); ++p)
            if (names[i] && sameName(names[i], method->params[p].name)) ids[i] = DISPID(p);
        if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT dispatchInvoke(const InterfaceInfo& itf, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                       EXCEPINFO* excep, UINT* argErr, const DispatchBody& body) noexcept {
    const MethodInfo* method = nullptr;
    for (const MethodInfo& m : itf.methods)
        if (m.dispid == id) method = &m;
    if (!method || !(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
    if (!params) return E_POINTER;
    if (params->cNamedArgs > 0) return DISP_E_NONAMEDARGS;
    if (params->cArgs != method->params.size()) return DISP_E_BADPARAMCOUNT;
    if (params->cArgs > 0 && !params->rgvarg) return E_POINTER;
    if (result) VariantInit(result);
    const HRESULT hr = comGuard([&]() -> HRESULT {
        std::vector<_variant_t> args(params->cArgs);
        for (UINT i = 0; i < params->cArgs; ++i) {
            // rgvarg holds the last argument first.
            const UINT slot = params->cArgs - 1 - i;
            const VARTYPE want = method->params[i].type;
            if (want == VT_VARIANT) {
                args[i] = _variant_t(params->rgvarg[slot]);
                continue;
            }
            const HRESULT conv = VariantChangeType(&args[i], &params->rgvarg[slot], 0, want);
            if (FAILED(conv)) {
                if (argErr) *argErr = slot;
                return conv;
            }
        }
        return body(*method, args, result);
    });
    if (FAILED(hr) && excep && hr != DISP_E_TYPEMISMATCH && hr != DISP_E_OVERFLOW) {
        *excep = EXCEPINFO{};
        excep->bstrSource = SysAllocString(fromUtf8(itf.name).c_str());
        const std::wstring d = takeErrorDescription();
        excep->bstrDescription = SysAllocString(d.c_str());
        excep->scode = hr;
    }
    return hr;
}

HRESULT invokeByName(IDispatch* object, const wchar_t* name, std::vector<_variant_t> args, VARIANT* result) {
    if (!object || !name) return E_POINTER;
    std::wstring text(name);
    LPOLESTR names[1] = {text.data()};
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = object->GetIDsOfNames(GUID_NULL, names, 1, 0, &id);
    if (FAILED(hr)) return hr;
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr, UINT(reversed.size()), 0};
    EXCEPINFO excep{};
    UINT argErr = 0;
    hr = object->Invoke(id, GUID_NULL, 0, DISPATCH_METHOD, &params, result, &excep, &argErr);
    if (excep.bstrDescription) setErrorDescription(std::wstring_view(excep.bstrDescription));
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
    return hr;
}
