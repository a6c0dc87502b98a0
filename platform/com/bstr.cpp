// platform/com/bstr.cpp: BSTR allocation, UTF-8 conversion and _bstr_t. A _bstr_t shares its text
// between copies and replaces it (never edits it) on change, so copies stay independent.
#include "platform/com/bstr.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <atomic>
#include <mutex>

#include "platform/com/com_error.h"

namespace {

// Layout: [uint32 byte count][text][NUL]; the BSTR points at the text.
constexpr std::size_t kPrefix = sizeof(std::uint64_t);  // keeps the text aligned for wchar_t

}  // namespace

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
    if (length > (0x7fffffffu - kPrefix) / sizeof(OLECHAR) - 1) return nullptr;
    auto* raw = static_cast<unsigned char*>(std::malloc(kPrefix + (std::size_t(length) + 1) * sizeof(OLECHAR)));
    if (!raw) return nullptr;
    const std::uint32_t bytes = std::uint32_t(length * sizeof(OLECHAR));
    std::memcpy(raw, &bytes, sizeof bytes);
    BSTR s = reinterpret_cast<BSTR>(raw + kPrefix);
    if (text) std::wmemcpy(s, text, length);
    else std::wmemset(s, L'\0', length);
    s[length] = L'\0';
    return s;
}

BSTR SysAllocString(const OLECHAR* text) {
    if (!text) return nullptr;
    return SysAllocStringLen(text, UINT(std::wcslen(text)));
}

void SysFreeString(BSTR s) {
    if (s) std::free(reinterpret_cast<unsigned char*>(s) - kPrefix);
}

UINT SysStringLen(BSTR s) {
    if (!s) return 0;
    std::uint32_t bytes = 0;
    std::memcpy(&bytes, reinterpret_cast<unsigned char*>(s) - kPrefix, sizeof bytes);
    return UINT(bytes / sizeof(OLECHAR));
}

namespace {

void appendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::string toUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        auto c = static_cast<std::uint32_t>(wc);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
        appendUtf8(out, c);
    }
    return out;
}

std::wstring fromUtf8(std::string_view text) {
    static constexpr std::uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    std::wstring out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            out += wchar_t(b);
            ++i;
            continue;
        }
        std::size_t extra = 0;
        std::uint32_t c = 0;
        if ((b & 0xE0) == 0xC0) extra = 1, c = b & 0x1Fu;
        else if ((b & 0xF0) == 0xE0) extra = 2, c = b & 0x0Fu;
        else if ((b & 0xF8) == 0xF0) extra = 3, c = b & 0x07u;
        bool ok = extra > 0 && i + extra < text.size();
        for (std::size_t k = 1; ok && k <= extra; ++k) {
            const auto cb = static_cast<unsigned char>(text[i + k]);
            ok = (cb & 0xC0) == 0x80;
            c = (c << 6) | (cb & 0x3Fu);
        }
        // Overlong forms and surrogates are as invalid as broken sequences.
        if (!ok || c < kMin[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out += wchar_t(0xFFFD);
            ++i;
            continue;
        }
        out += wchar_t(c);
        i += extra + 1;
    }
    return out;
}

namespace {

// The code point of the UTF-8 sequence at s[i] (advancing i), or -1 when none begins there. Encoded
// surrogates are taken: they are how a lone surrogate of a UCS-2 text travels.
long utf8At(std::string_view s, std::size_t& i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
        ++i;
        return b;
    }
    std::size_t more = 0;
    std::uint32_t c = 0, min = 0;
    if (b >= 0xC2 && b <= 0xDF) more = 1, c = b & 0x1Fu, min = 0x80;
    else if (b >= 0xE0 && b <= 0xEF) more = 2, c = b & 0x0Fu, min = 0x800;
    else if (b >= 0xF0 && b <= 0xF4) more = 3, c = b & 0x07u, min = 0x10000;
    else return -1;
    if (s.size() - i <= more) return -1;
    for (std::size_t k = 1; k <= more; ++k) {
        const auto cb = static_cast<unsigned char>(s[i + k]);
        if ((cb & 0xC0) != 0x80) return -1;
        c = (c << 6) | (cb & 0x3Fu);
    }
    if (c < min || c > 0x10FFFF) return -1;
    i += 1 + more;
    return long(c);
}

void appendUnit(std::string& out, std::uint32_t u) {
    out += char(u & 0xFF);
    out += char(u >> 8);
}

}  // namespace

