// platform/com/variant.cpp: VARIANT lifetime and conversions.
#include "platform/com/variant.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <limits>
#include <string>

#include "platform/com/com_error.h"

void VariantInit(VARIANT* v) {
    if (!v) return;
    v->vt = VT_EMPTY;
    v->llVal = 0;
}

HRESULT VariantClear(VARIANT* v) {
    if (!v) return E_INVALIDARG;
    switch (v->vt) {
        case VT_BSTR:
            SysFreeString(v->bstrVal);
            break;
        case VT_UNKNOWN:
        case VT_DISPATCH:
            if (v->punkVal) v->punkVal->Release();
            break;
        default:
            break;
    }
    VariantInit(v);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* dst, const VARIANT* src) {
    if (!dst || !src) return E_INVALIDARG;
    if (dst == src) return S_OK;
    VARIANT tmp = *src;
    if (src->vt == VT_BSTR && src->bstrVal) {
        tmp.bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
        if (!tmp.bstrVal) return E_OUTOFMEMORY;
    } else if ((src->vt == VT_UNKNOWN || src->vt == VT_DISPATCH) && src->punkVal) {
        src->punkVal->AddRef();
    }
    VariantClear(dst);
    *dst = tmp;
    return S_OK;
}

namespace {

// A value read out of a variant, before it is narrowed to the target type.
struct Scalar {
    enum Kind { Int, Real } kind = Int;
    long long i = 0;
    double d = 0;
};

HRESULT parseNumber(const wchar_t* text, UINT len, Scalar& out) {
    std::wstring s(text ? text : L"", len);
    std::size_t b = s.find_first_not_of(L" \t");
    if (b == std::wstring::npos) {
        out = Scalar{};
        return S_OK;
    }
    std::size_t e = s.find_last_not_of(L" \t");
    s = s.substr(b, e - b + 1);
    wchar_t* end = nullptr;
    errno = 0;
    long long iv = std::wcstoll(s.c_str(), &end, 10);
    if (end && *end == L'\0' && errno == 0) {
        out.kind = Scalar::Int;
        out.i = iv;
        return S_OK;
    }
    errno = 0;
    double dv = std::wcstod(s.c_str(), &end);
    if (!end || *end != L'\0') return DISP_E_TYPEMISMATCH;
    if (errno == ERANGE && std::isinf(dv)) return DISP_E_OVERFLOW;
    out.kind = Scalar::Real;
    out.d = dv;
    return S_OK;
}

HRESULT readScalar(const VARIANT& v, Scalar& out) {
    switch (v.vt) {
        case VT_EMPTY: out = Scalar{}; return S_OK;
        case VT_I2: out.kind = Scalar::Int; out.i = v.iVal; return S_OK;
        case VT_I4: out.kind = Scalar::Int; out.i = v.lVal; return S_OK;
        case VT_INT: out.kind = Scalar::Int; out.i = v.intVal; return S_OK;
        case VT_UI1: out.kind = Scalar::Int; out.i = v.bVal; return S_OK;
        case VT_I8: out.kind = Scalar::Int; out.i = v.llVal; return S_OK;
        case VT_BOOL: out.kind = Scalar::Int; out.i = v.boolVal ? -1 : 0; return S_OK;
        case VT_ERROR: out.kind = Scalar::Int; out.i = v.scode; return S_OK;
        case VT_R4: out.kind = Scalar::Real; out.d = v.fltVal; return S_OK;
        case VT_R8: out.kind = Scalar::Real; out.d = v.dblVal; return S_OK;
        case VT_DATE: out.kind = Scalar::Real; out.d = v.date; return S_OK;
        case VT_BSTR: return parseNumber(v.bstrVal, SysStringLen(v.bstrVal), out);
        default: return DISP_E_TYPEMISMATCH;
    }
}

// Integers from reals round half away from zero, as the automation conversions did (banker's
// rounding there; the difference never matters for the counts and codes that pass through here).
HRESULT toInteger(const Scalar& s, long long lo, long long hi, long long& out) {
    if (s.kind == Scalar::Int) {
        if (s.i < lo || s.i > hi) return DISP_E_OVERFLOW;
        out = s.i;
        return S_OK;
    }
    if (std::isnan(s.d)) return DISP_E_OVERFLOW;
    double r = std::round(s.d);
    // double(INT64_MAX) rounds up to 2^63, which no long long holds: the bound above is hi + 1.
    if (r < double(lo) || r >= double(hi) + 1.0) return DISP_E_OVERFLOW;
    out = static_cast<long long>(r);
    return S_OK;
}

std::wstring numberText(const VARIANT& v) {
    wchar_t buf[64];
    switch (v.vt) {
        case VT_I2: std::swprintf(buf, 64, L"%d", int(v.iVal)); break;
        case VT_I4: std::swprintf(buf, 64, L"%ld", long(v.lVal)); break;
        case VT_INT: std::swprintf(buf, 64, L"%d", v.intVal); break;
        case VT_UI1: std::swprintf(buf, 64, L"%u", unsigned(v.bVal)); break;
        case VT_I8: std::swprintf(buf, 64, L"%lld", static_cast<long long>(v.llVal)); break;
        case VT_BOOL: return v.boolVal ? L"True" : L"False";
        case VT_R4: std::swprintf(buf, 64, L"%.7g", double(v.fltVal)); break;
        case VT_R8: std::swprintf(buf, 64, L"%.15g", v.dblVal); break;
        case VT_DATE: std::swprintf(buf, 64, L"%.15g", v.date); break;
        case VT_ERROR: std::swprintf(buf, 64, L"%ld", long(v.scode)); break;
        default: buf[0] = L'\0';
    }
    return buf;
}

}  // namespace

