// platform/com/unknown.h: IUnknown and the base that implements it for the platform's own classes.
// QueryInterface answers E_NOINTERFACE (and a null pointer) for an interface the object lacks.
#pragma once

#include <atomic>
#include <new>
#include <type_traits>

#include "platform/com/basetypes.h"
#include "platform/com/guid.h"

struct IUnknown {
    static constexpr GUID iid = makeGuid("{00000000-0000-0000-C000-000000000046}");
    using base_interface = void;
    virtual HRESULT QueryInterface(REFIID riid, void** out) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

struct VARIANT;
using DISPID = LONG;
using LCID = DWORD;
using LPOLESTR = OLECHAR*;

constexpr DISPID DISPID_UNKNOWN = -1;
constexpr WORD DISPATCH_METHOD = 0x1;
constexpr WORD DISPATCH_PROPERTYGET = 0x2;

// The arguments of an Invoke, the last argument first (rgvarg[0] is the last one).
struct DISPPARAMS {
    VARIANT* rgvarg;
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    void* pvReserved;
    void* pfnDeferredFillIn;
    HRESULT scode;
};

// Late binding by name. Objects reached only through their own interfaces keep the E_NOTIMPL
// defaults; automation objects answer through their type library (platform/com/typelib.h).
struct IDispatch : IUnknown {
    static constexpr GUID iid = makeGuid("{00020400-0000-0000-C000-000000000046}");
    using base_interface = IUnknown;

    virtual HRESULT GetTypeInfoCount(UINT* count) {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    // The DISPIDs of a member name (names[0]) and of its parameters' names (names[1..]).
    virtual HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }
    virtual HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
        return E_NOTIMPL;
    }

protected:
    ~IDispatch() = default;
};

// An interface that derives from another declares `using base_interface = IBase;` so that
// QueryInterface also answers for the base.
namespace com_detail {
template <class I, class Self>
bool findInterface(Self* self, REFIID riid, void** out) {
    if constexpr (std::is_void_v<I> || std::is_same_v<I, IUnknown>) {
        return false;  // IUnknown itself is answered through the first interface
    } else {
        if (riid == I::iid) {
            *out = static_cast<I*>(self);
            return true;
        }
        return findInterface<typename I::base_interface>(self, riid, out);
    }
}
}  // namespace com_detail

// Implements IUnknown for a class that implements the listed interfaces:
//   class Point : public ComObject<IPoint, IClone> { ... };
// The reference count starts at 0; whoever first takes the object (a smart pointer, a factory) adds the
// first reference.
template <class First, class... Rest>
class ComObject : public First, public Rest... {
public:
    ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;
    virtual ~ComObject() = default;

    HRESULT QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (riid == IUnknown::iid) {
            *out = static_cast<IUnknown*>(static_cast<First*>(this));
        } else if (refuse(riid) || !(com_detail::findInterface<First>(this, riid, out) ||
                                     (com_detail::findInterface<Rest>(this, riid, out) || ...))) {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    // The identity pointer of this object.
    IUnknown* unknown() { return static_cast<IUnknown*>(static_cast<First*>(this)); }

protected:
    // An object that implements an interface only in some of its forms refuses it here.
    virtual bool refuse(REFIID) { return false; }

private:
    std::atomic<ULONG> refs_{0};
};

// Factory of a class by CLSID: creates a T and gives out the interface asked for.
template <class T>
HRESULT createComInstance(REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    T* obj = new (std::nothrow) T();
    if (!obj) return E_OUTOFMEMORY;
    obj->AddRef();
    HRESULT hr = obj->QueryInterface(riid, out);
    obj->Release();
    return hr;
}
