// platform/com/basetypes.h: the scalar types and result codes of the component model, spelled as the
// converter's code expects them. Nothing here allocates or fails.
#pragma once

#include <cstdint>

using HRESULT = std::int32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using SHORT = std::int16_t;
using USHORT = std::uint16_t;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = unsigned int;
using INT = int;
using BOOL = int;
using LONGLONG = std::int64_t;
using VARIANT_BOOL = std::int16_t;
using VARTYPE = std::uint16_t;
using DATE = double;
using OLECHAR = wchar_t;
using BSTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using HMODULE = void*;
using HINSTANCE = void*;
using HWND = void*;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

constexpr HRESULT hresultOf(std::uint32_t code) { return static_cast<HRESULT>(code); }

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = hresultOf(0x80004001);
constexpr HRESULT E_NOINTERFACE = hresultOf(0x80004002);
constexpr HRESULT E_POINTER = hresultOf(0x80004003);
constexpr HRESULT E_ABORT = hresultOf(0x80004004);
constexpr HRESULT E_FAIL = hresultOf(0x80004005);
constexpr HRESULT E_UNEXPECTED = hresultOf(0x8000FFFF);
constexpr HRESULT E_ACCESSDENIED = hresultOf(0x80070005);
constexpr HRESULT E_HANDLE = hresultOf(0x80070006);
constexpr HRESULT E_OUTOFMEMORY = hresultOf(0x8007000E);
constexpr HRESULT E_INVALIDARG = hresultOf(0x80070057);
constexpr HRESULT CLASS_E_NOAGGREGATION = hresultOf(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = hresultOf(0x80040111);
constexpr HRESULT REGDB_E_CLASSNOTREG = hresultOf(0x80040154);
constexpr HRESULT CO_E_CLASSSTRING = hresultOf(0x800401F3);
constexpr HRESULT DISP_E_BADVARTYPE = hresultOf(0x80020008);
constexpr HRESULT DISP_E_OVERFLOW = hresultOf(0x8002000A);
constexpr HRESULT DISP_E_TYPEMISMATCH = hresultOf(0x80020005);
constexpr HRESULT DISP_E_PARAMNOTFOUND = hresultOf(0x80020004);
constexpr HRESULT DISP_E_UNKNOWNINTERFACE = hresultOf(0x80020001);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = hresultOf(0x80020003);
constexpr HRESULT DISP_E_UNKNOWNNAME = hresultOf(0x80020006);
constexpr HRESULT DISP_E_NONAMEDARGS = hresultOf(0x80020007);
constexpr HRESULT DISP_E_BADPARAMCOUNT = hresultOf(0x8002000E);
constexpr HRESULT TYPE_E_LIBNOTREGISTERED = hresultOf(0x8002801D);
constexpr HRESULT SELFREG_E_TYPELIB = hresultOf(0x80040200);
constexpr HRESULT SELFREG_E_CLASS = hresultOf(0x80040201);
// The module registered for a class is not where the registry says (ERROR_MOD_NOT_FOUND).
constexpr HRESULT HRESULT_MOD_NOT_FOUND = hresultOf(0x8007007E);
// The module has no entry point of the name asked for (ERROR_PROC_NOT_FOUND).
constexpr HRESULT HRESULT_PROC_NOT_FOUND = hresultOf(0x8007007F);

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

// Context flags of object creation; only in-process servers exist here.
constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_ALL = 0x17;
