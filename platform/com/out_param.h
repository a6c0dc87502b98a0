// platform/com/out_param.h: what a method's out parameter and a property's put do with a value:
// E_POINTER for a null out pointer, a reference added to an interface handed out.
#pragma once

#include <type_traits>
#include <utility>

#include "platform/com/basetypes.h"

template <class I>
HRESULT givePtr(I* p, I** out) {
    if (!out) return E_POINTER;
    *out = p;
    if (p) p->AddRef();
    return S_OK;
}

// A plain value into an out parameter.
template <class T>
HRESULT giveValue(const std::type_identity_t<T>& v, T* out) {
    if (!out) return E_POINTER;
    *out = v;
    return S_OK;
}

// A property's new value into the member that holds it.
template <class M, class V>
HRESULT keepValue(M& member, V&& v) {
    member = std::forward<V>(v);
    return S_OK;
}
