// What the widget tests wait for instead of a time window: the ticks of a widget's own timers,
// and whether a timer is left that could tick at all.
#pragma once

#include <QAbstractEventDispatcher>
#include <QEvent>
#include <QObject>

namespace glowstep::testing {

// Counts the timer events `watched` receives. Each is counted as it is delivered, so when a
// QTRY_ condition sees the count, the widget has handled every tick counted.
class TTimerTicks final : public QObject {
 public:
  explicit TTimerTicks(QObject* watched) { watched->installEventFilter(this); }

  int Count() const { return Count_; }

 protected:
  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    if (event->type() == QEvent::Timer) ++Count_;
    return false;
  }

 private:
  int Count_ = 0;
};

// Whether a timer of `object` is running: without one, nothing more can tick.
inline bool HasRunningTimer(QObject* object) {
  return !QAbstractEventDispatcher::instance()->registeredTimers(object).isEmpty();
}

}  // namespace glowstep::testing
