#pragma once
// The media player control's bar of transport buttons, left to right: play,
// pause, stop, to start, to end, step back, step forward, record, eject. It
// is one focusable widget: Left and Right move a focus mark between the
// buttons, Space presses the marked one, a click presses the one under the
// mouse. A button is enabled when it can act in the control's state, and it
// acts only through the control's public operations.
#include <QWidget>

class TMediaPlayer;

class TransportBar : public QWidget {
public:
    enum Button { btPlay, btPause, btStop, btToStart, btToEnd, btBack, btStep, btRecord, btEject, ButtonCount };

    explicit TransportBar(TMediaPlayer& player);

    bool ButtonEnabled(int button) const;
    // Repaints the bar if a button's enabled state changed since it was last
    // painted. Nothing else on the bar changes while sound plays, so it is
    // not repainted then.
    void Refresh();
    // Does what the button's glyph shows when it is enabled. An Exception it
    // raises is shown as any event handler's is.
    void Press(int button);

protected:
    void paintEvent(QPaintEvent*) override;
    void keyPressEvent(QKeyEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    bool event(QEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    unsigned EnabledMask() const;
    QRect ButtonRect(int i) const;
    int ButtonAt(const QPoint& p) const;
    void DrawGlyph(QPainter& p, int button, const QRect& r, bool enabled) const;

    TMediaPlayer& player_;
    int marked_ = 0;
    int down_ = -1;
    unsigned painted_ = 0; // the enabled buttons as last painted
};
