#include "FormStream.h"

#include <gtest/gtest.h>

#include <string>

#include "Exception.h"

using namespace formstream;

namespace {

// The recorder window: nested font properties, negative numbers, an empty
// set, strings with quotes and control characters, identifiers, Booleans.
const char* const kWindow = R"(object Form1: TForm1
  Left = 212
  Top = 146
  Width = 870
  Height = 640
  Caption = 'Form1'
  Color = clBtnFace
  Font.Charset = DEFAULT_CHARSET
  Font.Color = clWindowText
  Font.Height = -11
  Font.Name = 'MS Sans Serif'
  Font.Style = []
  OldCreateOrder = False
  PixelsPerInch = 96
  TextHeight = 13
  object Label1: TLabel
    Left = 328
    Top = 328
    Width = 32
    Height = 13
    Caption = 'Label1'
  end
  object btnrecord: TButton
    Left = 208
    Top = 472
    Width = 89
    Height = 41
    Caption = 'It''s "Record"'
    Font.Height = -19
    Font.Style = [fsBold, fsItalic]
    ParentFont = False
    TabOrder = 1
    OnClick = btnrecordClick
  end
  object Edit1: TEdit
    Text = ''
    Hint = 'two'#13#10'lines'
    Tag = -2147483648
    HelpContext = 2147483647
    TabOrder = 6
  end
  object Timer1: TTimer
    OnTimer = Timer1Timer
    Left = 728
    Top = 408
  end
end
)";

void ExpectSameTree(const Object& a, const Object& b)
{
    EXPECT_EQ(a.className, b.className);
    EXPECT_EQ(a.name, b.name);
    ASSERT_EQ(a.properties.size(), b.properties.size()) << a.name;
    for (std::size_t i = 0; i < a.properties.size(); ++i) {
        EXPECT_EQ(a.properties[i].name, b.properties[i].name);
        EXPECT_EQ(a.properties[i].value, b.properties[i].value) << a.name << "." << a.properties[i].name;
    }
    ASSERT_EQ(a.children.size(), b.children.size()) << a.name;
    for (std::size_t i = 0; i < a.children.size(); ++i)
        ExpectSameTree(a.children[i], b.children[i]);
}

const Value& Prop(const Object& obj, const std::string& name)
{
    for (const Property& p : obj.properties)
        if (p.name == name)
            return p.value;
    throw std::runtime_error("no property " + name);
}

std::string ErrorOf(auto&& action)
{
    try {
        action();
    } catch (const Exception& e) {
        return e.Message.str();
    }
    return "(no error)";
}

std::string ReadError(const std::string& bytes)
{
    return ErrorOf([&] { ReadBinary(bytes, "TFORM1"); });
}

std::string TextError(const std::string& text)
{
    return ErrorOf([&] { ParseText(text, "Unit1.dfm"); });
}

// A stream of one TForm1 "Form1" with the given property bytes and no children.
std::string OneProperty(const std::string& name, const std::string& value)
{
    return std::string("TPF0\x06TForm1\x05" "Form1") + char(name.size()) + name + value + std::string(2, '\0');
}

} // namespace

TEST(FormStream, TextToBinaryToTextKeepsEveryValue)
{
    Object parsed = ParseText(kWindow, "Unit1.dfm");

    // Spot checks that the parser reads what the text says.
    EXPECT_EQ(parsed.className, "TForm1");
    EXPECT_EQ(parsed.where, 1u);
    EXPECT_EQ(Prop(parsed, "Font.Height"), Value::Int(-11));
    EXPECT_EQ(Prop(parsed, "Font.Style"), Value::SetOf({}));
    EXPECT_EQ(Prop(parsed, "OldCreateOrder"), Value::Bool(false));
    EXPECT_EQ(Prop(parsed, "Color"), Value::Ident("clBtnFace"));
    ASSERT_EQ(parsed.children.size(), 4u);
    const Object& button = parsed.children[1];
    EXPECT_EQ(button.where, 23u);
    EXPECT_EQ(Prop(button, "Caption"), Value::Str("It's \"Record\""));
    EXPECT_EQ(Prop(button, "Font.Style"), Value::SetOf({"fsBold", "fsItalic"}));
    EXPECT_EQ(Prop(parsed.children[2], "Hint"), Value::Str("two\r\nlines"));
    EXPECT_EQ(Prop(parsed.children[2], "Tag"), Value::Int(-2147483648LL));

    std::string binary = WriteBinary(parsed);
    Object fromBinary = ReadBinary(binary, "TFORM1");
    ExpectSameTree(parsed, fromBinary);
    EXPECT_EQ(WriteBinary(fromBinary), binary);

    std::string text = WriteText(fromBinary);
    EXPECT_EQ(text, kWindow);
    ExpectSameTree(parsed, ParseText(text, "out.dfm"));
}

