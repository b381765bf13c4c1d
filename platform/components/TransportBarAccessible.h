#pragma once
// The transport bar as assistive technologies see it: nine named, pressable
// buttons that report whether they are enabled.
class TransportBar;

// Registers the bar's accessible interface with Qt; once is enough.
void InstallTransportBarAccessibility();
// Tells assistive technologies that the buttons in the `changed` mask (bit i
// for button i) were enabled or disabled.
void AnnounceButtonStates(TransportBar* bar, unsigned changed);
// Tells them that the focus mark moved to another button.
void AnnounceMarkedButton(TransportBar* bar);
