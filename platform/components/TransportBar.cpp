#include "TransportBar.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>
#include <QToolTip>

#include <algorithm>
#include <utility>

#include "Classes.h"
#include "TransportGlyphs.h"

QString FormatDuration(int ms)
{
    const int seconds = std::max(ms, 0) / 1000;
    const int hours = seconds / 3600, minutes = seconds / 60 % 60, rest = seconds % 60;
    return hours > 0 ? QString::asprintf("%d:%02d:%02d", hours, minutes, rest)
                     : QString::asprintf("%d:%02d", minutes, rest);
}

TransportBar::TransportBar(TransportModel& model)
    : model_(model), meter_(*this, [&model] { return model.PeakLevel(); })
{
    // Before anything asks for the bar's accessible interface: the first
    // answer is kept.
    InstallAccessibility();
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName("Transport");
}

QString TransportBar::ButtonName(int button)
{
    return QString::fromUtf8(TransportModel::ButtonName(button));
}

QRect TransportBar::ButtonRect(int i) const
{
    const int left = i * width() / TransportModel::ButtonCount;
    const int right = (i + 1) * width() / TransportModel::ButtonCount;
    return QRect(left, 0, right - left, MeterRect().top()); // above the meter
}

int TransportBar::ButtonAt(const QPoint& p) const
{
    if (!rect().contains(p))
        return -1;
    for (int i = 0; i < TransportModel::ButtonCount; ++i) {
        const QRect r = ButtonRect(i);
        if (p.x() >= r.left() && p.x() <= r.right())
            return i;
    }
    return -1;
}

bool TransportBar::ButtonEnabled(int button) const
{
    return isEnabled() && model_.Enabled(button);
}

unsigned TransportBar::EnabledMask() const
{
    unsigned mask = 0;
    for (int i = 0; i < TransportModel::ButtonCount; ++i)
        mask |= ButtonEnabled(i) ? 1u << i : 0u;
    return mask;
}

void TransportBar::Refresh()
{
    const unsigned mask = EnabledMask();
    if (mask != painted_)
        update();
    AnnounceButtonStates(mask ^ std::exchange(announced_, mask));
    const TMPModes mode = model_.Mode();
    meter_.Follow(mode == mpRecording || mode == mpPlaying);
}

void TransportBar::Press(int button)
{
    if (!ButtonEnabled(button))
        return;
    DispatchEvent([&] { model_.Press(button); });
    Refresh();
}

void TransportBar::keyPressEvent(QKeyEvent* e)
{
    switch (e->key()) {
    case Qt::Key_Left:
        marked_ = std::max(0, marked_ - 1);
        update();
        AnnounceMarkedButton();
        break;
    case Qt::Key_Right:
        marked_ = std::min(TransportModel::ButtonCount - 1, marked_ + 1);
        update();
        AnnounceMarkedButton();
        break;
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (!e->isAutoRepeat())
            Press(marked_);
        break;
    default:
        QWidget::keyPressEvent(e);
    }
}

void TransportBar::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(e);
    down_ = ButtonAt(e->position().toPoint());
    if (down_ >= 0)
        marked_ = down_;
    update();
}

void TransportBar::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton)
        return QWidget::mouseReleaseEvent(e);
    const int was = std::exchange(down_, -1);
    update();
    if (was >= 0 && was == ButtonAt(e->position().toPoint()))
        Press(was);
}

bool TransportBar::event(QEvent* e)
{
    if (e->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(e);
        const int i = ButtonAt(help->pos());
        if (i >= 0) {
            QString tip = ButtonName(i);
            if (model_.Mode() != mpNotReady)
                tip += QString::fromUtf8(" \u2014 ") + FormatDuration(model_.Position()) + " / " +
                       FormatDuration(model_.Length());
            QToolTip::showText(help->globalPos(), tip, this, ButtonRect(i));
        } else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(e);
}

void TransportBar::focusInEvent(QFocusEvent* e)
{
    update();
    QWidget::focusInEvent(e);
    AnnounceMarkedButton();
}

void TransportBar::focusOutEvent(QFocusEvent* e)
{
    update();
    QWidget::focusOutEvent(e);
}

// ---------------------------------------------------------------- drawing

void TransportBar::paintEvent(QPaintEvent* e)
{
    QPainter p(this);
    if (e->rect().intersects(MeterRect()))
        meter_.Draw(p);
    // Buttons are drawn only where asked for; a partial repaint draws them
    // as they were last painted, so the bar never shows two states at once.
    const QRect buttons(0, 0, width(), MeterRect().top());
    if (!e->rect().intersects(buttons))
        return;
    if ((QRegion(buttons) - e->region()).isEmpty())
        painted_ = EnabledMask();
    p.setRenderHint(QPainter::Antialiasing, true);
    for (int i = 0; i < TransportModel::ButtonCount; ++i) {
        const QRect r = ButtonRect(i);
        if (!e->rect().intersects(r))
            continue;
        const bool enabled = painted_ & (1u << i);
        QStyleOptionButton option;
        option.initFrom(this);
        option.rect = r;
        option.state = QStyle::State_Raised;
        if (enabled)
            option.state |= QStyle::State_Enabled;
        if (i == down_)
            option.state = (option.state & ~QStyle::State_Raised) | QStyle::State_Sunken;
        style()->drawControl(QStyle::CE_PushButtonBevel, &option, &p, this);

        const QColor ink = palette().color(enabled ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText);
        DrawTransportGlyph(p, i, r.translated(i == down_ ? QPoint(1, 1) : QPoint()), ink, enabled);
        if (hasFocus() && i == marked_) {
            QPen pen(palette().color(QPalette::ButtonText), 1, Qt::DotLine);
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            p.drawRect(QRectF(r.adjusted(3, 3, -4, -4)));
        }
    }
}
