#pragma once
// Paints a scroll bar from pictures of its parts. While sound plays the thumb
// moves along a bar that otherwise stays as it is, and the style's
// gradients, arrows and grip lines cost far more than copying them: the
// groove, the thumb and the arrows are drawn once for each look and size,
// then copied into place.
#include <QPixmap>
#include <QRect>
#include <QSize>

#include <tuple>

class QPainter;
class QScrollBar;
class QStyleOptionSlider;

class ScrollBarPainter {
public:
    // The style draws the thumb's outline this far outside its rectangle.
    static constexpr int kThumbMargin = 2;

    // Draws `bar` as `option` describes it, with its thumb at `thumb`.
    void Paint(QPainter& p, const QScrollBar& bar, const QStyleOptionSlider& option, const QRect& thumb);

private:
    // What the style draws of `option` within `area`, on a clear background.
    static QPixmap Render(const QScrollBar& bar, const QStyleOptionSlider& option, const QRect& area);

    std::tuple<QSize, QSize, int, int, qint64, qreal> look_;
    QPixmap bar_, thumb_, arrows_;
};
