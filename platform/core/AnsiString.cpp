#include "AnsiString.h"

AnsiString IntToStr(int value)
{
    return AnsiString(std::to_string(value)); // the same text as "%i"
}
