#include "TransportBar.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleOptionButton>
#include <QToolTip>

#include <algorithm>
#include <climits>
#include <cmath>
#include <tuple>

#include "Classes.h"
#include "MPlayer.h"
#include "TransportBarAccessible.h"

namespace {

const char* const kButtonNames[TransportBar::ButtonCount] = {
    "Play",   "Pause", "Stop", "To start", "To end", "Step back one second", "Step forward one second",
    "Record", "Eject"};

// How far the step buttons move, in milliseconds.
constexpr int kStepMs = 1000;

// The level meter: its height at the bar's bottom, the range it shows and
// how long a peak is held. It is read when the control says the level moved.
constexpr int kMeterHeight = 4;
constexpr double kMeterFloorDb = -60;
constexpr int kHoldMs = 1000;
// Where the meter turns from green to yellow, and from yellow to red.
constexpr double kWarnDb = -12;
constexpr double kHotDb = -3;

static_assert(TransportBar::ButtonCount == TMediaPlayer::ButtonCount);

} // namespace

QString FormatDuration(int ms)
{
    const int seconds = std::max(ms, 0) / 1000;
    const int hours = seconds / 3600, minutes = seconds / 60 % 60, rest = seconds % 60;
    return hours > 0 ? QString::asprintf("%d:%02d:%02d", hours, minutes, rest)
                     : QString::asprintf("%d:%02d", minutes, rest);
}

TransportBar::TransportBar(TMediaPlayer& player)
    : player_(player)
{
    // Before anything asks for the bar's accessible interface: the first
    // answer is kept.
    InstallTransportBarAccessibility();
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName("Transport");
    holdTimer_.setSingleShot(true);
    connect(&holdTimer_, &QTimer::timeout, this, [this] { MeterTick(); });
}

QString TransportBar::ButtonName(int button)
{
    return button >= 0 && button < ButtonCount ? QString::fromUtf8(kButtonNames[button]) : QString();
}

QRect TransportBar::ButtonRect(int i) const
{
    const int left = i * width() / ButtonCount;
    const int right = (i + 1) * width() / ButtonCount;
    return QRect(left, 0, right - left, std::max(0, height() - kMeterHeight));
}

QRect TransportBar::MeterRect() const
{
    return QRect(0, std::max(0, height() - kMeterHeight), width(), std::min(height(), kMeterHeight));
}

int TransportBar::ButtonAt(const QPoint& p) const
{
    if (!rect().contains(p))
        return -1;
    for (int i = 0; i < ButtonCount; ++i) {
        const QRect r = ButtonRect(i);
        if (p.x() >= r.left() && p.x() <= r.right())
            return i;
    }
    return -1;
}

bool TransportBar::ButtonEnabled(int button) const
{
    const TMPModes mode = player_.Mode();
    if (mode == mpNotReady || !isEnabled())
        return false;
    // While sound moves the position only moves away from the start, and
    // only a playback has sound ahead of it: the buttons then change only
    // when the control's mode does.
    const bool moving = mode == mpPlaying || mode == mpRecording;
    const int position = player_.Position();
    const int length = player_.TrackLength(1);
    switch (button) {
    case btPlay: return mode != mpPlaying && length > 0;
    case btPause:
    case btStop: return moving;
    case btToStart:
    case btBack: return moving || position > 0;
    case btToEnd:
    case btStep: return mode == mpPlaying || (mode != mpRecording && position < length);
    case btRecord: return mode != mpRecording;
    default: return false; // files cannot be ejected
    }
}

unsigned TransportBar::EnabledMask() const
{
    unsigned mask = 0;
    for (int i = 0; i < ButtonCount; ++i)
        mask |= ButtonEnabled(i) ? 1u << i : 0u;
    return mask;
}

