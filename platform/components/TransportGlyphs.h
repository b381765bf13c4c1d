#pragma once
// The pictures on the transport buttons, drawn as shapes so that they scale
// with the bar and take the palette's colours.
class QColor;
class QPainter;
class QRect;

// Draws the glyph of `button` (a TransportModel::Button) centred in `r`, in
// `ink`; an enabled record button is red.
void DrawTransportGlyph(QPainter& p, int button, const QRect& r, const QColor& ink, bool enabled);
