// The window's language and its captions: which language is spoken, that the window and Qt's own
// dialogs speak it, and that every caption of every language fits its box in the font the
// program draws it with, and in a wider family too.
#include <QColorDialog>
#include <QFile>
#include <QFontDatabase>
#include <QImage>
#include <QLabel>
#include <QLibraryInfo>
#include <QPainter>
#include <QPushButton>
#include <QTest>

#include "app/application.h"
#include "app/caption_fit.h"
#include "app/language.h"
#include "app/main_window.h"
#include "app/qt_main_thread_port.h"
#include "hid/platform/sim/sim_platform.h"
#include "ui_main_window.h"

using namespace glowstep;

namespace {

// Where `text` leaves ink (pixels at least half covered) when drawn into `box` with `flags` and
// nothing clipped, relative to the box.
QRect InkOf(const QFont& font, const QString& text, QSize box, int flags) {
  const int margin = 40;
  QImage image(box + QSize(2 * margin, 2 * margin), QImage::Format_RGB32);
  image.fill(Qt::white);
  {
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(QRect(QPoint(margin, margin), box), flags | Qt::TextDontClip, text);
  }
  QRect ink;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (qGray(image.pixel(x, y)) < 128) ink |= QRect(x - margin, y - margin, 1, 1);
    }
  }
  return ink;
}

struct TCaption {
  QString Name;
  QFont Font;
  QString Text;
  QSize Box;
  int Flags = 0;
};

// Every caption the window shows: its labels and its buttons.
std::vector<TCaption> CaptionsOf(TMainWindow& window) {
  std::vector<TCaption> captions;
  for (const QLabel* label :
       window.Form().Content->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
    // The status line says nothing until a click; what it says then wraps.
    if (label->isHidden() || label == window.Form().StatusLine) continue;
    captions.push_back({label->objectName(), label->font(), label->text(),
                        label->contentsRect().size(), CaptionFlags(*label)});
  }
  for (const QPushButton* button :
       window.Form().Content->findChildren<QPushButton*>(Qt::FindDirectChildrenOnly)) {
    captions.push_back({button->objectName(), button->font(), button->text(), CaptionBox(*button),
                        Qt::AlignCenter | Qt::TextShowMnemonic});
  }
  return captions;
}

}  // namespace

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

  // The layers below the window word their messages in English; a Russian user reads them in
  // Russian, with names and paths as they are.
  void theLayersMessagesReachTheUserInTheLanguage() {
    TApplication::Instance()->SetLanguage("ru");
    std::vector<QString> shown;
    TApplication::Instance()->SetErrorPresenter(
        [&shown](const QString&, const QString& text) { shown.push_back(text); });
    TSimPlatform sim;
    TMainWindow window(sim, port);
    TSimInterfaceSpec refused;
    refused.ProductString = u"Glowstep 3.2";
    refused.Faults.RefuseReadWrite = true;
    refused.Faults.AccessReason = THidAccessReason::RootOnly;
    const QString path = QString::fromStdString(sim.PathOf(sim.Plug(refused)));
    QTRY_COMPARE(shown.size(), std::size_t{1});
    QVERIFY2(shown[0].startsWith("Контроллер Glowstep 3.2 найден в " + path +
                                 ", но читать и записывать его может только root.\n"
                                 "Установите правило udev"),
             qPrintable(shown[0]));
    // An error the HID layer raises to the main loop.
    TSimInterfaceSpec broken;
    broken.ProductString = u"Broken";
    broken.Faults.FailOpen = true;
    sim.Plug(broken);
    QTRY_COMPARE(shown.size(), std::size_t{2});
    QCOMPARE(shown[1], QStringLiteral("Не удаётся открыть устройство."));
  }

  void everyCaptionFitsItsBox_data() {
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("family");
    const QStringList languages = QStringList{kSourceLanguage} + TranslatedLanguages();
    for (const QString& language : languages) {
      QTest::addRow("%s, the program's font", qPrintable(language)) << language << QString();
      // A wider family, where only a fallback is installed.
      QTest::addRow("%s, DejaVu Sans", qPrintable(language)) << language << "DejaVu Sans";
    }
  }
  void everyCaptionFitsItsBox() {
    QFETCH(QString, language);
    QFETCH(QString, family);
    if (!family.isEmpty() && !QFontDatabase::families().contains(family)) {
      QSKIP("the family is not installed");
    }
    TApplication::Instance()->SetLanguage(language);
    TMainWindow window(platform, port);
    if (language != kSourceLanguage) QVERIFY(window.Form().Read_btn->text() != "Read settings");
    if (!family.isEmpty()) {
      QFont wider = window.font();
      wider.setFamily(family);
      window.setFont(wider);
    }
    for (const TCaption& caption : CaptionsOf(window)) {
      const QRect ink = InkOf(caption.Font, caption.Text, caption.Box, caption.Flags);
      QVERIFY2(QRect(QPoint(), caption.Box).contains(ink),
               qPrintable(QStringLiteral("%1 \"%2\" (%3 px): ink %4,%5 %6x%7 in a box of %8x%9")
                              .arg(caption.Name, caption.Text)
                              .arg(caption.Font.pixelSize())
                              .arg(ink.x())
                              .arg(ink.y())
                              .arg(ink.width())
                              .arg(ink.height())
                              .arg(caption.Box.width())
                              .arg(caption.Box.height())));
    }
  }
};

int main(int argc, char** argv) {
  TApplication app(argc, argv);
  LanguageTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "language_test.moc"
