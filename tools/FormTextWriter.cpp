// The writer of the text form: a tree of objects as the readable definition
// the form compiler reads back.
#include <cstdint>
#include <limits>
#include <utility>

#include "Exception.h"
#include "FormText.h"
#include "FormTextWords.h"

namespace formstream {

namespace {

using namespace text;

class TextWriter {
public:
    std::string Write(const Object& root)
    {
        WriteObject(root, 0);
        return std::move(out_);
    }

private:
    [[noreturn]] static void Fail(const std::string& what)
    {
        throw Exception("Cannot write form definition: " + what);
    }

    static void CheckName(const std::string& name, const char* what)
    {
        if (!IsIdentifier(name) || IsKeyword(name))
            Fail(std::string(what) + " '" + name.substr(0, 64) + "' is not a valid name");
    }

    static void CheckPropertyName(const std::string& name)
    {
        std::size_t start = 0;
        for (;;) {
            std::size_t dot = name.find('.', start);
            std::string part = name.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
            if (!IsIdentifier(part) || (start == 0 && IsKeyword(part)))
                Fail("property name '" + name.substr(0, 64) + "' is not a valid name");
            if (dot == std::string::npos)
                return;
            start = dot + 1;
        }
    }

    void Indent(int depth) { out_.append(static_cast<std::size_t>(depth) * 2, ' '); }

    void WriteObject(const Object& obj, int depth)
    {
        if (depth >= kMaxDepth)
            Fail("component " + obj.name + " is nested deeper than " + std::to_string(kMaxDepth) + " levels");
        CheckName(obj.name, "component name");
        CheckName(obj.className, "class name");
        Indent(depth);
        out_ += "object " + obj.name + ": " + obj.className + "\n";
        for (const Property& prop : obj.properties) {
            CheckPropertyName(prop.name);
            Indent(depth + 1);
            out_ += prop.name + " = ";
            WriteValue(prop.value, prop.name);
            out_ += "\n";
        }
        for (const Object& child : obj.children)
            WriteObject(child, depth + 1);
        Indent(depth);
        out_ += "end\n";
    }

    void WriteValue(const Value& v, const std::string& property)
    {
        switch (v.type) {
        case Value::Type::Integer:
            if (v.integer < std::numeric_limits<std::int32_t>::min()
                || v.integer > std::numeric_limits<std::int32_t>::max())
                Fail("the value " + std::to_string(v.integer) + " of property " + property
                     + " does not fit in 32 bits");
            out_ += std::to_string(v.integer);
            return;
        case Value::Type::String:
            WriteString(v.text);
            return;
        case Value::Type::Identifier:
            // True and False would read back as Boolean values.
            if (!IsIdentifier(v.text) || IsBooleanWord(v.text))
                Fail("the identifier value '" + v.text.substr(0, 64) + "' of property " + property
                     + " cannot be written as text");
            out_ += v.text;
            return;
        case Value::Type::Boolean:
            out_ += v.boolean ? "True" : "False";
            return;
        case Value::Type::Set:
            out_ += "[";
            for (std::size_t i = 0; i < v.members.size(); ++i) {
                if (!IsIdentifier(v.members[i]))
                    Fail("the set member '" + v.members[i].substr(0, 64) + "' of property " + property
                         + " cannot be written as text");
                if (i > 0)
                    out_ += ", ";
                out_ += v.members[i];
            }
            out_ += "]";
            return;
        }
        Fail("property " + property + " has a value of unknown type");
    }

    // Printable text goes in quotes; control characters as #nn codes, so a
    // string never spans lines.
    void WriteString(const std::string& s)
    {
        if (s.empty()) {
            out_ += "''";
            return;
        }
        bool quoted = false;
        for (char c : s) {
            auto u = static_cast<unsigned char>(c);
            bool control = u < 32 || u == 127;
            if (control) {
                if (quoted) {
                    out_ += '\'';
                    quoted = false;
                }
                out_ += "#" + std::to_string(u);
                continue;
            }
            if (!quoted) {
                out_ += '\'';
                quoted = true;
            }
            out_ += c;
            if (c == '\'')
                out_ += '\'';
        }
        if (quoted)
            out_ += '\'';
    }

    std::string out_;
};

} // namespace

std::string WriteText(const Object& root)
{
    return TextWriter().Write(root);
}

} // namespace formstream
