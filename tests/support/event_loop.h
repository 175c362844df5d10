// Running Qt's events in tests that drive a window.
#pragma once

#include <functional>

// Runs Qt events for `ms` milliseconds.
void processEventsFor(int ms);
// Runs Qt events until `done` holds (true) or `timeoutMs` passed (false).
bool processEventsUntil(const std::function<bool()> &done, int timeoutMs = 5000);
