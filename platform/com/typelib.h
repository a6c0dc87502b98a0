// platform/com/typelib.h: type libraries as descriptions compiled into their module, their
// registration, and IDispatch driven by them. An automation caller names a method, gets its DISPID,
// and invokes it with VARIANT arguments, which are converted to the declared parameter types.
// Invoke results: DISP_E_MEMBERNOTFOUND (no such DISPID), DISP_E_BADPARAMCOUNT, DISP_E_NONAMEDARGS,
// DISP_E_TYPEMISMATCH / DISP_E_OVERFLOW with *argErr the index of the argument (as DISPPARAMS
// counts it, the last argument 0), or the method's own result.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <vector>

#include "platform/com/registry.h"
#include "platform/com/unknown.h"
#include "platform/com/variant.h"

struct ParamInfo {
    const char* name;
    VARTYPE type;  // VT_BSTR, VT_BOOL, VT_I4, VT_R8 or VT_VARIANT (passed as given)
};

struct MethodInfo {
    const char* name;
    DISPID dispid;
    std::span<const ParamInfo> params;
};

struct InterfaceInfo {
    const char* name;
    IID iid;
    const char* helpString;
    std::span<const MethodInfo> methods;
};

struct CoclassInfo {
    const char* name;
    CLSID clsid;
    const char* helpString;
    const InterfaceInfo* defaultInterface;
};

struct TypeLibInfo {
    const char* name;
    GUID libid;
    WORD majorVersion;
    WORD minorVersion;
    const char* helpString;
    std::span<const CoclassInfo> coclasses;
};

// Writes HKCR\TypeLib\{libid}\MAJOR.MINOR (help string; 0\linux = the module; FLAGS; HELPDIR) and
// HKCR\Interface\{iid} (name; TypeLib with its Version) for the interface of every coclass.
void registerTypeLib(reg::Key& root, const TypeLibInfo& lib, const std::string& modulePath);
// Removes what registerTypeLib wrote, and the TypeLib and Interface keys when that empties them.
void unregisterTypeLib(reg::Key& root, const TypeLibInfo& lib);

// GetIDsOfNames over one interface: names[0] a method (case ignored), names[1..] its parameters
// (their positions as DISPIDs). DISP_E_UNKNOWNNAME with DISPID_UNKNOWN for each name not found.
HRESULT dispatchIDsOfNames(const InterfaceInfo& itf, LPOLESTR* names, UINT count, DISPID* ids);

// The arguments of a method, in declaration order, each of its declared type.
using DispatchBody = std::function<HRESULT(const MethodInfo& method, std::vector<_variant_t>& args,
                                           VARIANT* result)>;

// Invoke over one interface: finds the method, checks and converts the arguments, runs `body` in a
// comGuard (so nothing it throws leaves), and fills *excep with the description on failure.
HRESULT dispatchInvoke(const InterfaceInfo& itf, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                       EXCEPINFO* excep, UINT* argErr, const DispatchBody& body) noexcept;

// The caller's side: GetIDsOfNames then Invoke with the arguments in their natural order.
HRESULT invokeByName(IDispatch* object, const wchar_t* name, std::vector<_variant_t> args,
                     VARIANT* result = nullptr);
