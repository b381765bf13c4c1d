#pragma once
// Settings and warm-ups that make the toolkit start and repaint sooner and
// keep less in memory. Held while the QApplication is built.
#include <thread>

class ToolkitStartup {
public:
    ToolkitStartup();
    ToolkitStartup(const ToolkitStartup&) = delete;
    ToolkitStartup& operator=(const ToolkitStartup&) = delete;

private:
    std::jthread fonts_; // joined when the toolkit has started
};
