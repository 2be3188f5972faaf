// Helpers of the window tests that run the Qt event loop against a simulated controller.
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "app/qt_main_thread_port.h"

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

// A main-thread port that keeps the text of the latest failure raised on it in `error`.
inline std::unique_ptr<TQtMainThreadPort> MakeRecordingPort(std::string& error) {
  return std::make_unique<TQtMainThreadPort>([&error](const std::exception_ptr& failure) {
    try {
      std::rethrow_exception(failure);
    } catch (const std::exception& e) {
      error = e.what();
    }
  });
}

}  // namespace glowstep::testing
