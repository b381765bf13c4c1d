#include "StdCtrls.h"

#include <QLabel>
#include <QLineEdit>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QAccessible>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>

#include "DigitLabel.h"
#include "Exception.h"
#include "ScrollBarPainter.h"

using formstream::Property;

namespace {

QString ToQt(const AnsiString& text) { return QString::fromUtf8(text.c_str(), text.Length()); }
AnsiString FromQt(const QString& text) { return AnsiString(text.toUtf8().toStdString()); }

QPushButton* Button(QWidget* w) { return static_cast<QPushButton*>(w); }

// Return and the keypad's Enter press a focused button, as Space does. A
// plain QPushButton takes them only as a dialog's default button.
class PushButton : public QPushButton {
protected:
    void keyPressEvent(QKeyEvent* e) override
    {
        if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && !e->isAutoRepeat()) {
            e->accept();
            click();
            return;
        }
        QPushButton::keyPressEvent(e);
    }
};
QLineEdit* LineEdit(QWidget* w) { return static_cast<QLineEdit*>(w); }
QLabel* Label(QWidget* w) { return static_cast<QLabel*>(w); }

} // namespace

// ---- TButton

TButton::TButton(TComponent* Owner) : TControl(Owner, new PushButton)
{
    QObject::connect(Button(widget_), &QPushButton::clicked, [this] {
        if (OnClick)
            DispatchEvent([this] { OnClick(this); });
    });
}

AnsiString TButton::Caption() const { return FromQt(Button(widget_)->text()); }
void TButton::SetCaption(const AnsiString& caption) { Button(widget_)->setText(ToQt(caption)); }

void TButton::SetProperty(const Property& p)
{
    if (p.name == "Caption")
        SetCaption(TextValue(p));
    else
        TControl::SetProperty(p);
}

void TButton::SetEvent(const std::string& event, const TMethod& handler)
{
    if (event != "OnClick")
        return TControl::SetEvent(event, handler);
    if (!handler.notify)
        throw Exception("The handler bound to " + Name + ".OnClick does not take a click");
    OnClick = handler.notify;
}

// ---- TEdit

TEdit::TEdit(TComponent* Owner) : TControl(Owner, new QLineEdit) {}

AnsiString TEdit::GetText() const { return FromQt(LineEdit(widget_)->text()); }
void TEdit::SetText(const AnsiString& text) { LineEdit(widget_)->setText(ToQt(text)); }

void TEdit::SetProperty(const Property& p)
{
    if (p.name == "Text")
        SetText(TextValue(p));
    else
        TControl::SetProperty(p);
}

// ---- TLabel

TLabel::TLabel(TComponent* Owner) : TControl(Owner, new DigitLabel)
{
    widget_->setFocusPolicy(Qt::NoFocus);
    Label(widget_)->setTextFormat(Qt::PlainText); // a caption is shown as it is, never as markup
    // It paints its own background (the window's colour), so a new caption
    // repaints the label alone, not the window behind it.
    widget_->setAutoFillBackground(true);
}

AnsiString TLabel::GetText() const { return FromQt(Label(widget_)->text()); }

namespace {

// Whether `b` is `a` with other digits in the places of its digits.
bool SameShape(const QString& a, const QString& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && !(a[i].isDigit() && b[i].isDigit()))
            return false;
    return true;
}

} // namespace

bool TLabel::TabularDigits()
{
    if (digitsMeasured_ && widget_->font() == digitsFont_)
        return tabularDigits_;
    digitsFont_ = widget_->font();
    digitsMeasured_ = true;
    const QFontMetrics metrics(digitsFont_);
    const int width = metrics.horizontalAdvance(QLatin1Char('0'));
    tabularDigits_ = true;
    for (char d = '1'; d <= '9'; ++d)
        tabularDigits_ = tabularDigits_ && metrics.horizontalAdvance(QLatin1Char(d)) == width;
    return tabularDigits_;
}

void TLabel::SetText(const AnsiString& caption)
{
    QLabel* label = Label(widget_);
    const QString text = ToQt(caption);
    if (text == label->text())
        return; // nothing to lay out or repaint
    // A number that follows the position keeps its width from tick to tick:
    // then only the text is repainted, with no new layout of the label.
    const bool sameSize = SameShape(label->text(), text) && TabularDigits();
    label->setText(text);
    if (!sameSize)
        widget_->adjustSize();
}

void TLabel::SetProperty(const Property& p)
{
    if (p.name == "Caption")
        SetText(TextValue(p));
    else
        TControl::SetProperty(p);
}

void TLabel::Loaded(const TFontSpec& parentFont)
{
    TControl::Loaded(parentFont);
    widget_->adjustSize(); // the font is known only now
}

// ---- TScrollBar

