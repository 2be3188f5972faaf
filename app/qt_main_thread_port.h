// The main-thread port of the HID layer on Qt's event loop: posted tasks are queued calls,
// watched descriptors are socket notifiers, and an exception that leaves a hand-off goes to the
// application's error display.
#pragma once

#include <QObject>

#include <functional>
#include <map>

#include "hid/main_thread_port.h"

class QSocketNotifier;

namespace glowstep {

class TQtMainThreadPort final : public QObject, public TMainThreadPort {
  Q_OBJECT

 public:
  using TExceptionReporter = std::function<void(std::exception_ptr)>;

  // Lives in the thread that creates it, which must run the Qt event loop.
  explicit TQtMainThreadPort(TExceptionReporter reporter, QObject* parent = nullptr);
  ~TQtMainThreadPort() override;

  void Post(TTask task) override;
  TWatchId WatchReadable(int descriptor, TTask onReadable) override;
  void Unwatch(TWatchId watch) override;

 protected:
  void ReportException(std::exception_ptr error) override;

 private:
  TExceptionReporter Reporter_;
  std::map<TWatchId, QSocketNotifier*> Watches_;
  TWatchId NextWatch_ = 1;
};

}  // namespace glowstep
