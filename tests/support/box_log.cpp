// Preloaded (LD_PRELOAD) into the real program by the window tests: writes
// the text of each error box the program builds, one line each, to the file
// BOX_LOG names, so that a test can tell what a box says. It stands in for
// the QMessageBox constructor the program calls and hands on to Qt's own.
#include <QMessageBox>

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

#define BOX_CONSTRUCTOR "_ZN11QMessageBoxC1ENS_4IconERK7QStringS3_6QFlagsINS_14StandardButtonEEP7QWidgetS4_IN2Qt10WindowTypeEE"

extern "C" void LoggedMessageBox(QMessageBox* self, QMessageBox::Icon icon, const QString& title, const QString& text,
                                 QMessageBox::StandardButtons buttons, QWidget* parent, Qt::WindowFlags flags)
    __asm__(BOX_CONSTRUCTOR);

extern "C" void LoggedMessageBox(QMessageBox* self, QMessageBox::Icon icon, const QString& title, const QString& text,
                                 QMessageBox::StandardButtons buttons, QWidget* parent, Qt::WindowFlags flags)
{
    static const auto qt = reinterpret_cast<decltype(&LoggedMessageBox)>(dlsym(RTLD_NEXT, BOX_CONSTRUCTOR));
    if (const char* log = std::getenv("BOX_LOG"))
        if (FILE* f = std::fopen(log, "a")) {
            std::fprintf(f, "%s\n", QString(text).replace('\n', ' ').toUtf8().constData());
            std::fclose(f);
        }
    qt(self, icon, title, text, buttons, parent, flags);
}
