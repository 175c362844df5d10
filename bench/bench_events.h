// What the window benchmarks running in real time share: running the
// window's events until something holds, and counting lines in its text.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <functional>
#include <string>

// Runs the window's events until `done` holds or `ms` passed; the time it
// took, or -1.
inline qint64 run_until(const std::function<bool()> &done, int ms) {
  QTimer wake;
  wake.start(5);
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > ms)
      return -1;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return clock.elapsed();
}

inline size_t count_of(const std::string &text, const std::string &needle) {
  size_t count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
    ++count;
  return count;
}
