#include "ToolkitStartup.h"

#include <QByteArray>
#include <QtGlobal>

#include <fontconfig/fontconfig.h>

ToolkitStartup::ToolkitStartup()
{
    // On X, shared memory makes every repaint wait for the server before it
    // starts and wake the program again when the server is done. The
    // window's repaints are small (the position, the scroll bar), so sending
    // their pixels costs less. The user's own setting wins.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", "1");
    // Regular expressions are matched by the interpreter, not compiled to
    // machine code: the file dialog's filters are their only use, no slower
    // that way even in a folder of thousands of files, and the compiler's
    // code would stay in memory for the rest of the run. The user's setting wins.
    if (!qEnvironmentVariableIsSet("QT_ENABLE_REGEXP_JIT"))
        qputenv("QT_ENABLE_REGEXP_JIT", "0");
    // The toolkit reads the font configuration, a large part of the start-up,
    // when the form first measures a text. Read on another core while the
    // toolkit connects to the display, it is ready by then.
    fonts_ = std::jthread([] { FcInit(); });
}
