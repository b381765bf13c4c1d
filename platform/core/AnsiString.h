#pragma once
// 8-bit text with value semantics. File names are kept as the bytes the OS
// takes (UTF-8 on Linux); numbers are rendered as "%i" decimal text.
#include <string>

class AnsiString {
public:
    AnsiString() = default;
    AnsiString(const char* text) : text_(text ? text : "") {}
    AnsiString(std::string text) : text_(std::move(text)) {}

    const char* c_str() const { return text_.c_str(); }
    const std::string& str() const { return text_; }
    int Length() const { return static_cast<int>(text_.size()); }
    bool IsEmpty() const { return text_.empty(); }

    friend bool operator==(const AnsiString&, const AnsiString&) = default;
    friend AnsiString operator+(const AnsiString& a, const AnsiString& b) { return AnsiString(a.text_ + b.text_); }

private:
    std::string text_;
};

// The decimal text of a signed 32-bit integer: optional minus sign, digits,
// no padding and no grouping.
AnsiString IntToStr(int value);