void TransportBar::Refresh()
{
    const unsigned mask = EnabledMask();
    if (mask != painted_)
        update();
    AnnounceButtonStates(this, mask ^ std::exchange(announced_, mask));

    const TMPModes mode = player_.Mode();
    if (mode == mpRecording || mode == mpPlaying) {
        // The control refreshes the bar when the level of what is heard
        // moves: the meter follows then, and a timer only lets a held peak
        // fall.
        MeterTick();
        if (holdPx_ > levelPx_ && !holdTimer_.isActive())
            holdTimer_.start(kHoldMs);
    } else {
        holdTimer_.stop();
        SetMeter(0, 0);
    }
}

// ---------------------------------------------------------------- meter

int TransportBar::MeterPixels(double level) const
{
    if (!(level > 0))
        return 0;
    const double db = 20 * std::log10(std::min(level, 1.0));
    const double fraction = std::clamp((db - kMeterFloorDb) / -kMeterFloorDb, 0.0, 1.0);
    return static_cast<int>(std::lround(fraction * MeterRect().width()));
}

void TransportBar::MeterTick()
{
    const int level = MeterPixels(player_.PeakLevel());
    int hold = holdPx_;
    if (level >= hold || !holdAge_.isValid() || holdAge_.elapsed() >= kHoldMs) {
        hold = level;
        holdAge_.start();
    }
    SetMeter(level, hold);
}

// Repaints the strip, and nothing else, when its reading moved by a pixel.
void TransportBar::SetMeter(int levelPx, int holdPx)
{
    if (levelPx == levelPx_ && holdPx == holdPx_)
        return;
    levelPx_ = levelPx;
    holdPx_ = holdPx;
    if (holdPx == 0)
        holdAge_.invalidate();
    update(MeterRect());
}

void TransportBar::DrawMeter(QPainter& p) const
{
    const QRect m = MeterRect();
    p.fillRect(m, palette().color(QPalette::Shadow));
    const int warn = MeterPixels(std::pow(10.0, kWarnDb / 20));
    const int hot = MeterPixels(std::pow(10.0, kHotDb / 20));
    const std::tuple<int, int, QColor> zones[] = {
        {0, warn, QColor(40, 180, 60)}, {warn, hot, QColor(230, 200, 40)}, {hot, m.width(), QColor(220, 40, 30)}};
    for (const auto& [from, to, color] : zones) {
        if (levelPx_ > from)
            p.fillRect(QRect(m.left() + from, m.top(), std::min(levelPx_, to) - from, m.height()), color);
        if (holdPx_ > from && holdPx_ <= to)
            p.fillRect(QRect(m.left() + std::max(0, holdPx_ - 2), m.top(), std::min(2, holdPx_), m.height()), color);
    }
}

void TransportBar::Press(int button)
{
    if (!ButtonEnabled(button))
        return;
    DispatchEvent([&] {
        switch (button) {
        case btPlay:
            if (player_.Mode() == mpRecording)
                player_.Stop();
            if (player_.Position() >= player_.TrackLength(1))
                player_.SetPosition(0); // from the end, play starts over
            player_.Play();
            break;
        case btPause:
        case btStop: player_.Stop(); break;
        case btToStart: player_.SetPosition(0); break;
        case btToEnd: player_.SetPosition(player_.TrackLength(1)); break;
        case btBack: player_.SetPosition(std::max(player_.Position(), kStepMs) - kStepMs); break;
        case btStep: player_.SetPosition(std::min(player_.Position(), INT_MAX - kStepMs) + kStepMs); break;
        case btRecord:
            player_.SetFrom(player_.Position());
            player_.StartRecording();
            break;
        default: break;
        }
    });
    Refresh();
}

