// platform/com/bstr.h: BSTR strings and the _bstr_t wrapper. Text is wide (wchar_t); narrow text is
// UTF-8 both ways. Allocation failure throws _com_error(E_OUTOFMEMORY) from _bstr_t, null from Sys*.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/com/basetypes.h"

// A BSTR is length-prefixed (bytes, as a 32-bit count before the text) and NUL-terminated; null is
// the empty string.
BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
void SysFreeString(BSTR s);
UINT SysStringLen(BSTR s);

std::string toUtf8(std::wstring_view text);
inline std::string toUtf8(const wchar_t* text) { return text ? toUtf8(std::wstring_view(text)) : std::string(); }
// Invalid UTF-8 bytes become U+FFFD rather than failing: chart texts are not always clean.
std::wstring fromUtf8(std::string_view text);

// S-57 text between the bytes of a field of lexical level 0, 1 or 2 and UTF-8. Levels 0 and 1 are
// ISO 8859-1, a byte a character; level 2 is UCS-2 little-endian, where a surrogate pair is read as
// one character and a lone surrogate or an odd last byte as a code point of its own (so that
// writing gives the bytes back). Every byte is converted, NULs included.
std::string lexicalToUtf8(std::string_view bytes, int level);
// The bytes of a level 0, 1 or 2 field for UTF-8 text. A byte that begins no valid UTF-8 sequence is
// taken as the ISO 8859-1 character it codes, so 8-bit text passes unchanged. A character that the
// level cannot hold (above U+00FF at levels 0 and 1) is written as '?' and appended to *unheld when
// given; level 2 writes a character above U+FFFF as a surrogate pair.
std::string utf8ToLexical(std::string_view text, int level, std::u32string* unheld = nullptr);

class _bstr_t {
public:
    _bstr_t() = default;
    _bstr_t(const char* text);
    _bstr_t(const wchar_t* text);
    _bstr_t(std::wstring_view text);
    _bstr_t(BSTR s, bool copy);  // copy=false takes ownership
    _bstr_t(const _bstr_t& other) = default;
    _bstr_t(_bstr_t&& other) noexcept = default;
    _bstr_t& operator=(const _bstr_t& other) = default;
    _bstr_t& operator=(_bstr_t&& other) noexcept = default;
    _bstr_t& operator=(const char* text);
    _bstr_t& operator=(const wchar_t* text);

    operator const wchar_t*() const;
    operator const char*() const;  // UTF-8, valid while this _bstr_t is unchanged
    const wchar_t* wide() const { return static_cast<const wchar_t*>(*this); }
    const char* narrow() const { return static_cast<const char*>(*this); }

    UINT length() const;
    bool empty() const { return length() == 0; }

    _bstr_t& operator+=(const _bstr_t& other);
    friend _bstr_t operator+(const _bstr_t& a, const _bstr_t& b) {
        _bstr_t r(a);
        r += b;
        return r;
    }
    friend bool operator==(const _bstr_t& a, const _bstr_t& b);
    friend bool operator!=(const _bstr_t& a, const _bstr_t& b) { return !(a == b); }
    friend bool operator<(const _bstr_t& a, const _bstr_t& b);
    bool operator!() const { return length() == 0; }

    BSTR GetBSTR() const;   // owned by this _bstr_t; null when empty
    BSTR* GetAddress();     // frees the current text; for an out parameter
    BSTR copy() const;      // a new BSTR the caller frees
    void Attach(BSTR s);
    BSTR Detach();

private:
    struct Data;
    void make(std::wstring_view text);
    std::shared_ptr<Data> data_;
};
