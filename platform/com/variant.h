// platform/com/variant.h: VARIANT values and the _variant_t wrapper. Conversions that cannot be made
// answer DISP_E_TYPEMISMATCH or DISP_E_OVERFLOW (from _variant_t: a thrown _com_error).
#pragma once

#include <cstdint>

#include "platform/com/basetypes.h"
#include "platform/com/bstr.h"
#include "platform/com/unknown.h"

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_UI1 = 17,
    VT_I8 = 20,
    VT_INT = 22,
};

struct VARIANT {
    VARTYPE vt;
    union {
        LONG lVal;
        SHORT iVal;
        INT intVal;
        BYTE bVal;
        LONGLONG llVal;
        float fltVal;
        double dblVal;
        VARIANT_BOOL boolVal;
        DATE date;
        HRESULT scode;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
    };
};
using VARIANTARG = VARIANT;

void VariantInit(VARIANT* v);
HRESULT VariantClear(VARIANT* v);
HRESULT VariantCopy(VARIANT* dst, const VARIANT* src);
// Converts between empty, null, the integer and real types, bool and BSTR. Text to number accepts
// what strtod/strtoll accept over the whole text (blanks around allowed); empty text gives 0.
HRESULT VariantChangeType(VARIANT* dst, const VARIANT* src, USHORT flags, VARTYPE vt);

class _variant_t : public VARIANT {
public:
    _variant_t() noexcept { VariantInit(this); }
    _variant_t(const VARIANT& v);
    _variant_t(const _variant_t& v);
    _variant_t(_variant_t&& v) noexcept;
    _variant_t(short v, VARTYPE type = VT_I2);
    _variant_t(long v, VARTYPE type = VT_I4);
    _variant_t(int v, VARTYPE type = VT_I4);
    _variant_t(long long v);
    _variant_t(float v);
    _variant_t(double v, VARTYPE type = VT_R8);
    _variant_t(bool v);
    _variant_t(const char* v);
    _variant_t(const wchar_t* v);
    _variant_t(const _bstr_t& v);
    _variant_t(IUnknown* v, bool addRef = true);
    ~_variant_t() { VariantClear(this); }

    _variant_t& operator=(const _variant_t& v);
    _variant_t& operator=(_variant_t&& v) noexcept;
    _variant_t& operator=(const VARIANT& v);

    void Clear() { VariantClear(this); }
    void ChangeType(VARTYPE type, const _variant_t* src = nullptr);
    VARIANT Detach();
    void Attach(VARIANT& v);

    // Conversions throw _com_error when the value cannot be converted.
    operator short() const;
    operator long() const;
    operator int() const;
    operator double() const;
    operator float() const;
    operator bool() const;
    operator _bstr_t() const;

    bool isNullOrEmpty() const { return vt == VT_EMPTY || vt == VT_NULL; }
};

// The "parameter not given" value.
extern const _variant_t vtMissing;
