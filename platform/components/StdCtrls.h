#pragma once
// Buttons, edit boxes, labels and scroll bars.
#include <QFont>

#include "Controls.h"

class TButton : public TControl {
public:
    explicit TButton(TComponent* Owner);
    AnsiString Caption() const;
    void SetCaption(const AnsiString& caption);
    TNotifyEvent OnClick;
    void SetProperty(const formstream::Property& p) override;
    void SetEvent(const std::string& event, const TMethod& handler) override;
};

class TEdit : public TControl {
public:
    explicit TEdit(TComponent* Owner);
    AnsiString GetText() const;
    void SetText(const AnsiString& text);
    void SetProperty(const formstream::Property& p) override;
};

// A label sizes itself to its caption, so a long number is never clipped.
class TLabel : public TControl {
public:
    explicit TLabel(TComponent* Owner);
    AnsiString GetText() const;
    void SetText(const AnsiString& caption);
    void SetProperty(const formstream::Property& p) override;
    void Loaded(const TFontSpec& parentFont) override;

private:
    // Whether all ten digits of the label's font have one width, as last
    // found for the font in `digitsFont_`.
    bool TabularDigits();
    QFont digitsFont_;
    bool digitsMeasured_ = false, tabularDigits_ = false;
};

// A horizontal scroll bar, range 0..100 and position 0 until set. A position
// outside the range is clamped. OnScroll runs once for every scroll
// notification, before the bar moves; the handler may change the proposed
// position, which the bar then takes.
class TScrollBar : public TControl {
public:
    explicit TScrollBar(TComponent* Owner);
    int Min() const;
    int Max() const;
    void SetMax(int max);
    int Position() const;
    void SetPosition(int position);
    TScrollEvent OnScroll;
    void SetProperty(const formstream::Property& p) override;
    void SetEvent(const std::string& event, const TMethod& handler) override;

private:
    class Bar;
    Bar* bar_;
};
