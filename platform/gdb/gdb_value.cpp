// platform/gdb/gdb_value.cpp: values put into columns, checked and converted the same way whichever
// backend stores them.
#include "platform/gdb/gdb_value.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

#include "platform/com/bstr.h"
#include "platform/com/com_error.h"

namespace gdb {
namespace {

using FieldInfo = FieldSpec;

[[noreturn]] void throwError(HRESULT hr, const std::string& text) { throw _com_error(hr, fromUtf8(text)); }

}  // namespace

std::string utf8(BSTR s) {
    if (!s) return std::string();
    const std::wstring_view w(s, SysStringLen(s));
    // Most values are ASCII: narrowed without the converter.
    std::string out(w.size(), '\0');
    for (std::size_t i = 0; i < w.size(); ++i) {
        if (w[i] >= 0x80 || w[i] < 0) return toUtf8(w);
        out[i] = char(w[i]);
    }
    return out;
}

BSTR textBstr(std::string_view s) {
    // Most values are ASCII: widened without the converter or an intermediate string.
    std::size_t n = 0;
    while (n < s.size() && s[n] != '\0' && static_cast<unsigned char>(s[n]) < 0x80) ++n;
    BSTR out = nullptr;
    if (n == s.size() || s[n] == '\0') {
        out = SysAllocStringLen(nullptr, UINT(n));
        if (out)
            for (std::size_t i = 0; i < n; ++i) out[i] = wchar_t(s[i]);
    } else {
        out = SysAllocString(fromUtf8(s).c_str());
    }
    if (!out) _com_issue_error(E_OUTOFMEMORY);
    return out;
}

namespace {

std::size_t utf8Length(std::string_view s) {
    std::size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

}  // namespace

std::string trimBlanks(std::string_view s) {
    std::size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
    return std::string(s.substr(a, b - a));
}

std::string formatDouble(double d) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, d);
    return std::string(buf, r.ptr);
}

namespace {

std::string describe(const VARIANT& v) {
    switch (v.vt) {
        case VT_BSTR: return "'" + utf8(v.bstrVal) + "'";
        case VT_I2: return std::to_string(v.iVal);
        case VT_I4: return std::to_string(v.lVal);
        case VT_INT: return std::to_string(v.intVal);
        case VT_I8: return std::to_string(v.llVal);
        case VT_UI1: return std::to_string(v.bVal);
        case VT_R4: return formatDouble(v.fltVal);
        case VT_R8: return formatDouble(v.dblVal);
        default: return "of variant type " + std::to_string(v.vt);
    }
}

}  // namespace

[[noreturn]] void misfit(HRESULT hr, const FieldInfo& f, const VARIANT& v, const char* why) {
    throwError(hr, "value " + describe(v) + " does not fit column " + f.name + ": " + why);
}

namespace {

// A number from a VARIANT that holds one.
std::optional<double> numberOf(const VARIANT& v, std::optional<std::int64_t>* exact) {
    switch (v.vt) {
        case VT_I2: *exact = v.iVal; return double(v.iVal);
        case VT_I4: *exact = v.lVal; return double(v.lVal);
        case VT_INT: *exact = v.intVal; return double(v.intVal);
        case VT_I8: *exact = v.llVal; return double(v.llVal);
        case VT_UI1: *exact = v.bVal; return double(v.bVal);
        case VT_BOOL: *exact = v.boolVal ? -1 : 0; return v.boolVal ? -1.0 : 0.0;
        case VT_R4: return double(v.fltVal);
        case VT_R8: return v.dblVal;
        case VT_DATE: return v.date;
        default: return std::nullopt;
    }
}

}  // namespace

namespace {

// A number's text from a BSTR without its leading and trailing white space (as trimBlanks gives
// it), in `buf` when the text is ASCII and short, which numbers are; else in `spill`.
std::string_view numberText(BSTR s, char (&buf)[64], std::string& spill) {
    const std::size_t n = s ? SysStringLen(s) : 0;
    if (n <= sizeof buf) {
        std::size_t i = 0;
        for (; i < n && s[i] >= 0 && s[i] < 0x80; ++i) buf[i] = char(s[i]);
        if (i == n) {
            std::size_t a = 0, b = n;
            while (a < b && std::isspace(static_cast<unsigned char>(buf[a]))) ++a;
            while (b > a && std::isspace(static_cast<unsigned char>(buf[b - 1]))) --b;
            return std::string_view(buf + a, b - a);
        }
    }
    spill = trimBlanks(utf8(s));
    return spill;
}

void setNull(Val& out) {
    out.kind = Val::Null;
    out.i = 0;
    out.d = 0;
    out.s.clear();
}

}  // namespace

Val convertIn(const FieldInfo& f, const VARIANT& in) {
    Val out;
    convertInto(f, in, out);
    return out;
}

