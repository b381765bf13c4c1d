#include "LevelMeter.h"

#include <QColor>
#include <QPainter>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <tuple>

namespace {

// The range the meter shows and how long a peak is held.
constexpr double kFloorDb = -60;
constexpr int kHoldMs = 1000;
// Where the meter turns from green to yellow, and from yellow to red.
constexpr double kWarnDb = -12;
constexpr double kHotDb = -3;

} // namespace

LevelMeter::LevelMeter(QWidget& host, std::function<double()> peak) : host_(host), peak_(std::move(peak))
{
    holdTimer_.setSingleShot(true);
    QObject::connect(&holdTimer_, &QTimer::timeout, &host_, [this] { Tick(); });
}

QRect LevelMeter::Rect() const
{
    return QRect(0, std::max(0, host_.height() - kHeight), host_.width(), std::min(host_.height(), kHeight));
}

void LevelMeter::Follow(bool moving)
{
    if (moving) {
        // The level is read when the player says it moved; the timer only
        // lets a held peak fall.
        Tick();
        if (holdPx_ > levelPx_ && !holdTimer_.isActive())
            holdTimer_.start(kHoldMs);
    } else {
        holdTimer_.stop();
        Set(0, 0);
    }
}

int LevelMeter::Pixels(double level) const
{
    if (!(level > 0))
        return 0;
    const double db = 20 * std::log10(std::min(level, 1.0));
    const double fraction = std::clamp((db - kFloorDb) / -kFloorDb, 0.0, 1.0);
    return static_cast<int>(std::lround(fraction * Rect().width()));
}

void LevelMeter::Tick()
{
    const int level = Pixels(peak_());
    int hold = holdPx_;
    if (level >= hold || !holdAge_.isValid() || holdAge_.elapsed() >= kHoldMs) {
        hold = level;
        holdAge_.start();
    }
    Set(level, hold);
}

void LevelMeter::Set(int levelPx, int holdPx)
{
    if (levelPx == levelPx_ && holdPx == holdPx_)
        return;
    levelPx_ = levelPx;
    holdPx_ = holdPx;
    if (holdPx == 0)
        holdAge_.invalidate();
    host_.update(Rect());
}

void LevelMeter::Draw(QPainter& p) const
{
    const QRect m = Rect();
    p.fillRect(m, host_.palette().color(QPalette::Shadow));
    const int warn = Pixels(std::pow(10.0, kWarnDb / 20));
    const int hot = Pixels(std::pow(10.0, kHotDb / 20));
    const std::tuple<int, int, QColor> zones[] = {
        {0, warn, QColor(40, 180, 60)}, {warn, hot, QColor(230, 200, 40)}, {hot, m.width(), QColor(220, 40, 30)}};
    for (const auto& [from, to, color] : zones) {
        if (levelPx_ > from)
            p.fillRect(QRect(m.left() + from, m.top(), std::min(levelPx_, to) - from, m.height()), color);
        if (holdPx_ > from && holdPx_ <= to)
            p.fillRect(QRect(m.left() + std::max(0, holdPx_ - 2), m.top(), std::min(2, holdPx_), m.height()), color);
    }
}
