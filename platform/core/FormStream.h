#pragma once
// Form definitions as a tree of objects, properties and values, and the
// binary form stream ("TPF0") embedded in the program that holds one. The
// readable text form is read only at build time, by tools/FormText.h.
//
// Binary layout: "TPF0", then one object. An object is its class name and
// its name (each a length byte and that many bytes), its properties, a 0
// byte, its child objects, a 0 byte. A property is its name (length byte and
// bytes; nested properties use dotted names such as "Font.Height") followed
// by a value: a tag byte and its payload.
//
// Errors are thrown as Exception, with a message that says what is wrong and
// where (byte offset in a binary stream, line in a text definition).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace formstream {

// Components may nest this deep and no deeper: enough for any window, and it
// keeps the recursive readers' stack use small on hostile input.
constexpr int kMaxDepth = 64;

struct Value {
    enum class Type { Integer, String, Identifier, Boolean, Set };
    Type type = Type::Integer;
    std::int64_t integer = 0;         // Integer (stored as int8, int16 or int32)
    bool boolean = false;             // Boolean
    std::string text;                 // String, Identifier
    std::vector<std::string> members; // Set

    static Value Int(std::int64_t v);
    static Value Str(std::string v);
    static Value Ident(std::string v);
    static Value Bool(bool v);
    static Value SetOf(std::vector<std::string> v);

    friend bool operator==(const Value&, const Value&) = default;
};

// A short description of a value's type, for error messages ("integer").
const char* TypeName(Value::Type type);

struct Property {
    std::string name;
    Value value;
    std::size_t where = 0; // byte offset (binary) or line (text) of the property
};

struct Object {
    std::string className;
    std::string name;
    std::vector<Property> properties;
    std::vector<Object> children;
    std::size_t where = 0; // byte offset (binary) or line (text) of the object
};

// Reads a binary form stream. `source` names the stream in messages.
Object ReadBinary(const std::string& bytes, const std::string& source);
// Writes the binary form stream; integers take the smallest tag that holds them.
std::string WriteBinary(const Object& root);

} // namespace formstream
