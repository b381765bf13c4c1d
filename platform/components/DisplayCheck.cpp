#include "DisplayCheck.h"

#include <QApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "Exception.h"

namespace {

const char* const kHeadless = "run it inside a desktop session, or headless under xvfb-run";

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The platform plugins Qt will try, first to last: QT_QPA_PLATFORM's list
// (options after a colon dropped), or the desktop session's.
std::vector<std::string> PlatformCandidates()
{
    std::vector<std::string> names;
    const std::string list = Env("QT_QPA_PLATFORM");
    if (list.empty())
        return {"xcb", "wayland"};
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find(';', start), list.size());
        const std::string entry = list.substr(start, end - start);
        const std::string name = entry.substr(0, entry.find(':'));
        if (!name.empty())
            names.push_back(name);
        start = end + 1;
    }
    return names;
}

// Whether the plugin has anything to connect to. Only the two that need a
// display server are judged here; whether the server answers, or another
// plugin loads, Qt finds out (see StartupMessages).
bool PlatformHasDisplay(const std::string& name)
{
    if (name.rfind("xcb", 0) == 0)
        return !Env("DISPLAY").empty();
    if (name.rfind("wayland", 0) == 0) {
        // Without WAYLAND_DISPLAY the client library tries "wayland-0".
        const std::string runtime = Env("XDG_RUNTIME_DIR");
        std::error_code ec;
        return !Env("WAYLAND_DISPLAY").empty() ||
               (!runtime.empty() && std::filesystem::exists(std::filesystem::path(runtime) / "wayland-0", ec));
    }
    return true;
}

// What the user is told when no window can be shown.
std::string NoDisplayMessage()
{
    const std::string platform = Env("QT_QPA_PLATFORM");
    if (!platform.empty())
        return "recorder: the display platform \"" + platform + "\" (QT_QPA_PLATFORM) is not usable here; " + kHeadless;
    const std::string display = Env("DISPLAY");
    if (!display.empty())
        return "recorder: cannot open the display \"" + display + "\"; " + kHeadless;
    return std::string("recorder: no display found; ") + kHeadless;
}

struct Held {
    QtMsgType type;
    std::string file, function, category;
    int line;
    QString text;
};
std::vector<Held>& held()
{
    static std::vector<Held> messages;
    return messages;
}

std::mutex& mutex()
{
    static std::mutex m;
    return m;
}

// Any thread of the toolkit may report while it starts.
void Handle(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "%s\n", NoDisplayMessage().c_str());
        std::fflush(stderr);
        std::_Exit(0);
    }
    const std::lock_guard<std::mutex> lock(mutex());
    held().push_back({type, context.file ? context.file : "", context.function ? context.function : "",
                      context.category ? context.category : "", context.line, text});
}

} // namespace

void CheckDisplay()
{
    const std::vector<std::string> platforms = PlatformCandidates();
    if (std::none_of(platforms.begin(), platforms.end(), PlatformHasDisplay))
        throw Exception(AnsiString(NoDisplayMessage()));
}

DisplayStartup::DisplayStartup()
{
    qInstallMessageHandler(&Handle);
}

DisplayStartup::~DisplayStartup()
{
    qInstallMessageHandler(nullptr);
    const std::lock_guard<std::mutex> lock(mutex());
    for (const Held& m : held()) {
        const QMessageLogContext context(m.file.c_str(), m.line, m.function.c_str(), m.category.c_str());
        qt_message_output(m.type, context, m.text);
    }
    held().clear();
}
