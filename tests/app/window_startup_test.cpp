// What the window leaves out of its start-up, and what it settles once.
#include <QColorDialog>
#include <QColorSpace>
#include <QFontDatabase>
#include <QFontInfo>
#include <QIcon>
#include <QImage>
#include <QTest>

#include "app/application.h"
#include "app/main_window.h"
#include "app/qt_main_thread_port.h"
#include "hid/platform/sim/sim_platform.h"

using namespace glowstep;

class WindowStartupTest : public QObject {
  Q_OBJECT

 private slots:
  void theFontNamesAnInstalledFamilyWithCyrillicForWindowAndProgram() {
    TSimPlatform platform;
    TQtMainThreadPort port([](std::exception_ptr) {});
    TMainWindow window(platform, port);
    const QFont& font = window.font();
    QCOMPARE(font.pixelSize(), 11);
    // The family asked for is the one drawn: no fallback search at the first text.
    QCOMPARE(QFontInfo(font).family(), font.family());
    QVERIFY(QFontDatabase::families(QFontDatabase::Cyrillic).contains(font.family()));
    QCOMPARE(QApplication::font(), font);
    TMainWindow second(platform, port);
    QCOMPARE(second.font(), font);
  }

  void theColourDialogWaitsForTheFirstPick() {
    TSimPlatform platform;
    TQtMainThreadPort port([](std::exception_ptr) {});
    TMainWindow window(platform, port);
    QVERIFY(window.findChildren<QColorDialog*>().isEmpty());
    QColorDialog* dialog = &window.ColorDialog();
    QCOMPARE(&window.ColorDialog(), dialog);
    QCOMPARE(window.findChildren<QColorDialog*>(), QList<QColorDialog*>{dialog});
  }

  void theIconIsThePngsPixels() {
    QImage drawn = QImage(QStringLiteral(GLOWSTEP_MAIN_ICON_FILE))
                       .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QVERIFY(!drawn.isNull());
    drawn.setColorSpace(QColorSpace());  // the pixels are compared, not the file's colour space
    const QIcon icon = QApplication::windowIcon();
    QCOMPARE(icon.availableSizes(), QList<QSize>{drawn.size()});
    QCOMPARE(
        icon.pixmap(drawn.size()).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
        drawn);
  }
};

int main(int argc, char** argv) {
  TApplication app(argc, argv);
  WindowStartupTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "window_startup_test.moc"
