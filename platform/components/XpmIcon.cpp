#include "XpmIcon.h"

#include <vector>

// The rows of an XPM, the quoted strings of the file, go straight to Qt's
// built-in XPM reader: reading the file as an image would first load every
// image-format plugin.
QPixmap IconFromXpm(const std::string& text)
{
    std::vector<std::string> rows;
    for (std::size_t open = text.find('"'); open != std::string::npos; open = text.find('"', open)) {
        const std::size_t close = text.find('"', open + 1);
        if (close == std::string::npos)
            break;
        rows.push_back(text.substr(open + 1, close - open - 1));
        open = close + 1;
    }
    std::vector<const char*> lines;
    for (const std::string& row : rows)
        lines.push_back(row.c_str());
    return lines.empty() ? QPixmap() : QPixmap(lines.data());
}
