// Times a program's start-up to its first shown window, from the X server's
// own notification rather than by polling: listens for windows being mapped
// on the root window, starts the program, and prints the microseconds until
// a top-level window titled TITLE is mapped. Then ends the program.
// Usage: mapwait TITLE PROGRAM [ARGUMENTS...]
// Exit code 1 when the program exits, or shows no such window in 30 s.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

// The window's title: WM_NAME, or _NET_WM_NAME when WM_NAME is missing.
bool TitleIs(Display* display, Window w, const char* title)
{
    char* name = nullptr;
    if (XFetchName(display, w, &name) && name) {
        const bool same = std::strcmp(name, title) == 0;
        XFree(name);
        return same;
    }
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    if (XGetWindowProperty(display, w, netName, 0, 1024, False, utf8, &type, &format, &count, &after, &data) !=
            Success ||
        !data)
        return false;
    const bool same = type == utf8 && format == 8 && count == std::strlen(title) &&
                      std::memcmp(data, title, count) == 0;
    XFree(data);
    return same;
}

// A mapped child of the root is either the program's own window or, under a
// window manager, a frame holding it one level down.
bool ShowsTitle(Display* display, Window w, const char* title)
{
    if (TitleIs(display, w, title))
        return true;
    Window root, parent, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, w, &root, &parent, &children, &count))
        return false;
    bool found = false;
    for (unsigned int i = 0; i < count && !found; ++i)
        found = TitleIs(display, children[i], title);
    if (children)
        XFree(children);
    return found;
}

int IgnoreErrors(Display*, XErrorEvent*)
{
    return 0; // a window may be gone before its title is read
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: mapwait TITLE PROGRAM [ARGUMENTS...]\n");
        return 2;
    }
    const char* title = argv[1];
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "mapwait: cannot open the display\n");
        return 1;
    }
    XSetErrorHandler(IgnoreErrors);
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False); // listening before the program starts

    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("mapwait: fork");
        return 1;
    }
    if (pid == 0) {
        close(ConnectionNumber(display));
        execvp(argv[2], argv + 2);
        std::fprintf(stderr, "mapwait: cannot run %s: %s\n", argv[2], std::strerror(errno));
        _exit(127);
    }

    long long micros = -1;
    const char* failure = nullptr;
    pollfd x{ConnectionNumber(display), POLLIN, 0};
    while (micros < 0 && !failure) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && ShowsTitle(display, event.xmap.window, title)) {
                micros = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
                break;
            }
        }
        if (micros >= 0)
            break;
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            failure = "exited";
            break;
        }
        if (Clock::now() - start > std::chrono::seconds(30))
            failure = "timed out";
        else
            poll(&x, 1, 20); // woken by the server; the timeout only watches the child
    }

    if (!failure) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    } else if (std::strcmp(failure, "timed out") == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    XCloseDisplay(display);
    if (failure) {
        std::fprintf(stderr, "mapwait: %s showed no window \"%s\" (%s)\n", argv[2], title, failure);
        return 1;
    }
    std::printf("%lld\n", micros);
    return 0;
}