HRESULT VariantChangeType(VARIANT* dst, const VARIANT* src, USHORT, VARTYPE vt) {
    if (!dst || !src) return E_INVALIDARG;
    VARIANT out;
    VariantInit(&out);
    if (src->vt == vt) {
        HRESULT hr = VariantCopy(&out, src);
        if (FAILED(hr)) return hr;
    } else if (vt == VT_EMPTY) {
        // cleared below
    } else if (src->vt == VT_NULL) {
        if (vt != VT_NULL) return DISP_E_TYPEMISMATCH;
        out.vt = VT_NULL;
    } else if (vt == VT_NULL) {
        return DISP_E_TYPEMISMATCH;
    } else if (vt == VT_BSTR) {
        if (src->vt == VT_UNKNOWN || src->vt == VT_DISPATCH) return DISP_E_TYPEMISMATCH;
        std::wstring t = src->vt == VT_EMPTY ? std::wstring() : numberText(*src);
        out.vt = VT_BSTR;
        out.bstrVal = SysAllocStringLen(t.c_str(), UINT(t.size()));
        if (!out.bstrVal) return E_OUTOFMEMORY;
    } else if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
        if (src->vt != VT_UNKNOWN && src->vt != VT_DISPATCH) return DISP_E_TYPEMISMATCH;
        out.vt = vt;
        out.punkVal = src->punkVal;
        if (out.punkVal) out.punkVal->AddRef();
    } else {
        Scalar s;
        if (src->vt == VT_BSTR) {
            std::wstring_view t(src->bstrVal ? src->bstrVal : L"", SysStringLen(src->bstrVal));
            if (vt == VT_BOOL && (t == L"True" || t == L"true" || t == L"False" || t == L"false")) {
                out.vt = VT_BOOL;
                out.boolVal = (t[0] == L'T' || t[0] == L't') ? VARIANT_TRUE : VARIANT_FALSE;
                VariantClear(dst);
                *dst = out;
                return S_OK;
            }
        }
        HRESULT hr = readScalar(*src, s);
        if (FAILED(hr)) return hr;
        long long iv = 0;
        switch (vt) {
            case VT_I2:
                if (FAILED(hr = toInteger(s, INT16_MIN, INT16_MAX, iv))) return hr;
                out.iVal = SHORT(iv);
                break;
            case VT_I4:
                if (FAILED(hr = toInteger(s, INT32_MIN, INT32_MAX, iv))) return hr;
                out.lVal = LONG(iv);
                break;
            case VT_INT:
                if (FAILED(hr = toInteger(s, INT32_MIN, INT32_MAX, iv))) return hr;
                out.intVal = INT(iv);
                break;
            case VT_UI1:
                if (FAILED(hr = toInteger(s, 0, 255, iv))) return hr;
                out.bVal = BYTE(iv);
                break;
            case VT_I8:
                if (FAILED(hr = toInteger(s, INT64_MIN, INT64_MAX, iv))) return hr;
                out.llVal = iv;
                break;
            case VT_BOOL:
                out.boolVal = (s.kind == Scalar::Int ? s.i != 0 : s.d != 0) ? VARIANT_TRUE : VARIANT_FALSE;
                break;
            case VT_R4: {
                double d = s.kind == Scalar::Int ? double(s.i) : s.d;
                if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max()) return DISP_E_OVERFLOW;
                out.fltVal = float(d);
                break;
            }
            case VT_R8:
                out.dblVal = s.kind == Scalar::Int ? double(s.i) : s.d;
                break;
            case VT_DATE:
                out.date = s.kind == Scalar::Int ? double(s.i) : s.d;
                break;
            case VT_ERROR:
                if (FAILED(hr = toInteger(s, INT32_MIN, INT32_MAX, iv))) return hr;
                out.scode = HRESULT(iv);
                break;
            default:
                return DISP_E_BADVARTYPE;
        }
        out.vt = vt;
    }
    VariantClear(dst);
    *dst = out;
    return S_OK;
}

const _variant_t vtMissing = [] {
    _variant_t v;
    v.vt = VT_ERROR;
    v.scode = DISP_E_PARAMNOTFOUND;
    return v;
}();

