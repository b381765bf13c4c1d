// Feeds arbitrary bytes to the binary form stream reader. Rejection must be
// an Exception; whatever is accepted must survive being written back out,
// in binary and (where it can be expressed) as text, unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "Exception.h"
#include "FormStream.h"

namespace {

bool SameTree(const formstream::Object& a, const formstream::Object& b)
{
    if (a.className != b.className || a.name != b.name || a.properties.size() != b.properties.size()
        || a.children.size() != b.children.size())
        return false;
    for (std::size_t i = 0; i < a.properties.size(); ++i)
        if (a.properties[i].name != b.properties[i].name || !(a.properties[i].value == b.properties[i].value))
            return false;
    for (std::size_t i = 0; i < a.children.size(); ++i)
        if (!SameTree(a.children[i], b.children[i]))
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    formstream::Object root;
    try {
        root = formstream::ReadBinary(bytes, "fuzz");
    } catch (const Exception&) {
        return 0;
    }
    if (!SameTree(root, formstream::ReadBinary(formstream::WriteBinary(root), "rewritten")))
        std::abort();
    std::string text;
    try {
        text = formstream::WriteText(root);
    } catch (const Exception&) {
        return 0; // names or identifiers the text form cannot spell
    }
    if (!SameTree(root, formstream::ParseText(text, "fuzz.dfm")))
        std::abort();
    return 0;
}
