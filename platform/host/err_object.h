// platform/host/err_object.h: the run-time error object of the add-ins: an error has a number, a
// source and a description. Errors the add-ins raise themselves are VbError; a failed platform
// call arrives as _com_error and is read with the number the run time gives its result (13 for a
// type mismatch, 91 for a missing object, the HRESULT otherwise).
#pragma once

#include <exception>
#include <string>

#include "platform/com/com.h"

namespace host {

struct ErrObject {
    LONG number = 0;
    std::string source;
    std::string description;
};

class VbError : public std::exception {
public:
    explicit VbError(ErrObject err) : err_(std::move(err)) {}
    const ErrObject& err() const { return err_; }
    const char* what() const noexcept override { return err_.description.c_str(); }

private:
    ErrObject err_;
};

// Raises an error; an empty description takes the run time's text for the number.
[[noreturn]] void raiseError(LONG number, const std::string& source, const std::string& description = {});

// The error being handled, inside a catch block; `source` names the program for errors that carry
// none. Never throws.
ErrObject currentError(const std::string& source) noexcept;

// The run time's number of a result code and its text for a number ("Type mismatch" for 13).
LONG errorNumberOf(HRESULT hr) noexcept;
std::string errorTextOf(LONG number);

}  // namespace host
