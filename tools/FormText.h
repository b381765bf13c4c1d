#pragma once
// The readable text form of window definitions, kept in the source tree and
// compiled into the binary form stream at build time. Errors are thrown as
// Exception naming the line.
#include <string>

#include "FormStream.h"

namespace formstream {

// Reads the text definition:
//   object Name: TClass
//     Prop = 12 | -11 | 'text' | Ident | True | False | [a, b] | []
//     Font.Height = -19
//     object Child: TClass
//       ...
//     end
//   end
// Strings use single quotes, '' inside a string for a quote.
Object ParseText(const std::string& text, const std::string& source);
// Writes the text definition, indented by two spaces per level.
std::string WriteText(const Object& root);

} // namespace formstream
