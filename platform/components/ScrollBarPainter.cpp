#include "ScrollBarPainter.h"

#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>

void ScrollBarPainter::Paint(QPainter& p, const QScrollBar& bar, const QStyleOptionSlider& option, const QRect& thumb)
{
    const QStyle::SubControls shown = option.subControls;
    const std::tuple look{bar.size(), thumb.size(), int(option.state), int(option.activeSubControls),
                          bar.palette().cacheKey(), bar.devicePixelRatio()};
    if (look != look_) {
        look_ = look;
        // In the style's order: the groove, the thumb, then the arrows, whose
        // edges overlap the thumb's outline at either end.
        constexpr QStyle::SubControls arrows = QStyle::SC_ScrollBarSubLine | QStyle::SC_ScrollBarAddLine;
        QStyleOptionSlider part = option;
        part.subControls = shown & ~(QStyle::SC_ScrollBarSlider | arrows);
        bar_ = Render(bar, part, bar.rect());
        part.subControls = shown & QStyle::SC_ScrollBarSlider;
        thumb_ = Render(bar, part, thumb.adjusted(-kThumbMargin, -kThumbMargin, kThumbMargin, kThumbMargin));
        part.subControls = shown & arrows;
        arrows_ = Render(bar, part, bar.rect());
    }
    p.drawPixmap(0, 0, bar_);
    if (!thumb.isEmpty())
        p.drawPixmap(thumb.topLeft() - QPoint(kThumbMargin, kThumbMargin), thumb_);
    p.drawPixmap(0, 0, arrows_);
}

QPixmap ScrollBarPainter::Render(const QScrollBar& bar, const QStyleOptionSlider& option, const QRect& area)
{
    const qreal ratio = bar.devicePixelRatio();
    QPixmap pixmap(area.size() * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    if (area.isEmpty())
        return pixmap;
    QPainter painter(&pixmap);
    painter.translate(-area.topLeft());
    bar.style()->drawComplexControl(QStyle::CC_ScrollBar, &option, &painter, &bar);
    return pixmap;
}
