#pragma once
// Visible components: a TControl wraps one Qt widget and gives it the
// geometry, font, enabled state and tab order a form definition sets.
#include <string>

#include "Classes.h"

class QWidget;

struct TFontSpec {
    int Height = -11;                 // negative: character height in pixels
    std::string Name = "MS Sans Serif";
    std::string Color = "clWindowText";
    bool Bold = false, Italic = false, Underline = false, StrikeOut = false;

    // Applies a "Font.X" property; false if `name` is not a font property.
    bool Set(const formstream::Property& p);
};

class TControl : public TComponent {
public:
    // The control takes ownership of `widget`.
    TControl(TComponent* Owner, QWidget* widget);
    ~TControl() override;

    QWidget* Widget() const { return widget_; }

    int Left() const;
    int Top() const;
    int Width() const;
    int Height() const;
    void SetBounds(int left, int top, int width, int height);

    bool Enabled() const;
    void SetEnabled(bool enabled);
    // What assistive technologies call a control that has no caption of its
    // own for them to read out.
    void SetAccessibleName(const AnsiString& name);

    int TabOrder = -1; // -1: not a tab stop of its own
    bool Visible = true;
    bool ParentFont = true;
    TFontSpec Font;

    // Left, Top, Width, Height, TabOrder, Enabled, Visible, ParentFont, Font.*.
    void SetProperty(const formstream::Property& p) override;
    // Called once every property of the form definition has been set and the
    // control has its parent window: applies the font and shows the control.
    virtual void Loaded(const TFontSpec& parentFont);

protected:
    QWidget* widget_;
    bool ownFont_ = false;
};

// Gives a widget the Qt font and text colour a TFontSpec describes.
void ApplyFont(QWidget* widget, const TFontSpec& font);
