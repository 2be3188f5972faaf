#include "app/language.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace glowstep {
namespace {

const QString kTranslationsFolder = QStringLiteral(":/i18n");
const QString kCatalogue = QStringLiteral("glowstep");
const QString kQtCatalogue = QStringLiteral("qtbase");

// "pt-BR", "pt_BR.UTF-8" and "pt_BR@euro" become "pt_BR"; "C" and "POSIX" are English.
QString Normalised(QString name) {
  name = name.trimmed();
  for (const QChar end : {QLatin1Char('.'), QLatin1Char('@')}) {
    const auto at = name.indexOf(end);
    if (at >= 0) name.truncate(at);
  }
  name.replace(QLatin1Char('-'), QLatin1Char('_'));
  if (name == QLatin1String("C") || name == QLatin1String("POSIX")) return kSourceLanguage;
  return name;
}

}  // namespace

QStringList TranslatedLanguages() {
  // The names are picked by hand: a name filter would build a regular expression, whose engine
  // costs the start-up more memory than all the rest of the language's choice.
  const QString prefix = kCatalogue + QLatin1Char('_');
  const QString suffix = QStringLiteral(".qm");
  QStringList languages;
  for (const QString& file : QDir(kTranslationsFolder).entryList(QDir::Files)) {
    if (file.startsWith(prefix) && file.endsWith(suffix)) {
      languages.append(file.mid(prefix.size()).chopped(suffix.size()));
    }
  }
  return languages;
}

QStringList PreferredLanguages(const QStringList& arguments) {
  const QString option = QStringLiteral("--lang");
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    if (argument == option && i + 1 < arguments.size()) {
      return arguments[i + 1].split(QLatin1Char(':'), Qt::SkipEmptyParts);
    }
    if (argument.startsWith(option + QLatin1Char('='))) {
      return argument.mid(option.size() + 1).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    }
  }
  QStringList fromVariable =
      qEnvironmentVariable("LANGUAGE").split(QLatin1Char(':'), Qt::SkipEmptyParts);
  if (!fromVariable.isEmpty()) return fromVariable;
  return QLocale::system().uiLanguages();
}

QString Translated(const TMessage& message) {
  return QString::fromStdString(message.Render([](const TMessageText& text) {
    return QCoreApplication::translate(text.Context, text.English).toStdString();
  }));
}

QString ChooseLanguage(const QStringList& preferred, const QStringList& translated) {
  for (const QString& wanted : preferred) {
    QString name = Normalised(wanted);
    QString language = name.section(QLatin1Char('_'), 0, 0);
    if (language == QLatin1String(kSourceLanguage)) break;
    if (translated.contains(name)) return name;
    if (translated.contains(language)) return language;
  }
  return kSourceLanguage;
}

TTranslations::TTranslations() = default;

TTranslations::~TTranslations() { Remove(); }

void TTranslations::Remove() {
  for (auto* translator : {&Program_, &Qt_}) {
    if (*translator) QCoreApplication::removeTranslator(translator->get());
    translator->reset();
  }
}

void TTranslations::Install(const QString& language) {
  Remove();
  Language_ = language;
  if (language == QLatin1String(kSourceLanguage)) return;
  Program_ = std::make_unique<QTranslator>();
  if (Program_->load(kCatalogue + QLatin1Char('_') + language, kTranslationsFolder)) {
    QCoreApplication::installTranslator(Program_.get());
  }
  Qt_ = std::make_unique<QTranslator>();
  if (Qt_->load(QLocale(language), kQtCatalogue, QStringLiteral("_"),
                QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(Qt_.get());
  }
}

}  // namespace glowstep
