// The reader of the text form of window definitions kept in the source
// tree, used at build time by the form compiler and by the fuzz tests, never
// by the program at run time.
#include "FormText.h"

#include <limits>
#include <utility>

#include "Exception.h"
#include "FormTextWords.h"

namespace formstream {

namespace {

using namespace text;

// The value of a digit in base 10 or 16, or -1 when `c` is none.
int DigitValue(char c, int base)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (base == 16 && c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (base == 16 && c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

class TextParser {
public:
    TextParser(const std::string& text, const std::string& source) : text_(text), source_(source) {}

    Object ParseRoot()
    {
        SkipSpace();
        if (AtEnd())
            Fail("no object definition found");
        Object root = ParseObject(1);
        SkipSpace();
        if (!AtEnd())
            Fail("unexpected text after the end of the root object");
        return root;
    }

private:
    [[noreturn]] void Fail(const std::string& what) const
    {
        throw Exception(source_ + " line " + std::to_string(line_) + ": " + what);
    }

    bool AtEnd() const { return pos_ >= text_.size(); }
    char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }

    // Skips blanks and line breaks, counting lines.
    void SkipSpace()
    {
        while (!AtEnd()) {
            char c = text_[pos_];
            if (c == '\n')
                ++line_;
            else if (c != ' ' && c != '\t' && c != '\r' && c != '\f' && c != '\v')
                break;
            ++pos_;
        }
    }

    // A short rendering of the next token, for messages.
    std::string Found()
    {
        if (AtEnd())
            return "the end of the text";
        char c = text_[pos_];
        if (IsIdentChar(c)) {
            std::size_t end = pos_;
            while (end < text_.size() && IsIdentChar(text_[end]) && end - pos_ < 32)
                ++end;
            return "'" + text_.substr(pos_, end - pos_) + "'";
        }
        if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) >= 127)
            return "the byte " + std::to_string(static_cast<unsigned char>(c));
        return "'" + std::string(1, c) + "'";
    }

    // Reads an identifier, or fails naming `what` was expected.
    std::string Identifier(const std::string& what)
    {
        SkipSpace();
        if (!IsIdentStart(Peek()))
            Fail("expected " + what + ", found " + Found());
        std::size_t start = pos_;
        while (!AtEnd() && IsIdentChar(text_[pos_]))
            ++pos_;
        if (pos_ - start > 255)
            Fail(what + " is longer than 255 characters");
        return text_.substr(start, pos_ - start);
    }

    void Expect(char c, const std::string& context)
    {
        SkipSpace();
        if (Peek() != c)
            Fail("expected '" + std::string(1, c) + "' " + context + ", found " + Found());
        ++pos_;
    }

    Object ParseObject(int depth)
    {
        Object obj;
        obj.where = line_;
        std::string keyword = Identifier("'object'");
        if (!EqualsNoCase(keyword, "object"))
            Fail("expected 'object', found '" + keyword + "'");
        if (depth > kMaxDepth)
            Fail("objects nested deeper than " + std::to_string(kMaxDepth) + " levels");
        obj.name = Identifier("a component name");
        if (IsKeyword(obj.name))
            Fail("'" + obj.name + "' cannot be a component name");
        Expect(':', "after the component name " + obj.name);
        obj.className = Identifier("a class name after '" + obj.name + ":'");

        for (;;) {
            SkipSpace();
            std::size_t lineAt = line_;
            std::string word = Identifier("a property, 'object' or 'end' in " + obj.name);
            if (EqualsNoCase(word, "end"))
                break;
            if (EqualsNoCase(word, "object")) {
                pos_ -= word.size();
                obj.children.push_back(ParseObject(depth + 1));
                continue;
            }
            Property prop;
            prop.where = lineAt;
            prop.name = word;
            while (Peek() == '.') {
                ++pos_;
                if (!IsIdentStart(Peek()))
                    Fail("expected a name after '" + prop.name + ".', found " + Found());
                prop.name += "." + Identifier("a property name");
            }
            if (prop.name.size() > 255)
                Fail("property name " + prop.name.substr(0, 32) + "... is longer than 255 characters");
            if (!obj.children.empty())
                Fail("property " + prop.name + " of " + obj.name + " comes after its child objects");
            Expect('=', "after property " + prop.name);
            prop.value = ParseValue(prop.name);
            obj.properties.push_back(std::move(prop));
        }
        return obj;
    }

