// platform/com/com_error.cpp: error texts of result codes and the per-thread error description.
#include "platform/com/com_error.h"

#include <cstdio>

namespace {

thread_local std::wstring currentDescription;

struct CodeText {
    HRESULT hr;
    const char* text;
};

constexpr CodeText kCodeTexts[] = {
    {S_OK, "The operation completed successfully."},
    {S_FALSE, "Incorrect function."},
    {E_NOTIMPL, "Not implemented"},
    {E_NOINTERFACE, "No such interface supported"},
    {E_POINTER, "Invalid pointer"},
    {E_ABORT, "Operation aborted"},
    {E_FAIL, "Unspecified error"},
    {E_UNEXPECTED, "Catastrophic failure"},
    {E_ACCESSDENIED, "Access is denied."},
    {E_HANDLE, "The handle is invalid."},
    {E_OUTOFMEMORY, "Not enough storage is available to complete this operation."},
    {E_INVALIDARG, "The parameter is incorrect."},
    {CLASS_E_NOAGGREGATION, "Class does not support aggregation (or class object is remote)"},
    {CLASS_E_CLASSNOTAVAILABLE, "ClassFactory cannot supply requested class"},
    {REGDB_E_CLASSNOTREG, "Class not registered"},
    {CO_E_CLASSSTRING, "Invalid class string"},
    {DISP_E_BADVARTYPE, "Bad variable type."},
    {DISP_E_OVERFLOW, "Out of present range."},
    {DISP_E_TYPEMISMATCH, "Type mismatch."},
    {DISP_E_PARAMNOTFOUND, "Parameter not found."},
    {DISP_E_UNKNOWNINTERFACE, "Unknown interface."},
    {DISP_E_MEMBERNOTFOUND, "Member not found."},
    {DISP_E_UNKNOWNNAME, "Unknown name."},
    {DISP_E_NONAMEDARGS, "No named arguments."},
    {DISP_E_BADPARAMCOUNT, "Invalid number of parameters."},
    {TYPE_E_LIBNOTREGISTERED, "Library not registered."},
    {SELFREG_E_TYPELIB, "The type library could not be registered."},
    {SELFREG_E_CLASS, "The classes could not be registered."},
    {HRESULT_MOD_NOT_FOUND, "The specified module could not be found."},
    {HRESULT_PROC_NOT_FOUND, "The specified procedure could not be found."},
};

}  // namespace

std::string errorMessageOf(HRESULT hr) {
    for (const auto& c : kCodeTexts)
        if (c.hr == hr) return c.text;
    char buf[40];
    std::snprintf(buf, sizeof buf, "Unknown error 0x%08X", static_cast<unsigned>(hr));
    return buf;
}

_com_error::_com_error(HRESULT hr, std::wstring description)
    : hr_(hr), description_(std::move(description)), message_(errorMessageOf(hr)) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
    what_ = std::string("COM error ") + code;
    if (!description_.empty()) what_ += ": " + toUtf8(description_);
}

void setErrorDescription(std::wstring_view text) { currentDescription.assign(text); }
void setErrorDescription(std::string_view utf8) { currentDescription = fromUtf8(utf8); }
void clearErrorDescription() { currentDescription.clear(); }

std::wstring takeErrorDescription() {
    std::wstring d;
    d.swap(currentDescription);
    return d;
}

void _com_issue_error(HRESULT hr) { throw _com_error(hr, takeErrorDescription()); }

void _com_issue_errorex(HRESULT hr, const void*, const void*) { _com_issue_error(hr); }