void convertInto(const FieldInfo& f, const VARIANT& in, Val& out) {
    const VARIANT& v = in;
    if (v.vt == VT_EMPTY || v.vt == VT_NULL) {
        if (!f.nullable) misfit(DISP_E_TYPEMISMATCH, f, v, "the column takes no NULL");
        return setNull(out);
    }
    const auto tooLong = [&] {
        misfit(DISP_E_OVERFLOW, f, v, ("longer than " + std::to_string(f.length) + " characters").c_str());
    };
    switch (f.type) {
        case esriFieldTypeString:
        case esriFieldTypeDate: {
            bool ascii = v.vt == VT_BSTR;
            const std::size_t n = ascii && v.bstrVal ? SysStringLen(v.bstrVal) : 0;
            for (std::size_t i = 0; ascii && i < n; ++i) ascii = v.bstrVal[i] >= 0 && v.bstrVal[i] < 0x80;
            if (ascii) {
                // Narrowed straight into the value's storage, which stays from row to row.
                if (f.length > 0 && n > std::size_t(f.length)) tooLong();
                out.s.resize(n);
                for (std::size_t i = 0; i < n; ++i) out.s[i] = char(v.bstrVal[i]);
            } else {
                std::string text;
                if (v.vt == VT_BSTR) {
                    text = utf8(v.bstrVal);
                } else {
                    std::optional<std::int64_t> exact;
                    auto number = numberOf(v, &exact);
                    if (!number) misfit(DISP_E_TYPEMISMATCH, f, v, "not a text or number");
                    text = exact ? std::to_string(*exact) : formatDouble(*number);
                }
                if (f.length > 0 && utf8Length(text) > std::size_t(f.length)) tooLong();
                out.s = std::move(text);
            }
            out.kind = Val::Text;
            out.i = 0;
            out.d = 0;
            return;
        }
        case esriFieldTypeSmallInteger:
        case esriFieldTypeInteger: {
            const std::int64_t lo = f.type == esriFieldTypeSmallInteger ? INT16_MIN : INT32_MIN;
            const std::int64_t hi = f.type == esriFieldTypeSmallInteger ? INT16_MAX : INT32_MAX;
            std::int64_t value = 0;
            if (v.vt == VT_BSTR) {
                char buf[64];
                std::string spill;
                const std::string_view t = numberText(v.bstrVal, buf, spill);
                if (t.empty()) return setNull(out);  // blank text stands for no value
                const char* b = t.data();
                const char* e = t.data() + t.size();
                if (*b == '+') ++b;
                auto r = std::from_chars(b, e, value);
                if (r.ec == std::errc::result_out_of_range) misfit(DISP_E_OVERFLOW, f, v, "out of range");
                if (r.ec != std::errc() || r.ptr != e) {
                    double d = 0;
                    auto rd = std::from_chars(b, e, d);
                    if (rd.ec != std::errc() || rd.ptr != e) misfit(DISP_E_TYPEMISMATCH, f, v, "not a number");
                    if (d != std::floor(d)) misfit(DISP_E_OVERFLOW, f, v, "an integer column holds no fraction");
                    if (!(d >= double(lo) && d <= double(hi))) misfit(DISP_E_OVERFLOW, f, v, "out of range");
                    value = std::int64_t(d);
                }
            } else {
                std::optional<std::int64_t> exact;
                auto n = numberOf(v, &exact);
                if (!n) misfit(DISP_E_TYPEMISMATCH, f, v, "not a number");
                if (exact) {
                    value = *exact;
                } else {
                    if (!std::isfinite(*n) || *n != std::floor(*n))
                        misfit(DISP_E_OVERFLOW, f, v, "an integer column holds no fraction");
                    if (!(*n >= double(lo) && *n <= double(hi))) misfit(DISP_E_OVERFLOW, f, v, "out of range");
                    value = std::int64_t(*n);
                }
            }
            if (value < lo || value > hi) misfit(DISP_E_OVERFLOW, f, v, "out of range");
            setNull(out);
            out.kind = Val::Int;
            out.i = value;
            return;
        }
        case esriFieldTypeSingle:
        case esriFieldTypeDouble: {
            double d = 0;
            if (v.vt == VT_BSTR) {
                char buf[64];
                std::string spill;
                const std::string_view t = numberText(v.bstrVal, buf, spill);
                if (t.empty()) return setNull(out);
                const char* b = t.data();
                const char* e = t.data() + t.size();
                if (*b == '+') ++b;
                auto r = std::from_chars(b, e, d);
                if (r.ec == std::errc::result_out_of_range) misfit(DISP_E_OVERFLOW, f, v, "out of range");
                if (r.ec != std::errc() || r.ptr != e) misfit(DISP_E_TYPEMISMATCH, f, v, "not a number");
            } else {
                std::optional<std::int64_t> exact;
                auto n = numberOf(v, &exact);
                if (!n) misfit(DISP_E_TYPEMISMATCH, f, v, "not a number");
                d = *n;
            }
            if (f.type == esriFieldTypeSingle && std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max())
                misfit(DISP_E_OVERFLOW, f, v, "out of range");
            setNull(out);
            out.kind = Val::Real;
            out.d = d;
            return;
        }
        case esriFieldTypeOID: throwError(GDB_E_NOT_EDITABLE, "column " + f.name + " is the object id and cannot be set");
        case esriFieldTypeGeometry: break;  // handled by the caller
        case esriFieldTypeBlob: break;
    }
    misfit(DISP_E_TYPEMISMATCH, f, v, "the column takes no such value");
}

}  // namespace gdb
