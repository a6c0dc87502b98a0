// platform/host/err_object.cpp: reading the error being handled into number, source and
// description, whatever was thrown.

#include "platform/host/err_object.h"

#include <new>

namespace host {

LONG errorNumberOf(HRESULT hr) noexcept {
    switch (hr) {
        case DISP_E_TYPEMISMATCH: return 13;
        case DISP_E_OVERFLOW: return 6;
        case E_OUTOFMEMORY: return 7;
        case E_POINTER: return 91;
        case E_NOINTERFACE: return 430;
        case E_INVALIDARG: return 5;
        default: return hr;
    }
}

std::string errorTextOf(LONG number) {
    switch (number) {
        case 5: return "Invalid procedure call or argument";
        case 6: return "Overflow";
        case 7: return "Out of memory";
        case 13: return "Type mismatch";
        case 91: return "Object variable or With block variable not set";
        case 430: return "Class does not support Automation or does not support expected interface";
        default: return "Application-defined or object-defined error";
    }
}

void raiseError(LONG number, const std::string& source, const std::string& description) {
    throw VbError({number, source, description.empty() ? errorTextOf(number) : description});
}

ErrObject currentError(const std::string& source) noexcept {
    try {
        try {
            throw;
        } catch (const VbError& e) {
            return e.err();
        } catch (const _com_error& e) {
            ErrObject err{errorNumberOf(e.Error()), source, toUtf8(static_cast<const wchar_t*>(e.Description()))};
            if (err.description.empty()) err.description = err.number == e.Error() ? e.ErrorMessage() : errorTextOf(err.number);
            return err;
        } catch (const std::bad_alloc&) {
            return {7, source, errorTextOf(7)};
        } catch (const std::exception& e) {
            return {51, source, e.what()};
        } catch (...) {
            return {51, source, "Internal error"};
        }
    } catch (...) {
        return {7, source, "Out of memory"};
    }
}

}  // namespace host
