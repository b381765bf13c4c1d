#include "TransportGlyphs.h"

#include <QColor>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

#include "TransportModel.h"

void DrawTransportGlyph(QPainter& p, int button, const QRect& r, const QColor& ink, bool enabled)
{
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
    case TransportModel::btPlay: triangle(c.x() - w / 2, w, true); break;
    case TransportModel::btPause:
        barAt(c.x() - bar * 1.5);
        barAt(c.x() + bar * 0.5);
        break;
    case TransportModel::btStop: p.fillRect(QRectF(c.x() - h * 0.85, c.y() - h * 0.85, h * 1.7, h * 1.7), ink); break;
    case TransportModel::btToStart: // |<<
        barAt(c.x() - w - bar / 2);
        triangle(c.x() - w + bar / 2, w / 2 + 1, false);
        triangle(c.x() - w / 2 + bar / 2, w / 2 + 1, false);
        break;
    case TransportModel::btToEnd: // >>|
        triangle(c.x() - w / 2 - bar / 2 - 1, w / 2 + 1, true);
        triangle(c.x() - bar / 2 - 1, w / 2 + 1, true);
        barAt(c.x() + w / 2 - bar / 2);
        break;
    case TransportModel::btBack: // <<
        triangle(c.x() - w / 2, w / 2, false);
        triangle(c.x(), w / 2, false);
        break;
    case TransportModel::btStep: // >>
        triangle(c.x() - w / 2, w / 2, true);
        triangle(c.x(), w / 2, true);
        break;
    case TransportModel::btRecord:
        p.setBrush(enabled ? QColor(200, 0, 0) : ink);
        p.drawEllipse(c, h * 0.8, h * 0.8);
        break;
    case TransportModel::btEject: {
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
