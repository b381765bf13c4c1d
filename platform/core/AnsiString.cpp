#include "AnsiString.h"

#include <cstdio>

AnsiString IntToStr(int value)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%i", value);
    return AnsiString(buffer);
}
