// The application object: its title, its icon, its language, and its error display: what goes
// wrong is shown in an error box, and the program carries on. Errors reach it as values (the HID
// layer's error event, a field's range error) or as exceptions handed over on the main thread
// (from a reader's delivery); none passes through Qt's event loop.
#pragma once

#include <QApplication>
#include <QString>

#include <exception>
#include <functional>

#include "app/language.h"

namespace glowstep {

// The title a program file gives: its name up to the first full stop, every letter after the
// first in lower case ("GLOWSTEP.EXE" gives "Glowstep").
QString ApplicationTitleFor(const QString& programPath);

// The text of an error box: the message, with a full stop appended when its last character has
// a higher code than the full stop.
QString ErrorBoxText(const QString& message);

class TApplication : public QApplication {
  Q_OBJECT

 public:
  // Shows one error: caption and text. The default is a modal error box with one OK button.
  using TErrorPresenter = std::function<void(const QString& caption, const QString& text)>;

  TApplication(int& argc, char** argv);

  static TApplication* Instance();

  QString Title() const { return Title_; }

  // The language the windows speak: chosen at start from the user's languages (the --lang
  // option, else LANGUAGE, else the system's). Setting it retranslates every window.
  QString Language() const { return Translations_.Language(); }
  void SetLanguage(const QString& language) { Translations_.Install(language); }

  // Runs the error display for an exception (any thread's, handed here on the main thread).
  void ShowException(std::exception_ptr error);
  // Runs the error display for a message.
  void ShowError(const QString& message);
  void SetErrorPresenter(TErrorPresenter presenter) { Presenter_ = std::move(presenter); }

 private:
  QString Title_;
  TTranslations Translations_;
  TErrorPresenter Presenter_;
};

}  // namespace glowstep
