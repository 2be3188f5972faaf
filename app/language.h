// The language the window speaks: English, the language its texts are written in, or one of the
// translations compiled into the program (":/i18n/glowstep_<language>.qm"), together with Qt's
// own translation for the same language, so that the colour dialog and the standard buttons
// speak it too.
#pragma once

#include <QString>
#include <QStringList>

#include <memory>

#include "base/message.h"

class QTranslator;

namespace glowstep {

// The language the window's texts are written in, spoken where no translation is wanted.
inline constexpr const char* kSourceLanguage = "en";

// The languages the program carries a translation for, besides English ("de", "ru", ...).
QStringList TranslatedLanguages();

// The user's languages, most wanted first: the value of the --lang option ("--lang ru",
// "--lang=de:ru"), else the LANGUAGE variable's list ("de:en"), else the system's (its
// user-interface languages).
QStringList PreferredLanguages(const QStringList& arguments);

// The first of `preferred` that the program speaks: a name from `translated`, or English when
// English comes first or none of them is spoken. "pt-BR", "pt_BR.UTF-8" and "pt" all ask for
// "pt_BR" first and "pt" then.
QString ChooseLanguage(const QStringList& preferred, const QStringList& translated);

// A message of the layers below the window (base/message.h) in the language installed.
QString Translated(const TMessage& message);

// The program's translation and Qt's, installed for one language at a time.
class TTranslations {
 public:
  TTranslations();
  ~TTranslations();
  TTranslations(const TTranslations&) = delete;
  TTranslations& operator=(const TTranslations&) = delete;

  // Removes the translations installed before and installs those of `language` (nothing for
  // English). Qt's own translation comes from where Qt keeps its translations; where it is
  // missing, Qt's dialogs stay in English.
  void Install(const QString& language);
  QString Language() const { return Language_; }

 private:
  void Remove();

  QString Language_ = QString::fromLatin1(kSourceLanguage);
  std::unique_ptr<QTranslator> Program_;
  std::unique_ptr<QTranslator> Qt_;
};

}  // namespace glowstep
