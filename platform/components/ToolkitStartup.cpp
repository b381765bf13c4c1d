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
    // The toolkit reads the font configuration, a large part of the start-up,
    // when the form first measures a text. Read on another core while the
    // toolkit connects to the display, it is ready by then.
    fonts_ = std::jthread([] { FcInit(); });
}
