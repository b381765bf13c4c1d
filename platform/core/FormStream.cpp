// The binary form stream ("TPF0") the program reads its window from at run
// time, and its writer, which the build-time form compiler uses.
#include "FormStream.h"

#include <cstring>
#include <limits>
#include <utility>

#include "Exception.h"

namespace formstream {

namespace {

// Value tags of the binary form stream.
enum Tag : unsigned char {
    kNull = 0,
    kList = 1,
    kInt8 = 2,
    kInt16 = 3,
    kInt32 = 4,
    kExtended = 5,
    kString = 6,
    kIdent = 7,
    kFalse = 8,
    kTrue = 9,
    kBinary = 10,
    kSet = 11,
    kLongString = 12,
    kNil = 13,
    kCollection = 14,
    kSingle = 15,
    kCurrency = 16,
    kDate = 17,
    kWideString = 18,
    kInt64 = 19,
    kUtf8String = 20,
};

const char* TagName(unsigned tag)
{
    switch (tag) {
    case kNull: return "null";
    case kList: return "list";
    case kExtended: return "extended";
    case kBinary: return "binary";
    case kNil: return "nil";
    case kCollection: return "collection";
    case kSingle: return "single";
    case kCurrency: return "currency";
    case kDate: return "date";
    case kWideString: return "wide string";
    case kInt64: return "int64";
    default: return nullptr;
    }
}

// ---------------------------------------------------------------------------
// Binary reader

class BinaryReader {
public:
    BinaryReader(const std::string& bytes, const std::string& source) : bytes_(bytes), source_(source) {}

    Object ReadRoot()
    {
        if (bytes_.size() < 4 || bytes_.compare(0, 4, "TPF0") != 0)
            Fail("does not start with the signature TPF0");
        pos_ = 4;
        Object root = ReadObject(1);
        if (pos_ != bytes_.size())
            Fail(std::to_string(bytes_.size() - pos_) + " unexpected bytes after the root object at byte "
                 + std::to_string(pos_));
        return root;
    }

private:
    [[noreturn]] void Fail(const std::string& what) const
    {
        throw Exception("Form stream " + source_ + ": " + what);
    }

    // Makes sure `count` more bytes are there; `what` says what was being read.
    void Need(std::size_t count, const std::string& what) const
    {
        if (count > bytes_.size() - pos_)
            Fail("truncated at byte " + std::to_string(bytes_.size()) + " while reading " + what);
    }

    unsigned char Byte(const std::string& what)
    {
        Need(1, what);
        return static_cast<unsigned char>(bytes_[pos_++]);
    }

    std::string Bytes(std::size_t count, const std::string& what)
    {
        Need(count, what);
        std::string out = bytes_.substr(pos_, count);
        pos_ += count;
        return out;
    }

    std::uint32_t UInt32(const std::string& what)
    {
        Need(4, what);
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = (v << 8) | static_cast<unsigned char>(bytes_[pos_ + static_cast<std::size_t>(i)]);
        pos_ += 4;
        return v;
    }

    // A length byte and that many bytes.
    std::string ShortString(const std::string& what)
    {
        std::size_t length = Byte(what);
        return Bytes(length, what);
    }

    Object ReadObject(int depth)
    {
        Object obj;
        obj.where = pos_;
        if (depth > kMaxDepth)
            Fail("components nested deeper than " + std::to_string(kMaxDepth) + " levels at byte "
                 + std::to_string(pos_));
        obj.className = ShortString("a class name");
        if (obj.className.empty())
            Fail("empty class name at byte " + std::to_string(obj.where));
        std::size_t nameAt = pos_;
        obj.name = ShortString("the component name of a " + obj.className);
        if (obj.name.empty())
            Fail("empty component name for a " + obj.className + " at byte " + std::to_string(nameAt));

        for (;;) {
            std::size_t at = pos_;
            std::size_t length = Byte("the properties of " + obj.name);
            if (length == 0)
                break;
            Property prop;
            prop.where = at;
            prop.name = Bytes(length, "a property name of " + obj.name);
            prop.value = ReadValue(prop.name);
            obj.properties.push_back(std::move(prop));
        }
        for (;;) {
            Need(1, "the child components of " + obj.name);
            if (bytes_[pos_] == 0) {
                ++pos_;
                break;
            }
            obj.children.push_back(ReadObject(depth + 1));
        }
        return obj;
    }

    Value ReadValue(const std::string& property)
    {
        const std::string what = "the value of property " + property;
        std::size_t at = pos_;
        unsigned tag = Byte(what);
        switch (tag) {
        case kInt8:
            return Value::Int(static_cast<std::int8_t>(Byte(what)));
        case kInt16: {
            unsigned lo = Byte(what);
            unsigned hi = Byte(what);
            return Value::Int(static_cast<std::int16_t>(static_cast<std::uint16_t>(lo | (hi << 8))));
        }
        case kInt32:
            return Value::Int(static_cast<std::int32_t>(UInt32(what)));
        case kString:
            return Value::Str(ShortString(what));
        case kIdent: {
            std::string ident = ShortString(what);
            if (ident.empty())
                Fail("empty identifier for property " + property + " at byte " + std::to_string(at));
            return Value::Ident(std::move(ident));
        }
        case kFalse:
            return Value::Bool(false);
        case kTrue:
            return Value::Bool(true);
        case kSet: {
            std::vector<std::string> members;
            for (;;) {
                std::string member = ShortString(what);
                if (member.empty())
                    break;
                members.push_back(std::move(member));
            }
            return Value::SetOf(std::move(members));
        }
        case kLongString:
        case kUtf8String: {
            std::uint32_t length = UInt32(what);
            return Value::Str(Bytes(length, what));
        }
        default:
            break;
        }
        const char* name = TagName(tag);
        if (name)
            Fail("unsupported value tag " + std::to_string(tag) + " (" + name + ") for property " + property
                 + " at byte " + std::to_string(at));
        Fail("unknown value tag " + std::to_string(tag) + " for property " + property + " at byte "
             + std::to_string(at));
    }