std::string lexicalToUtf8(std::string_view bytes, int level) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    if (level != 2) {
        for (std::size_t i = 0; i < n; ++i) appendUtf8(out, b[i]);
        return out;
    }
    for (std::size_t i = 0; i < n; i += 2) {
        std::uint32_t u = i + 1 < n ? std::uint32_t(b[i] | (b[i + 1] << 8)) : b[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 3 < n) {
            const std::uint32_t low = std::uint32_t(b[i + 2] | (b[i + 3] << 8));
            if (low >= 0xDC00 && low <= 0xDFFF) {
                u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        appendUtf8(out, u);
    }
    return out;
}

std::string utf8ToLexical(std::string_view text, int level, std::u32string* unheld) {
    std::string out;
    out.reserve(level == 2 ? text.size() * 2 : text.size());
    for (std::size_t i = 0; i < text.size();) {
        long c = utf8At(text, i);
        if (c < 0) c = static_cast<unsigned char>(text[i++]);
        const auto u = std::uint32_t(c);
        if (level != 2) {
            if (u > 0xFF) {
                out += '?';
                if (unheld) *unheld += char32_t(u);
            } else {
                out += char(u);
            }
        } else if (u >= 0x10000) {
            appendUnit(out, 0xD800 + ((u - 0x10000) >> 10));
            appendUnit(out, 0xDC00 + ((u - 0x10000) & 0x3FF));
        } else {
            appendUnit(out, u);
        }
    }
    return out;
}

struct _bstr_t::Data {
    BSTR wide = nullptr;
    // The UTF-8 form, made on first use; copies of one _bstr_t may ask from several threads.
    mutable std::atomic<bool> narrowReady{false};
    mutable std::mutex narrowMutex;
    mutable std::string narrow;
    Data() = default;
    Data(const Data&) = delete;
    Data& operator=(const Data&) = delete;
    ~Data() { SysFreeString(wide); }
};

void _bstr_t::make(std::wstring_view text) {
    auto d = std::make_shared<Data>();
    d->wide = SysAllocStringLen(text.data(), UINT(text.size()));
    if (!d->wide) _com_issue_error(E_OUTOFMEMORY);
    data_ = std::move(d);
}

_bstr_t::_bstr_t(const char* text) {
    if (text) make(fromUtf8(text));
}
_bstr_t::_bstr_t(const wchar_t* text) {
    if (text) make(text);
}
_bstr_t::_bstr_t(std::wstring_view text) { make(text); }
_bstr_t::_bstr_t(BSTR s, bool copy) {
    if (copy) {
        if (s) make(std::wstring_view(s, SysStringLen(s)));
    } else {
        Attach(s);
    }
}
_bstr_t& _bstr_t::operator=(const char* text) {
    *this = _bstr_t(text);
    return *this;
}
_bstr_t& _bstr_t::operator=(const wchar_t* text) {
    *this = _bstr_t(text);
    return *this;
}

_bstr_t::operator const wchar_t*() const { return data_ && data_->wide ? data_->wide : L""; }

_bstr_t::operator const char*() const {
    if (!data_ || !data_->wide) return "";
    if (!data_->narrowReady.load(std::memory_order_acquire)) {
        std::lock_guard lock(data_->narrowMutex);
        if (!data_->narrowReady.load(std::memory_order_relaxed)) {
            data_->narrow = toUtf8(std::wstring_view(data_->wide, SysStringLen(data_->wide)));
            data_->narrowReady.store(true, std::memory_order_release);
        }
    }
    return data_->narrow.c_str();
}

UINT _bstr_t::length() const { return data_ ? SysStringLen(data_->wide) : 0; }

_bstr_t& _bstr_t::operator+=(const _bstr_t& other) {
    std::wstring joined(wide(), length());
    joined.append(other.wide(), other.length());
    make(joined);
    return *this;
}

bool operator==(const _bstr_t& a, const _bstr_t& b) {
    return std::wstring_view(a.wide(), a.length()) == std::wstring_view(b.wide(), b.length());
}
bool operator<(const _bstr_t& a, const _bstr_t& b) {
    return std::wstring_view(a.wide(), a.length()) < std::wstring_view(b.wide(), b.length());
}

BSTR _bstr_t::GetBSTR() const { return data_ ? data_->wide : nullptr; }

BSTR* _bstr_t::GetAddress() {
    data_ = std::make_shared<Data>();
    return &data_->wide;
}

BSTR _bstr_t::copy() const {
    BSTR s = GetBSTR();
    return s ? SysAllocStringLen(s, SysStringLen(s)) : nullptr;
}

void _bstr_t::Attach(BSTR s) {
    auto d = std::make_shared<Data>();
    d->wide = s;
    data_ = std::move(d);
}

BSTR _bstr_t::Detach() {
    if (!data_) return nullptr;
    BSTR s = nullptr;
    if (data_.use_count() == 1) {
        s = data_->wide;
        data_->wide = nullptr;
    } else {
        s = copy();
    }
    data_.reset();
    return s;
}
