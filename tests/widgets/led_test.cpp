#include "widgets/led.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

#include <vector>

#include "tests/widgets/timer_support.h"

using glowstep::ELEDError;
using glowstep::TLED;
using glowstep::testing::HasRunningTimer;
using glowstep::testing::TTimerTicks;

namespace {

// The LED picture as drawn (K black, D dark grey, G the colour shown, H white) and, right of
// it, its mask (H where the background shows).
constexpr const char* kRows[17] = {
    "KKKKKKKKKKKKKKKKK HHHHHHHHHHHHHHHHH",  //
    "KKKKKKKKKKKKKKKKK HHHHHHHHHHHHHHHHH",  //
    "KKKKKKDDDDDKKKKKK HHHHHHKKKKKHHHHHH",  //
    "KKKKDDGGGGGDDKKKK HHHHKKKKKKKKKHHHH",  //
    "KKKDGGGGGGGGGDKKK HHHKKKKKKKKKKKHHH",  //
    "KKKDGGHHHGGGGDKKK HHHKKKKKKKKKKKHHH",  //
    "KKDGGHHHGGGGGGDKK HHKKKKKKKKKKKKKHH",  //
    "KKDGGHHGGGGGGGDKK HHKKKKKKKKKKKKKHH",  //
    "KKDGGHGGGGGGGGDKK HHKKKKKKKKKKKKKHH",  //
    "KKDGGGGGGGGGGGDKK HHKKKKKKKKKKKKKHH",  //
    "KKDGGGGGGGGGGGDKK HHKKKKKKKKKKKKKHH",  //
    "KKKDGGGGGGGGGDKKK HHHKKKKKKKKKKKHHH",  //
    "KKKDGGGGGGGGGDKKK HHHKKKKKKKKKKKHHH",  //
    "KKKKDDGGGGGDDKKKK HHHHKKKKKKKKKHHHH",  //
    "KKKKKKDDDDDDKKKKK HHHHHHKKKKKKHHHHH",  //
    "KKKKKKKKKKKKKKKKK HHHHHHHHHHHHHHHHH",  //
    "KKKKKKKKKKKKKKKKK HHHHHHHHHHHHHHHHH",  //
};

const QColor kBackground(30, 90, 160);

// A coloured host with one LED at (20, 20) of the given size.
struct Host {
  QWidget Widget;
  TLED* Led;
  explicit Host(QSize size) : Led(new TLED(&Widget)) {
    Widget.resize(60, 60);
    Widget.setAutoFillBackground(true);
    QPalette palette = Widget.palette();
    palette.setColor(QPalette::Window, kBackground);
    Widget.setPalette(palette);
    Led->setGeometry(QRect(QPoint(20, 20), size));
  }
  // The host as it should look: the picture at the LED's corner + offset, clipped to the LED,
  // its disc in `disc`, the background wherever the mask is white.
  QImage Expected(QPoint offset, const QColor& disc) const {
    QImage image(Widget.size(), QImage::Format_RGB32);
    image.fill(kBackground);
    const QRect led = Led->geometry();
    for (int y = 0; y < 17; ++y) {
      for (int x = 0; x < 17; ++x) {
        const QPoint at = led.topLeft() + offset + QPoint(x, y);
        if (!led.contains(at) || kRows[y][18 + x] == 'H') continue;
        const char letter = kRows[y][x];
        image.setPixelColor(at, letter == 'K'   ? QColor(0, 0, 0)
                                : letter == 'D' ? QColor(128, 128, 128)
                                : letter == 'H' ? QColor(255, 255, 255)
                                                : disc);
      }
    }
    return image;
  }
};

// Refuses every timer, as a platform without timers left would.
class TTimerlessLED : public TLED {
 protected:
  int StartBlinkTimer(int) override { return 0; }
};

}  // namespace

class LedTest : public QObject {
  Q_OBJECT