class TScrollBar::Bar : public QScrollBar {
public:
    explicit Bar(TScrollBar* owner) : QScrollBar(Qt::Horizontal), owner_(owner)
    {
        setRange(0, 100);
        setSingleStep(1);
        setPageStep(1);
        setFocusPolicy(Qt::StrongFocus);
        connect(this, &QAbstractSlider::actionTriggered, [this](int action) { OnAction(action); });
        connect(this, &QAbstractSlider::sliderReleased, [this] { Notify(scPosition); });
    }

protected:
    // Keys act as on a scroll bar, whatever the slider's own conventions:
    // right, down and Page Down move towards the maximum.
    void keyPressEvent(QKeyEvent* e) override
    {
        SliderAction action = SliderNoAction;
        switch (e->key()) {
        case Qt::Key_Left: case Qt::Key_Up: action = SliderSingleStepSub; break;
        case Qt::Key_Right: case Qt::Key_Down: action = SliderSingleStepAdd; break;
        case Qt::Key_PageUp: action = SliderPageStepSub; break;
        case Qt::Key_PageDown: action = SliderPageStepAdd; break;
        case Qt::Key_Home: action = SliderToMinimum; break;
        case Qt::Key_End: action = SliderToMaximum; break;
        default: return QScrollBar::keyPressEvent(e);
        }
        triggerAction(action);
        e->accept();
    }
    // The style draws no focus mark on a scroll bar; a dotted frame inside
    // the thumb shows that the keys move it.
    void paintEvent(QPaintEvent* e) override
    {
        QStyleOptionSlider option;
        initStyleOption(&option);
        option.subControls = QStyle::SC_All;
        paintedThumb_ = style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this);
        // Under the mouse or pressed, parts of the bar light up: the scroll
        // bar draws itself then.
        const bool lit = underMouse() || pressed_;
        if (lit)
            QScrollBar::paintEvent(e);
        QPainter p(this);
        if (!lit)
            painter_.Paint(p, *this, option, paintedThumb_);
        if (!hasFocus())
            return;
        QRect mark = paintedThumb_;
        if (mark.width() < 8 || mark.height() < 8)
            mark = rect();
        p.setPen(QPen(palette().color(QPalette::ButtonText), 1, Qt::DotLine));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(mark.adjusted(2, 2, -3, -3)));
    }
    void mousePressEvent(QMouseEvent* e) override
    {
        actedSincePress_ = false;
        pressed_ = true;
        QScrollBar::mousePressEvent(e);
    }
    void mouseReleaseEvent(QMouseEvent* e) override
    {
        pressed_ = false;
        QScrollBar::mouseReleaseEvent(e);
        if (actedSincePress_)
            Notify(scEndScroll);
        actedSincePress_ = false;
    }
    // During playback the position changes many times a second, mostly by
    // less than a pixel: only where the thumb was and is gets repainted, and
    // only when it moved. Screen readers still hear of every value.
    void sliderChange(SliderChange change) override
    {
        if (change != SliderValueChange || underMouse() || pressed_)
            return QScrollBar::sliderChange(change);
        const QRect thumb = Thumb();
        if (thumb != paintedThumb_) {
            constexpr int m = ScrollBarPainter::kThumbMargin;
            const QMargins outline(m, m, m, m);
            update(QRegion(paintedThumb_ + outline) + (thumb + outline));
        }
        if (QAccessible::isActive()) {
            QAccessibleValueChangeEvent event(this, value());
            QAccessible::updateAccessibility(&event);
        }
    }

private:
    void OnAction(int action)
    {
        switch (action) {
        case SliderSingleStepSub: return Notify(scLineUp);
        case SliderSingleStepAdd: return Notify(scLineDown);
        case SliderPageStepSub: return Notify(scPageUp);
        case SliderPageStepAdd: return Notify(scPageDown);
        case SliderToMinimum: return Notify(scTop);
        case SliderToMaximum: return Notify(scBottom);
        case SliderMove: return Notify(scTrack);
        default: return;
        }
    }

    void Notify(TScrollCode code)
    {
        actedSincePress_ = true;
        if (!owner_->OnScroll)
            return;
        DispatchEvent([this, code] {
            int proposed = sliderPosition();
            owner_->OnScroll(owner_, code, proposed);
            if (proposed != sliderPosition())
                setSliderPosition(proposed);
        });
    }

    QRect Thumb() const
    {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this);
    }

    TScrollBar* owner_;
    bool actedSincePress_ = false;
    bool pressed_ = false;
    QRect paintedThumb_;
    ScrollBarPainter painter_;
};

TScrollBar::TScrollBar(TComponent* Owner) : TControl(Owner, nullptr)
{
    bar_ = new Bar(this);
    widget_ = bar_;
}

int TScrollBar::Min() const { return bar_->minimum(); }
int TScrollBar::Max() const { return bar_->maximum(); }

void TScrollBar::SetMax(int max)
{
    // A maximum below the minimum would move the minimum; keep the range
    // starting where it does.
    bar_->setMaximum(std::max(max, bar_->minimum()));
}

// During a scroll notification this is the proposed position, so a handler
// sees where the user moved the bar.
int TScrollBar::Position() const { return bar_->sliderPosition(); }

void TScrollBar::SetPosition(int position)
{
    bar_->setValue(std::clamp(position, bar_->minimum(), bar_->maximum()));
}

void TScrollBar::SetProperty(const Property& p)
{
    if (p.name == "Max")
        SetMax(IntValue(p));
    else if (p.name == "Min")
        bar_->setMinimum(std::min(IntValue(p), bar_->maximum()));
    else if (p.name == "Position")
        SetPosition(IntValue(p));
    else if (p.name == "PageSize")
        (void)IntValue(p); // the thumb keeps the style's size
    else
        TControl::SetProperty(p);
}

void TScrollBar::SetEvent(const std::string& event, const TMethod& handler)
{
    if (event != "OnScroll")
        return TControl::SetEvent(event, handler);
    if (!handler.scroll)
        throw Exception("The handler bound to " + Name + ".OnScroll does not take a scroll notification");
    OnScroll = handler.scroll;
}
