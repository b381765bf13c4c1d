#pragma once
// The base of every error the component layer raises. Its message names what
// failed and why, in words a user can act on.
#include <exception>

#include "AnsiString.h"

class Exception : public std::exception {
public:
    explicit Exception(AnsiString message) : Message(std::move(message)) {}
    const char* what() const noexcept override { return Message.c_str(); }

    AnsiString Message;
};
