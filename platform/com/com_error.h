// platform/com/com_error.h: _com_error, the thread's error description, and comGuard, which keeps
// exceptions from crossing a COM method.
#pragma once

#include <exception>
#include <new>
#include <string>
#include <string_view>

#include "platform/com/basetypes.h"
#include "platform/com/bstr.h"

class _com_error : public std::exception {
public:
    explicit _com_error(HRESULT hr, std::wstring description = {});
    HRESULT Error() const noexcept { return hr_; }
    _bstr_t Description() const { return _bstr_t(description_.c_str()); }
    // The system's text for the code ("Unspecified error" for E_FAIL).
    const char* ErrorMessage() const noexcept { return message_.c_str(); }
    const char* what() const noexcept override { return what_.c_str(); }

private:
    HRESULT hr_;
    std::wstring description_;
    std::string message_;
    std::string what_;
};

// The system text of a result code, or "Unknown error 0x%08X".
std::string errorMessageOf(HRESULT hr);

// What SetErrorInfo / GetErrorInfo carried: one description per thread, set by a failing method and
// taken by the wrapper that raises the _com_error.
void setErrorDescription(std::wstring_view text);
void setErrorDescription(std::string_view utf8);
void clearErrorDescription();
std::wstring takeErrorDescription();

// Raises _com_error(hr) with the thread's current description.
[[noreturn]] void _com_issue_error(HRESULT hr);
[[noreturn]] void _com_issue_errorex(HRESULT hr, const void* object = nullptr, const void* iid = nullptr);

// Runs a COM method body: its result, or the HRESULT of what it threw (with the description set).
template <class F>
HRESULT comGuard(F&& body) noexcept {
    try {
        clearErrorDescription();
        return body();
    } catch (const _com_error& e) {
        setErrorDescription(std::wstring_view(static_cast<const wchar_t*>(e.Description())));
        return e.Error();
    } catch (const std::bad_alloc&) {
        setErrorDescription(std::string_view("out of memory"));
        return E_OUTOFMEMORY;
    } catch (const std::exception& e) {
        setErrorDescription(std::string_view(e.what()));
        return E_FAIL;
    } catch (...) {
        setErrorDescription(std::string_view("unexpected exception"));
        return E_FAIL;
    }
}

// Throws _com_error on a failed result: `check(ipTable->raw_FindField(...))`.
inline HRESULT check(HRESULT hr) {
    if (FAILED(hr)) _com_issue_error(hr);
    return hr;
}
