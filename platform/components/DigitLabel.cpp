#include "DigitLabel.h"

#include <QGlyphRun>
#include <QPainter>
#include <QStyle>
#include <QVarLengthArray>

namespace {

const QLatin1String kCharacters("0123456789-");

// The character's place among kCharacters, or -1.
int Index(QChar c)
{
    if (c.unicode() >= '0' && c.unicode() <= '9')
        return c.unicode() - '0';
    return c.unicode() == '-' ? 10 : -1;
}

} // namespace

void DigitLabel::paintEvent(QPaintEvent* e)
{
    if (!PaintGlyphs())
        QLabel::paintEvent(e);
}

bool DigitLabel::PlainLayout() const
{
    const QBrush background = palette().brush(backgroundRole());
    return autoFillBackground() && background.style() == Qt::SolidPattern && background.isOpaque() &&
           isEnabled() && frameShape() == QFrame::NoFrame && margin() == 0 && indent() <= 0 && !wordWrap() &&
           contentsRect() == rect() && (alignment() & Qt::AlignHorizontal_Mask) == Qt::AlignLeft &&
           layoutDirection() == Qt::LeftToRight;
}

bool DigitLabel::PaintGlyphs()
{
    const QString caption = text();
    if (caption.isEmpty() || !PlainLayout())
        return false;
    for (QChar c : caption)
        if (Index(c) < 0)
            return false;
    // The palette's colour group follows the window's state; its key does not.
    const Look look{font(),           palette().cacheKey(),  int(palette().currentColorGroup()),
                    height(),         int(alignment()),      int(foregroundRole()),
                    int(backgroundRole()), style()};
    if (look != preparedLook_) {
        preparedLook_ = look;
        Prepare();
    }
    if (!usable_)
        return false;
    QPainter painter(this);
    DrawRun(painter, caption, QPointF(0, baseline_));
    return true;
}

void DigitLabel::DrawRun(QPainter& painter, const QString& caption, QPointF origin) const
{
    QVarLengthArray<quint32, 16> glyphs;
    QVarLengthArray<QPointF, 16> positions;
    qreal x = 0;
    for (QChar c : caption) {
        const int i = Index(c);
        glyphs.append(glyphs_[i]);
        positions.append(QPointF(x, 0));
        x += advances_[i];
    }
    QGlyphRun run;
    run.setRawFont(rawFont_);
    run.setRawData(glyphs.constData(), positions.constData(), int(glyphs.size()));
    painter.setPen(palette().color(foregroundRole()));
    painter.drawGlyphRun(origin, run);
}

void DigitLabel::Prepare()
{
    usable_ = false;
    const QFontMetricsF metrics(font());
    rawFont_ = QRawFont::fromFont(font());
    const QList<quint32> glyphs = rawFont_.glyphIndexesForString(kCharacters);
    if (glyphs.size() != kChars)
        return;
    for (int i = 0; i < kChars; ++i) {
        glyphs_[i] = glyphs[i];
        advances_[i] = metrics.horizontalAdvance(kCharacters[i]);
        if (glyphs_[i] == 0)
            return; // the layout would fall back on another font
    }
    // No pair may be moved closer or apart by kerning.
    for (int a = 0; a < kChars; ++a)
        for (int b = 0; b < kChars; ++b)
            if (metrics.horizontalAdvance(QString(kCharacters[a]) + kCharacters[b]) != advances_[a] + advances_[b])
                return;
    const qreal lineHeight = metrics.ascent() + metrics.descent();
    const Qt::Alignment vertical = alignment() & Qt::AlignVertical_Mask;
    baseline_ = vertical == Qt::AlignBottom    ? height() - metrics.descent()
                : vertical == Qt::AlignVCenter ? (height() - lineHeight) / 2 + metrics.ascent()
                                               : metrics.ascent();

    // The run must draw all eleven characters exactly as the style does,
    // with room on either side for ink outside the advances.
    const int room = qCeil(metrics.height());
    const QSize size(qCeil(metrics.horizontalAdvance(kCharacters)) + 2 * room, height());
    QImage byStyle(size, QImage::Format_RGB32), byRun(size, QImage::Format_RGB32);
    const QColor background = palette().color(backgroundRole());
    byStyle.fill(background);
    byRun.fill(background);
    {
        QPainter painter(&byStyle);
        painter.setFont(font());
        style()->drawItemText(&painter, QRect(QPoint(room, 0), size), int(alignment()) | Qt::TextForceLeftToRight,
                              palette(), true, kCharacters, foregroundRole());
    }
    {
        QPainter painter(&byRun);
        DrawRun(painter, kCharacters, QPointF(room, baseline_));
    }
    usable_ = byStyle == byRun;
}
