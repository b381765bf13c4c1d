#pragma once
// A thin level meter along the bottom edge of a widget: the peak of the sound
// being played or recorded, in dBFS from -60 to 0, with the highest peak of
// the last second held as a mark. It repaints only its own strip, and only
// when its reading moves by a pixel.
#include <QElapsedTimer>
#include <QRect>
#include <QTimer>

#include <functional>

class QPainter;
class QWidget;

class LevelMeter {
public:
    static constexpr int kHeight = 4;

    // Drawn on `host`; `peak` gives the current linear peak (0..1).
    LevelMeter(QWidget& host, std::function<double()> peak);

    // The strip at the host's bottom edge that the meter is drawn in.
    QRect Rect() const;
    // Reads the level while sound moves, and lets a held peak fall a second
    // later; empties the meter when nothing moves.
    void Follow(bool moving);
    void Draw(QPainter& p) const;

private:
    int Pixels(double level) const;
    void Tick();
    void Set(int levelPx, int holdPx);

    QWidget& host_;
    std::function<double()> peak_;
    QTimer holdTimer_; // lets a held peak fall
    int levelPx_ = 0, holdPx_ = 0; // the reading as drawn, in pixels from the left
    QElapsedTimer holdAge_;
};
