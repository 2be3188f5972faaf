// Start-up measurement: with GLOWSTEP_STARTUP_PROBE set in the environment, a program reports
// on standard error, once its window has painted for the first time, the wall-clock time of that
// moment and its resident memory, then quits. scripts/measure-startup compares the figures of the
// configurator's demo with those of a bare Qt window.
#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QObject>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstdio>

namespace glowstep {

class TFirstPaintProbe : public QObject {
 public:
  static void InstallOn(QWidget* window) {
    if (qEnvironmentVariableIsEmpty("GLOWSTEP_STARTUP_PROBE")) return;
    window->installEventFilter(new TFirstPaintProbe(window));
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && !Seen_) {
      Seen_ = true;
      // Reported once the paint that is under way has finished.
      QTimer::singleShot(0, this, [] {
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        std::fprintf(stderr, "first-paint-ns %lld rss-kb %ld\n",
                     static_cast<long long>(
                         std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()),
                     ResidentKilobytes());
        QCoreApplication::quit();
      });
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  explicit TFirstPaintProbe(QObject* parent) : QObject(parent) {}

  static long ResidentKilobytes() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
      if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
  }

  bool Seen_ = false;
};

}  // namespace glowstep