_variant_t::_variant_t(const VARIANT& v) {
    VariantInit(this);
    check(VariantCopy(this, &v));
}
_variant_t::_variant_t(const _variant_t& v) : _variant_t(static_cast<const VARIANT&>(v)) {}
_variant_t::_variant_t(_variant_t&& v) noexcept {
    *static_cast<VARIANT*>(this) = static_cast<VARIANT&>(v);
    VariantInit(&v);
}
_variant_t::_variant_t(short v, VARTYPE type) {
    VariantInit(this);
    vt = VT_I2;
    iVal = v;
    if (type != VT_I2) ChangeType(type);
}
_variant_t::_variant_t(long v, VARTYPE type) {
    VariantInit(this);
    if (v >= INT32_MIN && v <= INT32_MAX) {
        vt = VT_I4;
        lVal = LONG(v);
    } else {
        vt = VT_I8;
        llVal = v;
    }
    if (type != VT_I4) ChangeType(type);
}
_variant_t::_variant_t(int v, VARTYPE type) {
    VariantInit(this);
    vt = VT_I4;
    lVal = v;
    if (type != VT_I4) ChangeType(type);
}
_variant_t::_variant_t(long long v) {
    VariantInit(this);
    vt = VT_I8;
    llVal = v;
}
_variant_t::_variant_t(float v) {
    VariantInit(this);
    vt = VT_R4;
    fltVal = v;
}
_variant_t::_variant_t(double v, VARTYPE type) {
    VariantInit(this);
    vt = VT_R8;
    dblVal = v;
    if (type != VT_R8) ChangeType(type);
}
_variant_t::_variant_t(bool v) {
    VariantInit(this);
    vt = VT_BOOL;
    boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
}
_variant_t::_variant_t(const char* v) : _variant_t(_bstr_t(v)) {}
// Straight to a BSTR: a text column read per row must not pay for a _bstr_t on the way.
_variant_t::_variant_t(const wchar_t* v) {
    VariantInit(this);
    BSTR s = SysAllocString(v ? v : L"");
    if (!s) _com_issue_error(E_OUTOFMEMORY);
    vt = VT_BSTR;
    bstrVal = s;
}
_variant_t::_variant_t(const _bstr_t& v) {
    VariantInit(this);
    BSTR s = v.copy();
    if (!s) s = SysAllocString(L"");
    if (!s) _com_issue_error(E_OUTOFMEMORY);
    vt = VT_BSTR;
    bstrVal = s;
}
_variant_t::_variant_t(IUnknown* v, bool addRef) {
    VariantInit(this);
    vt = VT_UNKNOWN;
    punkVal = v;
    if (v && addRef) v->AddRef();
}

_variant_t& _variant_t::operator=(const _variant_t& v) {
    check(VariantCopy(this, &v));
    return *this;
}
_variant_t& _variant_t::operator=(_variant_t&& v) noexcept {
    if (this != &v) {
        VariantClear(this);
        *static_cast<VARIANT*>(this) = static_cast<VARIANT&>(v);
        VariantInit(&v);
    }
    return *this;
}
_variant_t& _variant_t::operator=(const VARIANT& v) {
    check(VariantCopy(this, &v));
    return *this;
}

void _variant_t::ChangeType(VARTYPE type, const _variant_t* src) {
    check(VariantChangeType(this, src ? src : this, 0, type));
}

VARIANT _variant_t::Detach() {
    VARIANT v = *this;
    VariantInit(this);
    return v;
}

void _variant_t::Attach(VARIANT& v) {
    VariantClear(this);
    *static_cast<VARIANT*>(this) = v;
    VariantInit(&v);
}

namespace {
_variant_t converted(const _variant_t& v, VARTYPE type) {
    _variant_t out;
    check(VariantChangeType(&out, &v, 0, type));
    return out;
}
}  // namespace

_variant_t::operator short() const { return vt == VT_I2 ? iVal : converted(*this, VT_I2).iVal; }
_variant_t::operator long() const { return vt == VT_I4 ? lVal : converted(*this, VT_I4).lVal; }
_variant_t::operator int() const { return vt == VT_I4 ? lVal : converted(*this, VT_I4).lVal; }
_variant_t::operator double() const { return vt == VT_R8 ? dblVal : converted(*this, VT_R8).dblVal; }
_variant_t::operator float() const { return vt == VT_R4 ? fltVal : converted(*this, VT_R4).fltVal; }
_variant_t::operator bool() const {
    return (vt == VT_BOOL ? boolVal : converted(*this, VT_BOOL).boolVal) != VARIANT_FALSE;
}
_variant_t::operator _bstr_t() const {
    if (vt == VT_BSTR) return _bstr_t(bstrVal, true);
    _variant_t t = converted(*this, VT_BSTR);
    return _bstr_t(t.bstrVal, true);
}
