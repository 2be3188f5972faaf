// The window on the screen this test is given (the offscreen platform's configuration, see
// CMakeLists.txt): it opens wholly within the screen's free area, at its designed place and size
// where they fit, and the read and write buttons and the LED can be brought into view there, by
// the keyboard too.
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include "app/application.h"
#include "app/main_window.h"
#include "app/qt_main_thread_port.h"
#include "hid/platform/sim/sim_platform.h"
#include "ui_main_window.h"
#include "widgets/led.h"
#include "widgets/spin_edit.h"

using namespace glowstep;

class SmallScreenTest : public QObject {
  Q_OBJECT

 private slots:
  void everyControlCanBeReachedWithinTheScreen() {
    TSimPlatform platform;
    TQtMainThreadPort port([](std::exception_ptr) {});
    TMainWindow window(platform, port);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QRect available = window.screen()->availableGeometry();
    qInfo("screen %dx%d at %g, window %dx%d at %d,%d", available.width(), available.height(),
          window.screen()->devicePixelRatio(), window.frameGeometry().width(),
          window.frameGeometry().height(), window.frameGeometry().x(), window.frameGeometry().y());
    QVERIFY(available.contains(window.frameGeometry()));

    Ui::TMainWindow& form = window.Form();
    const bool roomy = available.height() >= TMainWindow::kOuterSize.height() &&
                       available.width() >= TMainWindow::kOuterSize.width();
    QCOMPARE(window.ScrollArea() == nullptr, roomy);
    if (roomy) {
      QCOMPARE(window.frameGeometry().size(), TMainWindow::kOuterSize);
      return;
    }
    // Up and down only: the window is wide enough for the controls and a scroll bar.
    QVERIFY(!window.ScrollArea()->horizontalScrollBar()->isVisible());
    for (QWidget* control :
         std::initializer_list<QWidget*>{form.Read_btn, form.Write_btn, form.Device_status_LED}) {
      window.ScrollArea()->verticalScrollBar()->setValue(0);
      window.ScrollArea()->ensureWidgetVisible(control);
      QCOMPARE(control->visibleRegion(), QRegion(control->rect()));
      QVERIFY(available.contains(QRect(control->mapToGlobal(QPoint()), control->size())));
    }
    // Tabbing to a button below the fold scrolls it into view.
    window.ScrollArea()->verticalScrollBar()->setValue(0);
    QApplication::setActiveWindow(&window);
    form.Sensor_time->setFocus();
    QTest::keyClick(form.Sensor_time, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), form.Read_btn);
    QCOMPARE(form.Read_btn->visibleRegion(), QRegion(form.Read_btn->rect()));
  }
};

int main(int argc, char** argv) {
  TApplication app(argc, argv);
  SmallScreenTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "small_screen_test.moc"
