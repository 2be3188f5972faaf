// The window's language: which language is spoken, and that the window and Qt's own dialogs
// speak it.
#include <QColorDialog>
#include <QFile>
#include <QLibraryInfo>
#include <QTest>

#include "app/application.h"
#include "app/language.h"
#include "app/main_window.h"
#include "app/qt_main_thread_port.h"
#include "hid/platform/sim/sim_platform.h"
#include "ui_main_window.h"

using namespace glowstep;

class LanguageTest : public QObject {
  Q_OBJECT

  TSimPlatform platform;
  TQtMainThreadPort port{[](std::exception_ptr) {}};

 private slots:
  void cleanup() { TApplication::Instance()->SetLanguage(kSourceLanguage); }

  void theFirstLanguageSpokenIsChosen_data() {
    QTest::addColumn<QStringList>("preferred");
    QTest::addColumn<QString>("chosen");
    QTest::addRow("system's Russian") << QStringList{"ru-RU", "ru"} << "ru";
    QTest::addRow("regional German") << QStringList{"de-AT"} << "de";
    QTest::addRow("English first") << QStringList{"en-US", "ru-RU"} << "en";
    QTest::addRow("unspoken, then Russian") << QStringList{"fr-FR", "fr", "ru"} << "ru";
    QTest::addRow("none spoken") << QStringList{"fr-FR", "fr"} << "en";
    QTest::addRow("region first") << QStringList{"pt_BR.UTF-8"} << "pt_BR";
    QTest::addRow("other region") << QStringList{"pt-PT"} << "pt";
    QTest::addRow("C locale") << QStringList{"C"} << "en";
    QTest::addRow("nothing") << QStringList{} << "en";
  }
  void theFirstLanguageSpokenIsChosen() {
    QFETCH(QStringList, preferred);
    QFETCH(QString, chosen);
    QCOMPARE(ChooseLanguage(preferred, {"de", "pt", "pt_BR", "ru"}), chosen);
  }

  void theOptionThenLanguageThenTheSystemSayWhatIsPreferred() {
    qputenv("LANGUAGE", "de:en");
    QCOMPARE(PreferredLanguages({"glowstep", "--lang", "ru"}), QStringList{"ru"});
    QCOMPARE(PreferredLanguages({"glowstep", "--lang=ru:de"}), (QStringList{"ru", "de"}));
    QCOMPARE(PreferredLanguages({"glowstep"}), (QStringList{"de", "en"}));
    qunsetenv("LANGUAGE");
    QCOMPARE(PreferredLanguages({"glowstep"}), QLocale::system().uiLanguages());
    qputenv("LANGUAGE", "en");
  }

  void everyTranslationIsCompiledIn() {
    QCOMPARE(TranslatedLanguages(), (QStringList{"de", "ru"}));
  }

  // A Russian user sees the window's Russian texts and Qt's colour dialog in Russian too.
  void theWindowAndQtsDialogsSpeakTheLanguage() {
    TApplication::Instance()->SetLanguage("ru");
    TMainWindow window(platform, port);
    QCOMPARE(window.Form().Read_btn->text(), QStringLiteral("Прочитать настройки"));
    QCOMPARE(window.Form().FixedLabel4->text(),
             QStringLiteral("Задержка между полным включением и началом выключения лестницы, сек"));
    if (!QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_ru.qm")) {
      QSKIP("Qt's own Russian translation is not installed");
    }
    QCOMPARE(window.ColorDialog().windowTitle(), QStringLiteral("Выбор цвета"));

    // Back to English while the window is open: it follows.
    TApplication::Instance()->SetLanguage(kSourceLanguage);
    QTRY_COMPARE(window.Form().Read_btn->text(), QStringLiteral("Read settings"));
    QCOMPARE(window.windowTitle(), QStringLiteral("Glowstep v3.2"));
  }
};

int main(int argc, char** argv) {
  TApplication app(argc, argv);
  LanguageTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "language_test.moc"