TEST(FormStream, WriterPicksSmallestTagsAndReaderSignExtends)
{
    struct Case { std::int64_t value; std::string bytes; };
    const Case cases[] = {
        {0, std::string("\x02\x00", 2)},
        {-1, "\x02\xff"},
        {127, "\x02\x7f"},
        {-128, "\x02\x80"},
        {128, std::string("\x03\x80\x00", 3)},
        {-129, "\x03\x7f\xff"},
        {32767, "\x03\xff\x7f"},
        {-32768, std::string("\x03\x00\x80", 3)},
        {32768, std::string("\x04\x00\x80\x00\x00", 5)},
        {-2147483648LL, std::string("\x04\x00\x00\x00\x80", 5)},
    };
    for (const Case& c : cases) {
        Object obj{"TForm1", "Form1", {{"Tag", Value::Int(c.value), 0}}, {}, 0};
        std::string expected = OneProperty("Tag", c.bytes);
        EXPECT_EQ(WriteBinary(obj), expected) << c.value;
        EXPECT_EQ(ReadBinary(expected, "t").properties[0].value, Value::Int(c.value)) << c.value;
    }

    Object obj{"TForm1", "Form1", {{"Tag", Value::Int(2147483648LL), 0}}, {}, 0};
    EXPECT_NE(ErrorOf([&] { WriteBinary(obj); }).find("Tag does not fit in 32 bits"), std::string::npos);
}

TEST(FormStream, StringTags)
{
    Object obj{"TForm1", "Form1", {{"Caption", Value::Str(std::string(255, 'x')), 0}}, {}, 0};
    EXPECT_EQ(WriteBinary(obj), OneProperty("Caption", "\x06\xff" + std::string(255, 'x')));

    obj.properties[0].value = Value::Str(std::string(256, 'y'));
    std::string longForm = OneProperty("Caption", std::string("\x0c\x00\x01\x00\x00", 5) + std::string(256, 'y'));
    EXPECT_EQ(WriteBinary(obj), longForm);
    EXPECT_EQ(ReadBinary(longForm, "t").properties[0].value, obj.properties[0].value);

    // UTF-8 strings read as plain strings.
    std::string utf8 = OneProperty("Caption", std::string("\x14\x03\x00\x00\x00", 5) + "\xc3\xa9!");
    EXPECT_EQ(ReadBinary(utf8, "t").properties[0].value, Value::Str("\xc3\xa9!"));
}

TEST(FormStream, EveryTruncationFailsCleanly)
{
    std::string binary = WriteBinary(ParseText(kWindow, "Unit1.dfm"));
    for (std::size_t n = 0; n < binary.size(); ++n) {
        std::string message = ReadError(binary.substr(0, n));
        EXPECT_EQ(message.rfind("Form stream TFORM1: ", 0), 0u) << n << ": " << message;
        if (n >= 4) {
            EXPECT_NE(message.find("truncated at byte " + std::to_string(n) + " while reading"), std::string::npos)
                << message;
        }
    }
}

TEST(FormStream, MalformedBinaryIsRejectedWithWhatAndWhere)
{
    EXPECT_EQ(ReadError(""), "Form stream TFORM1: does not start with the signature TPF0");
    EXPECT_EQ(ReadError("TPF1\x06TForm1\x05" "Form1" + std::string(2, '\0')),
              "Form stream TFORM1: does not start with the signature TPF0");

    // Byte 4 class name, 11 component name, 17 property name, 29 its tag.
    EXPECT_EQ(ReadError(OneProperty("Font.Height", std::string("\x05", 1) + std::string(10, '\0'))),
              "Form stream TFORM1: unsupported value tag 5 (extended) for property Font.Height at byte 29");
    EXPECT_EQ(ReadError(OneProperty("Tag", "\x15")), "Form stream TFORM1: unknown value tag 21 for property Tag at byte 21");
    EXPECT_EQ(ReadError(OneProperty("Tag", std::string(1, '\0'))),
              "Form stream TFORM1: unsupported value tag 0 (null) for property Tag at byte 21");
    for (int tag : {1, 10, 13, 14, 15, 16, 17, 18, 19, 255})
        EXPECT_NE(ReadError(OneProperty("Tag", std::string(1, char(tag)) + std::string(16, '\0')))
                      .find("value tag " + std::to_string(tag) + " "),
                  std::string::npos)
            << tag;

    EXPECT_EQ(ReadError(OneProperty("Tag", "\x02\x01") + "xyz"),
              "Form stream TFORM1: 3 unexpected bytes after the root object at byte 25");
    EXPECT_NE(ReadError(std::string("TPF0\x00\x05" "Form1\x00\x00", 13)).find("empty class name at byte 4"),
              std::string::npos);
    EXPECT_NE(ReadError(std::string("TPF0\x06TForm1\x00\x00\x00", 14)).find("empty component name for a TForm1"),
              std::string::npos);

    EXPECT_EQ(ReadError(OneProperty("Color", std::string("\x07\x00", 2))),
              "Form stream TFORM1: empty identifier for property Color at byte 23");

    // A long string whose length runs far past the end.
    EXPECT_NE(ReadError(OneProperty("Caption", "\x0c\xff\xff\xff\xff")).find("truncated"), std::string::npos);
}

