#pragma once
// The media player control's bar of transport buttons: a view of the
// player's TransportModel. It is one focusable widget: Left and Right move a
// focus mark between the buttons, Space, Return and Enter press the marked
// one, a click presses the one under the mouse. A level meter runs along its
// bottom edge; a button's tooltip gives its name, and the position and
// length as m:ss (h:mm:ss from an hour). Assistive technologies see it as a
// tool bar of push buttons (TransportBarAccessible.cpp).
#include <QWidget>

#include "LevelMeter.h"
#include "TransportModel.h"

// A duration as m:ss below an hour and h:mm:ss from an hour on; negative
// durations show as 0:00.
QString FormatDuration(int ms);

class TransportBar : public QWidget {
    // Its own class name, so that accessibility finds its interface before
    // the plain widget's.
    Q_OBJECT

public:
    explicit TransportBar(TransportModel& model);

    static QString ButtonName(int button);
    // Whether the button can act: the model says so and the bar is enabled.
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
    QRect MeterRect() const { return meter_.Rect(); }

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

    // The accessible side of the view (TransportBarAccessible.cpp).
    // Registers the bar's accessible interface with Qt; once is enough.
    static void InstallAccessibility();
    // Tells assistive technologies that the buttons in the `changed` mask
    // (bit i for button i) were enabled or disabled.
    void AnnounceButtonStates(unsigned changed);
    // Tells them that the focus mark moved to another button.
    void AnnounceMarkedButton();

    TransportModel& model_;
    int marked_ = 0;
    int down_ = -1;
    unsigned painted_ = 0;   // the enabled buttons as last painted
    unsigned announced_ = 0; // the enabled buttons as last told to assistive technologies
    LevelMeter meter_;
};
