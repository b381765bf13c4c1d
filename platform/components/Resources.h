#pragma once
// Named resources embedded in the program (the form definitions, the icon).
#include <string>

bool HasResource(const std::string& name);
// The bytes of the resource `name`; throws an Exception when there is none.
std::string LoadResource(const std::string& name);
