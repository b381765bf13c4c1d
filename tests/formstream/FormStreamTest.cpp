#include "FormStream.h"
#include "FormText.h"

#include <gtest/gtest.h>

#include "Exception.h"

using namespace formstream;

namespace {

// A window's definition: nested font properties, integers of every size,
// empty and filled sets, strings with quotes and control characters,
// identifiers, Booleans, child objects.
const char* const kWindow = R"(object Form1: TForm1
  Left = 212
  Width = 870
  Caption = 'Form1'
  Color = clBtnFace
  Font.Height = -11
  Font.Name = 'MS Sans Serif'
  Font.Style = []
  OldCreateOrder = False
  object btnrecord: TButton
    Caption = 'It''s "Record"'
    Font.Style = [fsBold, fsItalic]
    ParentFont = True
    OnClick = btnrecordClick
  end
  object Edit1: TEdit
    Text = ''
    Hint = 'two'#13#10'lines'
    Tag = -2147483648
    HelpContext = 2147483647
  end
end
)";

std::string ErrorOf(auto&& action)
{
    try {
        action();
    } catch (const Exception& e) {
        return e.Message.str();
    }
    return "(no error)";
}

// A stream of one TForm1 "Form1" with one property (name and tagged value).
std::string OneProperty(const std::string& name, const std::string& value)
{
    return std::string("TPF0\x06TForm1\x05" "Form1") + char(name.size()) + name + value + std::string(2, '\0');
}

} // namespace

TEST(FormStream, TextToBinaryToTextKeepsEveryValue)
{
    const Object parsed = ParseText(kWindow, "Unit1.dfm");
    EXPECT_EQ(parsed.properties[4].value, Value::Int(-11));
    EXPECT_EQ(parsed.properties[6].value, Value::SetOf({}));
    EXPECT_EQ(parsed.properties[7].value, Value::Bool(false));
    EXPECT_EQ(parsed.children[0].properties[0].value, Value::Str("It's \"Record\""));
    EXPECT_EQ(parsed.children[0].properties[1].value, Value::SetOf({"fsBold", "fsItalic"}));
    EXPECT_EQ(parsed.children[1].properties[1].value, Value::Str("two\r\nlines"));
    EXPECT_EQ(parsed.children[1].where, 16u);

    const std::string binary = WriteBinary(parsed);
    EXPECT_NE(binary.find("Font.Height\x02\xf5"), std::string::npos) << "integers take the smallest tag";
    const Object read = ReadBinary(binary, "TFORM1");
    EXPECT_EQ(WriteBinary(read), binary);
    EXPECT_EQ(WriteText(read), kWindow);
}

TEST(FormStream, MalformedBinaryFailsWithWhatAndWhere)
{
    const auto error = [](const std::string& bytes) { return ErrorOf([&] { ReadBinary(bytes, "TFORM1"); }); };
    const std::string binary = WriteBinary(ParseText(kWindow, "Unit1.dfm"));
    for (std::size_t n = 4; n < binary.size(); ++n)
        EXPECT_NE(error(binary.substr(0, n)).find("truncated at byte " + std::to_string(n)), std::string::npos) << n;

    auto nested = [](int levels) {
        std::string s = "TPF0";
        for (int i = 0; i < levels; ++i)
            s += std::string("\x01T\x01N\x00", 5);
        return s + std::string(static_cast<std::size_t>(levels), '\0');
    };
    EXPECT_EQ(WriteBinary(ReadBinary(nested(64), "t")), nested(64));
    const struct { std::string bytes, message; } cases[] = {
        {"TPF", "does not start with the signature TPF0"},
        {"TPF1\x06TForm1\x05" "Form1" + std::string(2, '\0'), "does not start with the signature TPF0"},
        {OneProperty("Tag", "\x15"), "unknown value tag 21 for property Tag at byte 21"},
        {OneProperty("Tag", std::string("\x05", 1) + std::string(10, '\0')),
         "unsupported value tag 5 (extended) for property Tag at byte 21"},
        {OneProperty("Tag", "\x02\x01") + "xyz", "3 unexpected bytes after the root object at byte 25"},
        {nested(65), "components nested deeper than 64 levels at byte 324"},
        {nested(100000), "components nested deeper than 64 levels"}, // without exhausting the stack
    };
    for (const auto& c : cases)
        EXPECT_EQ(error(c.bytes).substr(0, 20 + c.message.size()), "Form stream TFORM1: " + c.message);
}

TEST(FormStream, TextErrorsNameTheLine)
{
    std::string deep;
    for (int i = 0; i < 65; ++i)
        deep += "object N: T\n";
    const struct { std::string text, message; } cases[] = {
        {"object Form1: TForm1\n  Left 212\nend\n", "line 2: expected '=' after property Left, found '212'"},
        {"object Form1: TForm1\n\n  Caption = 'abc\nend\n", "line 3: unterminated string for property Caption"},
        {"object Form1: TForm1\n  Left = 2147483648\nend\n",
         "line 2: the number for property Left does not fit in 32 bits"},
        {"object Form1: TForm1\n  Left = 1\n",
         "line 3: expected a property, 'object' or 'end' in Form1, found the end of the text"},
        {deep, "line 65: objects nested deeper than 64 levels"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ErrorOf([&] { ParseText(c.text, "Unit1.dfm"); }), "Unit1.dfm " + c.message);
}
