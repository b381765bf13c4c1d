// Prints the text on the X clipboard. The window tests copy a message box's
// text to it with Ctrl+C, as a user can, and read it back with this.
#include <QClipboard>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    QString text = QGuiApplication::clipboard()->text();
    text.remove(QChar(0x200B)); // the places to break a long file name
    std::fputs(text.toUtf8().constData(), stdout);
    return 0;
}
