// Feeds arbitrary bytes to the binary form stream reader. Rejection must be
// an Exception; whatever is accepted must come back unchanged when written
// out and read again, in binary and (where it can be spelt) as text.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "Exception.h"
#include "FormStream.h"
#include "FormText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace formstream;
    Object root;
    try {
        root = ReadBinary(std::string(reinterpret_cast<const char*>(data), size), "fuzz");
    } catch (const Exception&) {
        return 0;
    }
    // The writer is canonical, so equal trees give equal bytes.
    const std::string binary = WriteBinary(root);
    if (WriteBinary(ReadBinary(binary, "rewritten")) != binary)
        std::abort();
    std::string text;
    try {
        text = WriteText(root);
    } catch (const Exception&) {
        return 0; // names or identifiers the text form cannot spell
    }
    if (WriteBinary(ParseText(text, "fuzz.dfm")) != binary)
        std::abort();
    return 0;
}