void TransportBar::keyPressEvent(QKeyEvent* e)
{
    switch (e->key()) {
    case Qt::Key_Left:
        marked_ = std::max(0, marked_ - 1);
        update();
        AnnounceMarkedButton(this);
        break;
    case Qt::Key_Right:
        marked_ = std::min(ButtonCount - 1, marked_ + 1);
        update();
        AnnounceMarkedButton(this);
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
            if (player_.Mode() != mpNotReady)
                tip += QString::fromUtf8(" \u2014 ") + FormatDuration(player_.Position()) + " / " +
                       FormatDuration(player_.TrackLength(1));
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
    AnnounceMarkedButton(this);
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
        DrawMeter(p);
    // Buttons are drawn only where asked for; a partial repaint draws them
    // as they were last painted, so the bar never shows two states at once.
    const QRect buttons(0, 0, width(), std::max(0, height() - kMeterHeight));
    if (!e->rect().intersects(buttons))
        return;
    if ((QRegion(buttons) - e->region()).isEmpty())
        painted_ = EnabledMask();
    p.setRenderHint(QPainter::Antialiasing, true);
    for (int i = 0; i < ButtonCount; ++i) {
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

        DrawGlyph(p, i, r.translated(i == down_ ? QPoint(1, 1) : QPoint()), enabled);
        if (hasFocus() && i == marked_) {
            QPen pen(palette().color(QPalette::ButtonText), 1, Qt::DotLine);
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            p.drawRect(QRectF(r.adjusted(3, 3, -4, -4)));
        }
    }
}

void TransportBar::DrawGlyph(QPainter& p, int button, const QRect& r, bool enabled) const
{
    const QColor ink = palette().color(enabled ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText);
    const qreal size = std::min(r.width(), r.height()) * 0.42;
    const QPointF c = QRectF(r).center();
    const qreal h = size / 2; // half the glyph's height
    const qreal bar = std::max<qreal>(2, size / 6);
    auto triangle = [&](qreal left, qreal width, bool pointsRight) {
        QPainterPath path;
        if (pointsRight) {
            path.moveTo(left, c.y() - h);
            path.lineTo(left + width, c.y());
            path.lineTo(left, c.y() + h);
        } else {
            path.moveTo(left + width, c.y() - h);
            path.lineTo(left, c.y());
            path.lineTo(left + width, c.y() + h);
        }
        path.closeSubpath();
        p.fillPath(path, ink);
    };
    auto barAt = [&](qreal left) { p.fillRect(QRectF(left, c.y() - h, bar, 2 * h), ink); };
    const qreal w = size * 0.8; // width of one triangle

    p.setPen(Qt::NoPen);
    switch (button) {
    case btPlay: triangle(c.x() - w / 2, w, true); break;
    case btPause:
        barAt(c.x() - bar * 1.5);
        barAt(c.x() + bar * 0.5);
        break;
    case btStop: p.fillRect(QRectF(c.x() - h * 0.85, c.y() - h * 0.85, h * 1.7, h * 1.7), ink); break;
    case btToStart: // |<<
        barAt(c.x() - w - bar / 2);
        triangle(c.x() - w + bar / 2, w / 2 + 1, false);
        triangle(c.x() - w / 2 + bar / 2, w / 2 + 1, false);
        break;
    case btToEnd: // >>|
        triangle(c.x() - w / 2 - bar / 2 - 1, w / 2 + 1, true);
        triangle(c.x() - bar / 2 - 1, w / 2 + 1, true);
        barAt(c.x() + w / 2 - bar / 2);
        break;
    case btBack: // <<
        triangle(c.x() - w / 2, w / 2, false);
        triangle(c.x(), w / 2, false);
        break;
    case btStep: // >>
        triangle(c.x() - w / 2, w / 2, true);
        triangle(c.x(), w / 2, true);
        break;
    case btRecord:
        p.setBrush(enabled ? QColor(200, 0, 0) : ink);
        p.drawEllipse(c, h * 0.8, h * 0.8);
        break;
    case btEject: {
        QPainterPath path;
        path.moveTo(c.x() - h, c.y() + h * 0.15);
        path.lineTo(c.x(), c.y() - h);
        path.lineTo(c.x() + h, c.y() + h * 0.15);
        path.closeSubpath();
        p.fillPath(path, ink);
        p.fillRect(QRectF(c.x() - h, c.y() + h * 0.45, 2 * h, h * 0.4), ink);
        break;
    }
    default: break;
    }
}