    Value ParseValue(const std::string& property)
    {
        SkipSpace();
        char c = Peek();
        if (c == '\'' || c == '#')
            return Value::Str(ParseString(property));
        if (c == '-' || c == '+' || c == '$' || (c >= '0' && c <= '9'))
            return Value::Int(ParseInteger(property));
        if (c == '[')
            return Value::SetOf(ParseSet(property));
        if (IsIdentStart(c)) {
            std::string word = Identifier("a value");
            if (EqualsNoCase(word, "true"))
                return Value::Bool(true);
            if (EqualsNoCase(word, "false"))
                return Value::Bool(false);
            return Value::Ident(std::move(word));
        }
        if (c == '(' || c == '{' || c == '<') {
            const char* kind = c == '(' ? "lists" : c == '{' ? "binary data" : "collections";
            Fail(std::string(kind) + " are not supported (property " + property + ")");
        }
        Fail("expected a value for property " + property + ", found " + Found());
    }

    std::int64_t ParseInteger(const std::string& property)
    {
        bool negative = false;
        if (Peek() == '-' || Peek() == '+') {
            negative = Peek() == '-';
            ++pos_;
        }
        int base = 10;
        if (Peek() == '$') {
            base = 16;
            ++pos_;
        }
        std::int64_t magnitude = 0;
        int digits = 0;
        for (int d; !AtEnd() && (d = DigitValue(text_[pos_], base)) >= 0; ++pos_) {
            magnitude = magnitude * base + d;
            if (magnitude > (std::int64_t{1} << 32))
                Fail("the number for property " + property + " does not fit in 32 bits");
            ++digits;
        }
        if (digits == 0)
            Fail("expected digits in the number for property " + property + ", found " + Found());
        if (Peek() == '.' || Peek() == 'e' || Peek() == 'E')
            Fail("property " + property + " has a floating-point value, which is not supported");
        if (IsIdentChar(Peek()))
            Fail("unexpected " + Found() + " after the number for property " + property);
        std::int64_t value = negative ? -magnitude : magnitude;
        if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
            Fail("the number for property " + property + " does not fit in 32 bits");
        return value;
    }

    // Quoted pieces ('it''s') and character codes (#13) written next to each
    // other form one string; '+' joins pieces across lines.
    std::string ParseString(const std::string& property)
    {
        std::string out;
        for (;;) {
            if (Peek() == '\'') {
                std::size_t startLine = line_;
                ++pos_;
                for (;;) {
                    if (AtEnd() || Peek() == '\n' || Peek() == '\r') {
                        line_ = startLine;
                        Fail("unterminated string for property " + property);
                    }
                    char c = text_[pos_++];
                    if (c == '\'') {
                        if (Peek() != '\'')
                            break;
                        ++pos_;
                    }
                    out.push_back(c);
                }
            } else if (Peek() == '#') {
                ++pos_;
                int base = 10;
                if (Peek() == '$') {
                    base = 16;
                    ++pos_;
                }
                long code = 0;
                int digits = 0;
                for (int d; !AtEnd() && (d = DigitValue(text_[pos_], base)) >= 0; ++pos_) {
                    code = code * base + d;
                    if (code > 255)
                        Fail("character code in the string for property " + property + " is above 255");
                    ++digits;
                }
                if (digits == 0)
                    Fail("expected a character code after '#' for property " + property + ", found " + Found());
                out.push_back(static_cast<char>(code));
            } else {
                break;
            }
            // A '+' continues the string with the next piece.
            std::size_t save = pos_, saveLine = line_;
            SkipSpace();
            if (Peek() == '+') {
                ++pos_;
                SkipSpace();
                if (Peek() != '\'' && Peek() != '#')
                    Fail("expected a string after '+' for property " + property + ", found " + Found());
            } else {
                pos_ = save;
                line_ = saveLine;
            }
        }
        return out;
    }

    std::vector<std::string> ParseSet(const std::string& property)
    {
        ++pos_; // '['
        std::vector<std::string> members;
        SkipSpace();
        if (Peek() == ']') {
            ++pos_;
            return members;
        }
        for (;;) {
            members.push_back(Identifier("a set member for property " + property));
            SkipSpace();
            if (Peek() == ']') {
                ++pos_;
                return members;
            }
            Expect(',', "between the set members of property " + property);
        }
    }

    const std::string& text_;
    const std::string& source_;
    std::size_t pos_ = 0;
    std::size_t line_ = 1;
};

} // namespace

Object ParseText(const std::string& text, const std::string& source)
{
    return TextParser(text, source).ParseRoot();
}

} // namespace formstream