    const std::string& bytes_;
    const std::string& source_;
    std::size_t pos_ = 0;
};

// ---------------------------------------------------------------------------
// Binary writer

class BinaryWriter {
public:
    std::string Write(const Object& root)
    {
        out_ = "TPF0";
        WriteObject(root, 1);
        return std::move(out_);
    }

private:
    [[noreturn]] static void Fail(const std::string& what)
    {
        throw Exception("Cannot write form stream: " + what);
    }

    void PutByte(unsigned v) { out_.push_back(static_cast<char>(v & 0xFF)); }

    void PutUInt32(std::uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            PutByte(v >> (8 * i));
    }

    void PutShortString(const std::string& s, const std::string& what)
    {
        if (s.size() > 255)
            Fail(what + " is longer than 255 bytes");
        PutByte(static_cast<unsigned>(s.size()));
        out_ += s;
    }

    void WriteObject(const Object& obj, int depth)
    {
        if (depth > kMaxDepth)
            Fail("component " + obj.name + " is nested deeper than " + std::to_string(kMaxDepth) + " levels");
        if (obj.className.empty())
            Fail("a component has an empty class name");
        if (obj.name.empty())
            Fail("a " + obj.className + " has an empty component name");
        PutShortString(obj.className, "class name " + obj.className.substr(0, 32) + "...");
        PutShortString(obj.name, "component name " + obj.name.substr(0, 32) + "...");
        for (const Property& prop : obj.properties) {
            if (prop.name.empty())
                Fail("a property of " + obj.name + " has an empty name");
            PutShortString(prop.name, "property name " + prop.name.substr(0, 32) + "...");
            WriteValue(prop.value, prop.name);
        }
        PutByte(0);
        for (const Object& child : obj.children)
            WriteObject(child, depth + 1);
        PutByte(0);
    }

    void WriteValue(const Value& v, const std::string& property)
    {
        switch (v.type) {
        case Value::Type::Integer:
            if (v.integer >= -128 && v.integer <= 127) {
                PutByte(kInt8);
                PutByte(static_cast<unsigned>(v.integer));
            } else if (v.integer >= -32768 && v.integer <= 32767) {
                PutByte(kInt16);
                PutByte(static_cast<unsigned>(v.integer));
                PutByte(static_cast<unsigned>(v.integer >> 8));
            } else if (v.integer >= std::numeric_limits<std::int32_t>::min()
                       && v.integer <= std::numeric_limits<std::int32_t>::max()) {
                PutByte(kInt32);
                PutUInt32(static_cast<std::uint32_t>(v.integer));
            } else {
                Fail("the value " + std::to_string(v.integer) + " of property " + property
                     + " does not fit in 32 bits");
            }
            return;
        case Value::Type::String:
            if (v.text.size() <= 255) {
                PutByte(kString);
                PutShortString(v.text, "");
            } else {
                if (v.text.size() > std::numeric_limits<std::uint32_t>::max())
                    Fail("the string value of property " + property + " is too long");
                PutByte(kLongString);
                PutUInt32(static_cast<std::uint32_t>(v.text.size()));
                out_ += v.text;
            }
            return;
        case Value::Type::Identifier:
            if (v.text.empty())
                Fail("property " + property + " has an empty identifier value");
            PutByte(kIdent);
            PutShortString(v.text, "the identifier value of property " + property);
            return;
        case Value::Type::Boolean:
            PutByte(v.boolean ? kTrue : kFalse);
            return;
        case Value::Type::Set:
            PutByte(kSet);
            for (const std::string& member : v.members) {
                // An empty name would end the set early.
                if (member.empty())
                    Fail("the set value of property " + property + " has an empty member");
                PutShortString(member, "a set member of property " + property);
            }
            PutByte(0);
            return;
        }
        Fail("property " + property + " has a value of unknown type");
    }

    std::string out_;
};

} // namespace

Value Value::Int(std::int64_t v)
{
    Value value;
    value.type = Type::Integer;
    value.integer = v;
    return value;
}

Value Value::Str(std::string v)
{
    Value value;
    value.type = Type::String;
    value.text = std::move(v);
    return value;
}

Value Value::Ident(std::string v)
{
    Value value;
    value.type = Type::Identifier;
    value.text = std::move(v);
    return value;
}

Value Value::Bool(bool v)
{
    Value value;
    value.type = Type::Boolean;
    value.boolean = v;
    return value;
}

Value Value::SetOf(std::vector<std::string> v)
{
    Value value;
    value.type = Type::Set;
    value.members = std::move(v);
    return value;
}

const char* TypeName(Value::Type type)
{
    switch (type) {
    case Value::Type::Integer: return "integer";
    case Value::Type::String: return "string";
    case Value::Type::Identifier: return "identifier";
    case Value::Type::Boolean: return "Boolean";
    case Value::Type::Set: return "set";
    }
    return "unknown";
}

Object ReadBinary(const std::string& bytes, const std::string& source)
{
    return BinaryReader(bytes, source).ReadRoot();
}

std::string WriteBinary(const Object& root)
{
    return BinaryWriter().Write(root);
}

} // namespace formstream
