#pragma once
// Starting the toolkit where no window can be shown. Qt ends the process with
// abort() when its platform plugin has no display; the user gets one plain
// line on stderr instead, and the exit code any error at start-up gives.

// Throws Exception with that line when no platform plugin Qt would try has a
// display server to connect to.
void CheckDisplay();

// Held while the toolkit starts: its messages are kept back, and a fatal one
// (a display that does not answer, a plugin that does not load) prints the
// line and ends the process with exit code 0. Once it has started, the kept
// messages go out as they would have.
class DisplayStartup {
public:
    DisplayStartup();
    ~DisplayStartup();
    DisplayStartup(const DisplayStartup&) = delete;
    DisplayStartup& operator=(const DisplayStartup&) = delete;
};
