#pragma once
// The media player control's bar of transport buttons, left to right: play,
// pause, stop, to start, to end, step back, step forward, record, eject. It
// is one focusable widget: Left and Right move a focus mark between the
// buttons, Space, Return and Enter press the marked one, a click presses the
// one under the mouse. A button is enabled when it can act in the control's
// state, and it acts only through the control's public operations.
//
// A thin level meter runs along the bar's bottom edge: the peak of the sound
// being played or recorded, in dBFS from -60 to 0, with the highest peak of
// the last second held as a mark. Its tooltip gives the button's name, and
// the position and length as m:ss (h:mm:ss from an hour).
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>


class TMediaPlayer;

// A duration as m:ss below an hour and h:mm:ss from an hour on; negative
// durations show as 0:00.
QString FormatDuration(int ms);

class TransportBar : public QWidget {
    // Its own class name, so that accessibility finds its interface before
    // the plain widget's.
    Q_OBJECT

public:
    enum Button { btPlay, btPause, btStop, btToStart, btToEnd, btBack, btStep, btRecord, btEject, ButtonCount };

    explicit TransportBar(TMediaPlayer& player);

    static QString ButtonName(int button);
    bool ButtonEnabled(int button) const;
    // Repaints the bar if a button's enabled state changed since it was last
    // painted, and runs the level meter while sound plays or records. Nothing
    // else on the bar changes while sound moves: the buttons are then not
    // repainted, the meter's strip only when its reading changes.
    void Refresh();
    // Does what the button's glyph shows when it is enabled. An Exception it
    // raises is shown as any event handler's is.
    void Press(int button);

    // Where a button is drawn; it is pressed anywhere in its column, the
    // meter's strip below it included.
    QRect ButtonRect(int i) const;
    int ButtonAt(const QPoint& p) const;
    int MarkedButton() const { return marked_; }
    // The strip the level meter is drawn in.
    QRect MeterRect() const;

protected:
    void paintEvent(QPaintEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    bool event(QEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    unsigned EnabledMask() const;
    void DrawGlyph(QPainter& p, int button, const QRect& r, bool enabled) const;
    void MeterTick();
    void SetMeter(int levelPx, int holdPx);
    int MeterPixels(double level) const;
    void DrawMeter(QPainter& p) const;

    TMediaPlayer& player_;
    int marked_ = 0;
    int down_ = -1;
    unsigned painted_ = 0;   // the enabled buttons as last painted
    unsigned announced_ = 0; // the enabled buttons as last told to assistive technologies
    QTimer holdTimer_;  // lets a held peak fall
    int levelPx_ = 0, holdPx_ = 0; // the meter's reading as drawn, in pixels from its left
    QElapsedTimer holdAge_;
};
