#pragma once
// A label for a number that changes many times a second.
#include <QFont>
#include <QLabel>
#include <QRawFont>

#include <array>
#include <tuple>

// Draws a caption made of digits and minus signs as a run of glyphs looked
// up once for the font, instead of itemizing, shaping and laying out the
// text anew on every change. Before it is trusted for a font, palette and
// height, the run is checked pixel for pixel against the style's own drawing
// of all eleven characters; any other caption, a font that kerns them, or a
// look that does not pass is drawn by QLabel.
class DigitLabel : public QLabel {
protected:
    void paintEvent(QPaintEvent* e) override;

private:
    bool PaintGlyphs();
    // Whether the label is laid out so that its text starts at its left
    // edge, on a solid background of its own.
    bool PlainLayout() const;
    void Prepare();
    void DrawRun(QPainter& painter, const QString& caption, QPointF origin) const;

    static constexpr int kChars = 11; // "0123456789-"
    using Look = std::tuple<QFont, qint64, int, int, int, int, int, const void*>;
    Look preparedLook_;
    bool usable_ = false;
    QRawFont rawFont_;
    std::array<quint32, kChars> glyphs_{};
    std::array<qreal, kChars> advances_{};
    qreal baseline_ = 0;
};
