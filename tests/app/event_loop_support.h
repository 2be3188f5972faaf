// Helpers of the window tests that run the Qt event loop against a simulated controller.
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdint>
#include <vector>

namespace glowstep::testing {

// Runs the event loop until `done` holds, for at most five seconds; false if it never did.
template <typename Predicate>
bool WaitUntil(Predicate done) {
  QElapsedTimer clock;
  clock.start();
  // Wakes the loop now and then, so the deadline is seen even when nothing else happens.
  QTimer tick;
  tick.start(50);
  while (!done()) {
    if (clock.elapsed() > 5000) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// A report as hexadecimal bytes, for comparisons that print readably.
inline QByteArray Hex(const std::vector<std::uint8_t>& bytes) {
  return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                    static_cast<qsizetype>(bytes.size()))
      .toHex(' ');
}

}  // namespace glowstep::testing
