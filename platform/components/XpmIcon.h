#pragma once
// The program's icon, kept as XPM text.
#include <QPixmap>

#include <string>

// The picture an XPM file's text describes; a null pixmap when it has no rows.
QPixmap IconFromXpm(const std::string& text);