TEST(FormStream, NestingDepthIsBounded)
{
    auto nested = [](int levels) {
        std::string s = "TPF0";
        for (int i = 0; i < levels; ++i)
            s += std::string("\x01T\x01N\x00", 5);
        return s + std::string(static_cast<std::size_t>(levels), '\0');
    };
    Object deepest = ReadBinary(nested(64), "t");
    EXPECT_EQ(WriteBinary(deepest), nested(64));
    EXPECT_NE(ReadError(nested(65)).find("nested deeper than 64 levels at byte 324"), std::string::npos);
    // Far deeper input fails just the same, without exhausting the stack.
    EXPECT_NE(ReadError(nested(100000)).find("nested deeper"), std::string::npos);

    std::string text;
    for (int i = 0; i < 65; ++i)
        text += "object N: T\n";
    EXPECT_EQ(TextError(text), "Unit1.dfm line 65: objects nested deeper than 64 levels");
}

TEST(FormStream, TextSyntaxErrorsNameTheLine)
{
    struct Case { const char* text; const char* message; };
    const Case cases[] = {
        {"", "Unit1.dfm line 1: no object definition found"},
        {"object Form1: TForm1\n  Left 212\nend\n", "Unit1.dfm line 2: expected '=' after property Left, found '212'"},
        {"object Form1 TForm1\nend\n", "Unit1.dfm line 1: expected ':' after the component name Form1, found 'TForm1'"},
        {"object Form1: TForm1\n\n  Caption = 'abc\nend\n", "Unit1.dfm line 3: unterminated string for property Caption"},
        {"object Form1: TForm1\n  Left = 2147483648\nend\n", "Unit1.dfm line 2: the number for property Left does not fit in 32 bits"},
        {"object Form1: TForm1\n  Left = 1.5\nend\n", "Unit1.dfm line 2: property Left has a floating-point value, which is not supported"},
        {"object Form1: TForm1\n  Left = 12px\nend\n", "Unit1.dfm line 2: unexpected 'px' after the number for property Left"},
        {"object Form1: TForm1\n  S = [a b]\nend\n", "Unit1.dfm line 2: expected ',' between the set members of property S, found 'b'"},
        {"object Form1: TForm1\n  C = 'a'#300\nend\n", "Unit1.dfm line 2: character code in the string for property C is above 255"},
        {"object Form1: TForm1\n  L = (1 2)\nend\n", "Unit1.dfm line 2: lists are not supported (property L)"},
        {"object Form1: TForm1\n  Font. = 1\nend\n", "Unit1.dfm line 2: expected a name after 'Font.', found ' '"},
        {"object Form1: TForm1\n  Left = 1\n", "Unit1.dfm line 3: expected a property, 'object' or 'end' in Form1, found the end of the text"},
        {"object Form1: TForm1\nend\nend\n", "Unit1.dfm line 3: unexpected text after the end of the root object"},
        {"object A: TForm1\n  object B: TLabel\n  end\n  Left = 1\nend\n", "Unit1.dfm line 4: property Left of A comes after its child objects"},
        {"object A: TForm1\n  Caption = 'a' +\n\n  Left = 1\nend\n", "Unit1.dfm line 4: expected a string after '+' for property Caption, found 'Left'"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TextError(c.text), c.message);
}

TEST(FormStream, TextStringForms)
{
    Object obj = ParseText("object A: TForm1\n  C = 'one '#39'two'#$41 +\n    'three'\n  TRUE_ = true\nend", "t");
    EXPECT_EQ(Prop(obj, "C"), Value::Str("one 'twoAthree"));
    EXPECT_EQ(Prop(obj, "TRUE_"), Value::Bool(true));
}

TEST(FormStream, TextWriterRefusesWhatWouldNotReadBack)
{
    Object obj{"TForm1", "Form1", {{"Kind", Value::Ident("True"), 0}}, {}, 0};
    EXPECT_NE(ErrorOf([&] { WriteText(obj); }).find("identifier value 'True' of property Kind"), std::string::npos);
    obj.properties[0] = {"Bad Name", Value::Int(1), 0};
    EXPECT_NE(ErrorOf([&] { WriteText(obj); }).find("property name 'Bad Name'"), std::string::npos);
    obj.properties.clear();
    obj.name = "end";
    EXPECT_NE(ErrorOf([&] { WriteText(obj); }).find("component name 'end'"), std::string::npos);
}
