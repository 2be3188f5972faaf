#include "application.h"

#include <QFileInfo>
#include <QIcon>
#include <QMessageBox>

namespace glowstep {

QString ApplicationTitleFor(const QString& programPath) {
  QString name = QFileInfo(programPath).fileName();
  const auto stop = name.indexOf(QLatin1Char('.'));
  if (stop >= 0) name.truncate(stop);
  if (name.size() > 1) name = name.left(1) + name.mid(1).toLower();
  return name;
}

QString ErrorBoxText(const QString& message) {
  if (!message.isEmpty() && message.back() > QLatin1Char('.')) return message + QLatin1Char('.');
  return message;
}

namespace {

QString MessageOf(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return QString::fromLocal8Bit(e.what());
  } catch (...) {
    return QStringLiteral("Unknown error");
  }
}

}  // namespace

TApplication::TApplication(int& argc, char** argv)
    : QApplication(argc, argv), Title_(ApplicationTitleFor(applicationFilePath())) {
  setWindowIcon(QIcon(QStringLiteral(":/MAINICON")));
  Presenter_ = [](const QString& caption, const QString& text) {
    QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok);
    box.exec();
  };
}

TApplication* TApplication::Instance() {
  return qobject_cast<TApplication*>(QCoreApplication::instance());
}

void TApplication::ShowException(std::exception_ptr error) { ShowError(MessageOf(error)); }

void TApplication::ShowError(const QString& message) {
  if (Presenter_) Presenter_(Title_, ErrorBoxText(message));
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ShowException(std::current_exception());
    return false;
  }
}

}  // namespace glowstep
