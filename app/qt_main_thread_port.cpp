#include "app/qt_main_thread_port.h"

#include <QMetaObject>
#include <QSocketNotifier>

namespace glowstep {

TQtMainThreadPort::TQtMainThreadPort(TExceptionReporter reporter, QObject* parent)
    : QObject(parent), Reporter_(std::move(reporter)) {}

TQtMainThreadPort::~TQtMainThreadPort() = default;

void TQtMainThreadPort::Post(TTask task) {
  // A queued call on this object: safe from any thread, run by the loop of the main thread, and
  // dropped if the port is gone by then.
  QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

TQtMainThreadPort::TWatchId TQtMainThreadPort::WatchReadable(int descriptor, TTask onReadable) {
#ifdef Q_OS_WIN
  // On Windows a socket notifier watches sockets only.
  static_cast<void>(descriptor);
  static_cast<void>(onReadable);
  return 0;
#else
  if (descriptor < 0) return 0;
  auto* notifier = new QSocketNotifier(descriptor, QSocketNotifier::Read, this);
  connect(notifier, &QSocketNotifier::activated, this, [task = std::move(onReadable)] { task(); });
  const TWatchId id = NextWatch_++;
  Watches_[id] = notifier;
  return id;
#endif
}

void TQtMainThreadPort::Unwatch(TWatchId watch) {
  const auto it = Watches_.find(watch);
  if (it == Watches_.end()) return;
  it->second->setEnabled(false);
  it->second->deleteLater();
  Watches_.erase(it);
}

void TQtMainThreadPort::ReportException(std::exception_ptr error) {
  if (Reporter_) Reporter_(std::move(error));
}

}  // namespace glowstep
