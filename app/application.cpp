#include "app/application.h"

#include <QFileInfo>
#include <QIcon>
#include <QImage>
#include <QMessageBox>
#include <QPixmap>
#include <QSettings>

#include "mainicon_pixels.h"
#include "widgets/custom_spin_edit.h"

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
  } catch (const EMessageError& e) {
    return Translated(e.Message());
  } catch (const std::exception& e) {
    // The program's messages are UTF-8, also those that quote the system.
    return QString::fromUtf8(e.what());
  } catch (...) {
    return TApplication::tr("Unknown error");
  }
}

// The program stores nothing on disk, but Qt's own dialogs keep state in the user's Qt settings
// (the colour dialog its custom colours, read at its first use and written whenever one closes
// for good). Those settings are pointed below the null device, which is never a directory, so
// no file can be read or made there and such state lives as long as the program runs. (Windows
// keeps them in the registry, which cannot be pointed elsewhere.)
void KeepQtSettingsOffDisk() {
#ifndef Q_OS_WIN
  for (const auto format : {QSettings::NativeFormat, QSettings::IniFormat}) {
    for (const auto scope : {QSettings::UserScope, QSettings::SystemScope}) {
      QSettings::setPath(format, scope, QStringLiteral("/dev/null"));
    }
  }
#endif
}

// The program's icon, from pixels compiled in: no image is decoded at start-up, which spares the
// memory the code of the PNG and compression libraries would take.
QIcon MainIcon() {
  const QImage image(reinterpret_cast<const uchar*>(kMainIconPixels), kMainIconWidth,
                     kMainIconHeight, QImage::Format_ARGB32);
  return QIcon(QPixmap::fromImage(image));
}

}  // namespace

TApplication::TApplication(int& argc, char** argv)
    : QApplication(argc, argv), Title_(ApplicationTitleFor(applicationFilePath())) {
  KeepQtSettingsOffDisk();
  setWindowIcon(MainIcon());
  Translations_.Install(ChooseLanguage(PreferredLanguages(arguments()), TranslatedLanguages()));
  Presenter_ = [](const QString& caption, const QString& text) {
    QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok);
    box.exec();
  };
  TCustomSpinEdit::SetErrorDisplay([](const QString& message) {
    if (TApplication* application = Instance()) application->ShowError(message);
  });
}

TApplication* TApplication::Instance() {
  return qobject_cast<TApplication*>(QCoreApplication::instance());
}

void TApplication::ShowException(std::exception_ptr error) { ShowError(MessageOf(error)); }

void TApplication::ShowError(const QString& message) {
  if (Presenter_) Presenter_(Title_, ErrorBoxText(message));
}

}  // namespace glowstep
