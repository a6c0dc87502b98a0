// platform/com/com_ptr.h: reference-counted interface pointers. Taking a pointer of another interface
// asks the object for it (null when it lacks it); creating by CLSID or ProgID throws on failure.
#pragma once

#include <memory>
#include <type_traits>
#include <utility>

#include "platform/com/basetypes.h"
#include "platform/com/class_registry.h"
#include "platform/com/com_error.h"
#include "platform/com/guid.h"
#include "platform/com/unknown.h"

template <class I>
class _com_ptr_t {
public:
    using Interface = I;

    _com_ptr_t() noexcept = default;
    _com_ptr_t(std::nullptr_t) noexcept {}
    _com_ptr_t(I* p) noexcept : p_(p) {
        if (p_) p_->AddRef();
    }
    _com_ptr_t(I* p, bool addRef) noexcept : p_(p) {
        if (p_ && addRef) p_->AddRef();
    }
    _com_ptr_t(const _com_ptr_t& o) noexcept : _com_ptr_t(o.p_) {}
    _com_ptr_t(_com_ptr_t&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}

    // From a pointer to another interface: QueryInterface.
    template <class J, class = std::enable_if_t<!std::is_same_v<J, I>>>
    _com_ptr_t(const _com_ptr_t<J>& o) noexcept {
        query(o.GetInterfacePtr());
    }
    template <class J, class = std::enable_if_t<!std::is_same_v<J, I> && std::is_base_of_v<IUnknown, J>>>
    _com_ptr_t(J* o) noexcept {
        query(o);
    }

    explicit _com_ptr_t(REFCLSID clsid) { check(CreateInstance(clsid)); }
    explicit _com_ptr_t(const char* progId) { check(CreateInstance(progId)); }
    explicit _com_ptr_t(const wchar_t* progId) { check(CreateInstance(progId)); }

    ~_com_ptr_t() { Release(); }

    _com_ptr_t& operator=(const _com_ptr_t& o) noexcept {
        if (p_ != o.p_) _com_ptr_t(o).swap(*this);
        return *this;
    }
    _com_ptr_t& operator=(_com_ptr_t&& o) noexcept {
        if (this != std::addressof(o)) {
            Release();
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }
    _com_ptr_t& operator=(I* p) noexcept {
        if (p_ != p) _com_ptr_t(p).swap(*this);
        return *this;
    }
    _com_ptr_t& operator=(std::nullptr_t) noexcept {
        Release();
        return *this;
    }
    template <class J, class = std::enable_if_t<!std::is_same_v<J, I>>>
    _com_ptr_t& operator=(const _com_ptr_t<J>& o) noexcept {
        _com_ptr_t(o).swap(*this);
        return *this;
    }
    template <class J, class = std::enable_if_t<!std::is_same_v<J, I> && std::is_base_of_v<IUnknown, J>>>
    _com_ptr_t& operator=(J* o) noexcept {
        _com_ptr_t(o).swap(*this);
        return *this;
    }

    HRESULT CreateInstance(REFCLSID clsid, IUnknown* outer = nullptr, DWORD ctx = CLSCTX_ALL) noexcept {
        Release();
        return CoCreateInstance(clsid, outer, ctx, I::iid, reinterpret_cast<void**>(&p_));
    }
    HRESULT CreateInstance(const char* progId, IUnknown* outer = nullptr, DWORD ctx = CLSCTX_ALL) noexcept {
        CLSID clsid;
        HRESULT hr = CLSIDFromProgID(progId, &clsid);
        if (FAILED(hr)) {
            Release();
            return hr;
        }
        return CreateInstance(clsid, outer, ctx);
    }
    HRESULT CreateInstance(const wchar_t* progId, IUnknown* outer = nullptr, DWORD ctx = CLSCTX_ALL) noexcept {
        return CreateInstance(progId ? toUtf8(progId).c_str() : nullptr, outer, ctx);
    }

    template <class J>
    HRESULT QueryInterface(REFIID riid, J** out) const noexcept {
        if (!p_) return E_POINTER;
        return p_->QueryInterface(riid, reinterpret_cast<void**>(out));
    }

    void Release() noexcept {
        if (I* p = std::exchange(p_, nullptr)) p->Release();
    }
    void Attach(I* p) noexcept {
        Release();
        p_ = p;
    }
    I* Detach() noexcept { return std::exchange(p_, nullptr); }
    I* GetInterfacePtr() const noexcept { return p_; }
    void swap(_com_ptr_t& o) noexcept { std::swap(p_, o.p_); }

    I* operator->() const {
        if (!p_) _com_issue_error(E_POINTER);
        return p_;
    }
    I& operator*() const {
        if (!p_) _com_issue_error(E_POINTER);
        return *p_;
    }
    operator I*() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    bool operator!() const noexcept { return p_ == nullptr; }
    // For an out parameter: the old pointer is released first.
    I** operator&() noexcept {
        Release();
        return &p_;
    }

    template <class J>
    bool operator==(const _com_ptr_t<J>& o) const noexcept {
        return sameObject(p_, o.GetInterfacePtr());
    }
    bool operator==(std::nullptr_t) const noexcept { return p_ == nullptr; }
    template <class J>
    bool operator==(J* o) const noexcept {
        return sameObject(p_, o);
    }

private:
    void query(IUnknown* o) noexcept {
        if (o) o->QueryInterface(I::iid, reinterpret_cast<void**>(&p_));
    }
    // Two interface pointers name one object when their IUnknowns are the same.
    static bool sameObject(IUnknown* a, IUnknown* b) noexcept {
        if (a == b) return true;
        if (!a || !b) return false;
        IUnknown* ua = nullptr;
        IUnknown* ub = nullptr;
        a->QueryInterface(IUnknown::iid, reinterpret_cast<void**>(&ua));
        b->QueryInterface(IUnknown::iid, reinterpret_cast<void**>(&ub));
        const bool same = ua == ub;
        if (ua) ua->Release();
        if (ub) ub->Release();
        return same;
    }

    I* p_ = nullptr;
};

#define _COM_SMARTPTR_TYPEDEF(Interface, iidExpr) using Interface##Ptr = _com_ptr_t<Interface>

_COM_SMARTPTR_TYPEDEF(IUnknown, IUnknown::iid);
_COM_SMARTPTR_TYPEDEF(IDispatch, IDispatch::iid);