 private slots:
  void pixels_data() {
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("status");
    QTest::addColumn<QColor>("colorOn");
    QTest::addColumn<QPoint>("offset");
    QTest::addColumn<QColor>("disc");
    const QColor none, green(0, 255, 0);
    QTest::addRow("new LED is green") << QSize(17, 17) << true << none << QPoint() << green;
    QTest::addRow("off is red") << QSize(17, 17) << false << none << QPoint() << QColor(Qt::red);
    QTest::addRow("own on colour")
        << QSize(17, 17) << true << QColor(250, 200, 10) << QPoint() << QColor(250, 200, 10);
    QTest::addRow("black disc") << QSize(17, 17) << true << QColor(Qt::black) << QPoint()
                                << QColor(Qt::black);
    QTest::addRow("25 x 25") << QSize(25, 25) << true << none << QPoint(4, 4) << green;
    QTest::addRow("10 x 10 clipped") << QSize(10, 10) << true << none << QPoint(-3, -3) << green;
    QTest::addRow("16 x 18 truncates") << QSize(16, 18) << true << none << QPoint() << green;
  }
  void pixels() {
    QFETCH(QSize, size);
    QFETCH(bool, status);
    QFETCH(QColor, colorOn);
    QFETCH(QPoint, offset);
    QFETCH(QColor, disc);
    Host host(size);
    if (colorOn.isValid()) host.Led->SetColorOn(colorOn);
    host.Led->SetStatus(status);
    QCOMPARE(host.Widget.grab().toImage().convertToFormat(QImage::Format_RGB32),
             host.Expected(offset, disc));
  }

  void translucentWindowKeepsItsAlpha() {
    QWidget window;
    window.setAttribute(Qt::WA_TranslucentBackground);
    TLED led(&window);
    QImage image(17, 17, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    led.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
    QCOMPARE(image.pixel(8, 10), qRgb(0, 255, 0));
    QCOMPARE(image.pixel(8, 2), qRgb(128, 128, 128));
  }

  void statusAndColours() {
    TLED led;
    QSignalSpy changes(&led, &TLED::OnChange);
    led.SetStatus(true);
    QCOMPARE(changes.count(), 0);

    // A new off colour while on changes nothing; the picture is not even rebuilt.
    const qint64 picture = led.LedImage().cacheKey();
    led.SetColorOff(QColor(0, 0, 255));
    QCOMPARE(led.LedImage().cacheKey(), picture);
    QCOMPARE(led.Color(), QColor(0, 255, 0));

    led.SetStatus(false);
    QCOMPARE(changes.count(), 1);
    QCOMPARE(changes.at(0).at(0).value<QObject*>(), &led);
    QCOMPARE(led.Color(), QColor(0, 0, 255));
    QCOMPARE(led.LedImage().pixel(8, 10), qRgb(0, 0, 255));
  }

  void blinks() {
    TLED led;
    std::vector<bool> seen;
    connect(&led, &TLED::OnChange, &led, [&] { seen.push_back(led.Status()); });
    led.SetInterval(30);
    led.SetActive(true);
    QTRY_VERIFY(seen.size() >= 4);
    for (std::size_t i = 0; i < 4; ++i) QCOMPARE(seen[i], i % 2 == 1);

    // Stopped by Active, and by an interval of 0 while active: no timer is left to blink it.
    led.SetActive(false);
    const std::size_t stopped = seen.size();
    QVERIFY(!HasRunningTimer(&led));
    led.SetInterval(0);
    led.SetActive(true);
    QVERIFY(!HasRunningTimer(&led));
    QCOMPARE(seen.size(), stopped);
  }

  void noBlinkingWhileMinimised() {
    QWidget window;
    TLED* led = new TLED(&window);
    window.show();
    window.showMinimized();
    QSignalSpy changes(led, &TLED::OnChange);
    TTimerTicks ticks(led);
    led->SetInterval(20);
    led->SetActive(true);
    QTRY_VERIFY(ticks.Count() >= 3);  // the timer runs on, and its ticks change nothing
    QCOMPARE(changes.count(), 0);
    QVERIFY(led->Status());

    window.showNormal();
    QTRY_VERIFY(changes.count() >= 2);
  }

  void refusedTimerRaises() {
    TTimerlessLED led;
    led.SetInterval(0);
    led.SetActive(true);  // no timer is needed without an interval
    try {
      led.SetInterval(500);
      QFAIL("no error");
    } catch (const ELEDError& error) {
      QCOMPARE(QString(error.what()), QString("Not enough timers available"));
    }
    QVERIFY_THROWS_EXCEPTION(ELEDError, led.SetInterval(600));
  }

  void autoSizeKeepsThePictureSize() {
    TLED led;
    led.SetAutoSize(true);
    led.resize(40, 30);
    QCOMPARE(led.size(), QSize(17, 17));
    led.SetAutoSize(false);
    led.resize(40, 30);
    QCOMPARE(led.size(), QSize(40, 30));
  }
};

QTEST_MAIN(LedTest)
#include "led_test.moc"
