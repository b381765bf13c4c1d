#include "Controls.h"

#include <QApplication>
#include <QFont>
#include <QPalette>
#include <QWidget>

#include "Exception.h"

using formstream::Property;
using formstream::Value;

namespace {

// The system colour a colour identifier names, as the palette role that
// holds it.
QPalette::ColorRole ColorRole(const std::string& name)
{
    if (name == "clBtnFace")
        return QPalette::Button;
    if (name == "clWindow")
        return QPalette::Base;
    if (name == "clBtnText")
        return QPalette::ButtonText;
    return QPalette::WindowText; // clWindowText
}

} // namespace

bool TFontSpec::Set(const Property& p)
{
    const std::string& n = p.name;
    if (n.rfind("Font.", 0) != 0)
        return false;
    const Value& v = p.value;
    auto want = [&](Value::Type type, const char* what) {
        if (v.type != type)
            throw Exception("Property " + AnsiString(n) + " takes " + AnsiString(what) + ", not " +
                            AnsiString(formstream::TypeName(v.type)));
    };
    if (n == "Font.Height") {
        want(Value::Type::Integer, "an integer");
        if (v.integer == 0 || v.integer < -1000 || v.integer > 1000)
            throw Exception("Property Font.Height is out of range");
        Height = static_cast<int>(v.integer);
    } else if (n == "Font.Name") {
        want(Value::Type::String, "a string");
        Name = v.text;
    } else if (n == "Font.Color") {
        want(Value::Type::Identifier, "a colour name");
        if (v.text != "clWindowText" && v.text != "clBtnText" && v.text != "clWindow" && v.text != "clBtnFace")
            throw Exception("Property Font.Color has an unknown colour " + AnsiString(v.text));
        Color = v.text;
    } else if (n == "Font.Charset") {
        want(Value::Type::Identifier, "a character set name");
        if (v.text != "DEFAULT_CHARSET" && v.text != "ANSI_CHARSET")
            throw Exception("Property Font.Charset has an unknown character set " + AnsiString(v.text));
    } else if (n == "Font.Style") {
        want(Value::Type::Set, "a set of styles");
        Bold = Italic = Underline = StrikeOut = false;
        for (const std::string& style : v.members) {
            if (style == "fsBold")
                Bold = true;
            else if (style == "fsItalic")
                Italic = true;
            else if (style == "fsUnderline")
                Underline = true;
            else if (style == "fsStrikeOut")
                StrikeOut = true;
            else
                throw Exception("Property Font.Style has an unknown style " + AnsiString(style));
        }
    } else {
        return false;
    }
    return true;
}

void ApplyFont(QWidget* widget, const TFontSpec& spec)
{
    QFont font(QString::fromStdString(spec.Name));
    // A negative height is the character height in pixels; a positive one
    // includes the internal leading, about a fifth of it.
    font.setPixelSize(spec.Height < 0 ? -spec.Height : std::max(1, spec.Height * 4 / 5));
    font.setBold(spec.Bold);
    font.setItalic(spec.Italic);
    font.setUnderline(spec.Underline);
    font.setStrikeOut(spec.StrikeOut);
    widget->setFont(font);
    // The font colour applies to enabled text only; disabled text keeps the
    // style's greyed colour.
    QPalette palette = widget->palette();
    const QColor text = QApplication::palette().color(ColorRole(spec.Color));
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
        for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
            palette.setColor(group, role, text);
    widget->setPalette(palette);
}

TControl::TControl(TComponent* Owner, QWidget* widget) : TComponent(Owner), widget_(widget) {}

TControl::~TControl()
{
    delete widget_;
}

int TControl::Left() const { return widget_->x(); }
int TControl::Top() const { return widget_->y(); }
int TControl::Width() const { return widget_->width(); }
int TControl::Height() const { return widget_->height(); }

void TControl::SetBounds(int left, int top, int width, int height)
{
    widget_->setGeometry(left, top, std::max(0, width), std::max(0, height));
}

bool TControl::Enabled() const { return widget_->isEnabled(); }
void TControl::SetEnabled(bool enabled) { widget_->setEnabled(enabled); }

void TControl::SetAccessibleName(const AnsiString& name)
{
    widget_->setAccessibleName(QString::fromUtf8(name.c_str(), name.Length()));
}

void TControl::SetProperty(const Property& p)
{
    const std::string& n = p.name;
    if (n == "Left")
        widget_->move(IntValue(p), widget_->y());
    else if (n == "Top")
        widget_->move(widget_->x(), IntValue(p));
    else if (n == "Width")
        widget_->resize(std::max(0, IntValue(p)), widget_->height());
    else if (n == "Height")
        widget_->resize(widget_->width(), std::max(0, IntValue(p)));
    else if (n == "TabOrder")
        TabOrder = IntValue(p);
    else if (n == "Enabled")
        SetEnabled(BoolValue(p));
    else if (n == "Visible")
        Visible = BoolValue(p);
    else if (n == "ParentFont")
        ParentFont = BoolValue(p);
    else if (Font.Set(p))
        ownFont_ = true, ParentFont = false;
    else
        TComponent::SetProperty(p);
}

void TControl::Loaded(const TFontSpec& parentFont)
{
    if (ParentFont && !ownFont_)
        Font = parentFont;
    ApplyFont(widget_, Font);
    widget_->setVisible(Visible);
}
