#pragma once
// The words of the text form, shared by its reader and its writer.
#include <cstring>
#include <string>

namespace formstream::text {

inline bool EqualsNoCase(const std::string& a, const char* b)
{
    std::size_t n = std::strlen(b);
    if (a.size() != n)
        return false;
    for (std::size_t i = 0; i < n; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

inline bool IsIdentStart(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

inline bool IsIdentChar(char c)
{
    return IsIdentStart(c) || (c >= '0' && c <= '9');
}

inline bool IsIdentifier(const std::string& s)
{
    if (s.empty() || !IsIdentStart(s[0]))
        return false;
    for (char c : s)
        if (!IsIdentChar(c))
            return false;
    return true;
}

// Words the text form gives a meaning of their own, so they cannot stand as
// names or identifier values there.
inline bool IsKeyword(const std::string& s)
{
    return EqualsNoCase(s, "object") || EqualsNoCase(s, "end");
}

inline bool IsBooleanWord(const std::string& s)
{
    return EqualsNoCase(s, "true") || EqualsNoCase(s, "false");
}

} // namespace formstream::text
