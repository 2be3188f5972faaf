#include "widgets/slider.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include <climits>
#include <set>
#include <vector>

#include "tests/widgets/timer_support.h"

using glowstep::ESliderError;
using glowstep::TSlider;
using glowstep::testing::HasRunningTimer;
using glowstep::testing::TTimerTicks;

namespace {

// A shown slider, so that it is laid out for its size as on screen.
struct Shown {
  TSlider Slider;
  explicit Shown(QSize size = {150, 40}, int max = 100, int increment = 10, int value = 0) {
    Slider.resize(size);
    Slider.SetMaxValue(max);
    Slider.SetIncrement(increment);
    Slider.SetValue(value);
    Slider.show();
    QApplication::sendPostedEvents();
  }
};

void Mouse(QWidget& widget, QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
  const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
  QMouseEvent event(type, at, widget.mapToGlobal(at), button, buttons, Qt::NoModifier);
  QApplication::sendEvent(&widget, &event);
}

// The x of every tick pixel in one row of the points band (ticks are WindowText on the
// background).
std::vector<int> TickColumns(TSlider& slider, int y) {
  const QImage shot = slider.grab().toImage();
  const QRgb tick = slider.palette().color(QPalette::WindowText).rgb();
  std::vector<int> columns;
  for (int x = 0; x < shot.width(); ++x) {
    if (shot.pixel(x, y) == tick) columns.push_back(x);
  }
  return columns;
}

// The message of the ESliderError the action throws; empty when it throws none.
template <typename Action>
QString ErrorOf(Action action) {
  try {
    action();
  } catch (const ESliderError& error) {
    return error.what();
  }
  return {};
}

// A ruler picture whose columns can be told apart: column c has red 20 * c.
QPixmap NumberedRuler() {
  QImage image(10, 8, QImage::Format_RGB32);
  for (int x = 0; x < 10; ++x) {
    for (int y = 0; y < 8; ++y) image.setPixel(x, y, qRgb(20 * x, 0, 40));
  }
  return QPixmap::fromImage(image);
}

struct TLayoutCase {
  QSize Size;
  int Bevel = 0;
  bool Vertical = false;
  QSize Ruler;
  QRect Thumb;
  QPoint Origin;
  int Band = 0;
  int Length = 0;
};

struct TKeyCase {
  int Min = 0, Start = 0;
  bool Vertical = false;
  int Key = 0;
  Qt::KeyboardModifiers Modifiers;
  int Expected = 0;
  bool Handled = false;
};

}  // namespace

Q_DECLARE_METATYPE(TLayoutCase)
Q_DECLARE_METATYPE(TKeyCase)

class SliderTest : public QObject {
  Q_OBJECT

 private slots:
  void layout_data() {
    QTest::addColumn<TLayoutCase>("c");
    const auto row = [](const char* name, TLayoutCase c) { QTest::newRow(name) << c; };
    row("353 x 40", {{353, 40}, 0, false, {341, 8}, {6, 6, 9, 17}, {6, 10}, 24, 332});
    row("default", {{150, 40}, 0, false, {138, 8}, {6, 6, 9, 17}, {6, 10}, 24, 129});
    row("lowered bevel", {{353, 40}, 1, false, {339, 8}, {7, 7, 9, 17}, {7, 11}, 25, 330});
    // Vertical: MinValue sits at the bottom; the band is the left edge of the tick points.
    row("vertical", {{40, 150}, 0, true, {8, 138}, {6, 135, 19, 9}, {11, 6}, 26, 129});
  }
  void layout() {
    QFETCH(TLayoutCase, c);
    TSlider slider;
    if (c.Vertical) slider.SetOrientation(TSlider::soVertical);
    slider.SetBevelStyle(TSlider::TBevelCut(c.Bevel));
    slider.resize(c.Size);
    slider.show();
    QCOMPARE(slider.RulerBitmap().size(), c.Ruler);
    QCOMPARE(slider.ThumbBounds(), c.Thumb);
    QCOMPARE(slider.RulerOrigin(), c.Origin);
    QCOMPARE(c.Vertical ? slider.PointsBand().left() : slider.PointsBand().top(), c.Band);
    QCOMPARE(slider.RulerLength(), c.Length);
  }

  void rulerKeepsItsEndsWhole_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("edge");
    QTest::addColumn<QString>("columns");
    QTest::addRow("even fit") << 40 << 2 << "0123456723456723456723456789";
    QTest::addRow("remainder 3") << 43 << 2 << "0123456723456723456723456756789";
    QTest::addRow("edge 4") << 32 << 4 << "01234545454545456789";
    QTest::addRow("edge 0") << 37 << 0 << "0123456789012345678956789";
  }
  void rulerKeepsItsEndsWhole() {
    QFETCH(int, width);
    QFETCH(int, edge);
    QFETCH(QString, columns);
    Shown shown({width, 40});
    shown.Slider.SetImageHRuler(NumberedRuler());
    shown.Slider.SetEdgeSize(edge);
    const QImage ruler = shown.Slider.RulerBitmap();
    QString seen;
    for (int x = 0; x < ruler.width(); ++x) seen += QString::number(qRed(ruler.pixel(x, 3)) / 20);
    QCOMPARE(seen, columns);
  }

  void edgeSizeRules() {
    TSlider slider;
    slider.SetEdgeSize(4);
    QCOMPARE(slider.EdgeSize(), 4);
    slider.SetEdgeSize(5);  // twice 5 is not below the ruler's 10 pixels
    slider.SetEdgeSize(-1);
    QCOMPARE(slider.EdgeSize(), 4);
    // Twice these does not fit an int; they are far too large all the same.
    for (int huge : {1 << 30, INT_MAX, INT_MIN}) {
      slider.SetEdgeSize(huge);
      QCOMPARE(slider.EdgeSize(), 4);
    }
    // A narrower ruler given later still leaves a middle part to repeat.
    slider.SetImageHRuler(QPixmap(4, 8));
    QCOMPARE(slider.RulerBitmap().width(), 138);
  }

  void ticks_data() {
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("min");
    QTest::addColumn<int>("max");
    QTest::addColumn<int>("increment");
    QTest::addColumn<std::vector<int>>("expected");
    QTest::addRow("default") << QSize(150, 40) << 0 << 100 << 10
                             << std::vector<int>{10, 23, 36, 49, 62, 74, 87, 100, 113, 126, 139};
    // Step 1 on 0..100 would put ticks 1.29 pixels apart: widened to 4 (5.16 pixels).
    QTest::addRow("widened step") << QSize(150, 40) << 0 << 100 << 1
                                  << std::vector<int>{10,  15,  20,  25,  31,  36,  41,  46, 51,
                                                      56,  62,  67,  72,  77,  82,  87,  93, 98,
                                                      103, 108, 113, 118, 124, 129, 134, 139};
    // The last tick sits at MaxValue even when the range is no multiple of the step.
    QTest::addRow("uneven range") << QSize(150, 40) << 0 << 10 << 3
                                  << std::vector<int>{10, 49, 87, 139};
    QTest::addRow("widest range") << QSize(150, 40) << INT_MIN << INT_MAX << 1
                                  << std::vector<int>{};
  }
  void ticks() {
    QFETCH(QSize, size);
    QFETCH(int, min);
    QFETCH(int, max);
    QFETCH(int, increment);
    QFETCH(std::vector<int>, expected);
    Shown shown(size);
    shown.Slider.SetMinValue(min);
    shown.Slider.SetMaxValue(max);
    shown.Slider.SetIncrement(increment);
    const std::vector<int> ticks = TickColumns(shown.Slider, 24);
    if (!expected.empty()) {
      QCOMPARE(ticks, expected);
      return;
    }
    // The widest range: the step is widened about 132 million times, to 33 ticks (129 div 32
    // is the first spacing of at least 4), from one end to the other.
    QCOMPARE(ticks.size(), std::size_t{33});
    QCOMPARE(ticks.front(), 10);
    QCOMPARE(ticks.back(), 139);
  }

  void thePhotoLevel() {
    Shown shown({353, 40}, 1000, 20, 100);
    QCOMPARE(shown.Slider.ThumbBounds().left(), 39);
    const std::vector<int> ticks = TickColumns(shown.Slider, 24);
    QCOMPARE(ticks.size(), std::size_t{51});
    QCOMPARE(ticks.front(), 10);
    QCOMPARE(ticks.back(), 342);
    // End ticks are 5 pixels long, the others 3.
    QCOMPARE(TickColumns(shown.Slider, 28), (std::vector<int>{10, 342}));
    QCOMPARE(TickColumns(shown.Slider, 29), std::vector<int>{});
    QCOMPARE(TickColumns(shown.Slider, 26).size(), std::size_t{51});
    QCOMPARE(TickColumns(shown.Slider, 27).size(), std::size_t{2});
  }

  void ownTickPoints() {
    Shown shown;
    int calls = 0;
    connect(&shown.Slider, &TSlider::OnDrawPoints, &shown.Slider, [&](QObject* sender) {
      ++calls;
      static_cast<TSlider*>(sender)->DrawPointsDefault(50, 2, 2);
    });
    QCOMPARE(TickColumns(shown.Slider, 24), (std::vector<int>{10, 74, 139}));
    QCOMPARE(TickColumns(shown.Slider, 26), std::vector<int>{});
    QVERIFY(calls > 0);
  }

  void drag_data() {
    QTest::addColumn<bool>("smooth");
    QTest::addColumn<int>("value");
    QTest::addRow("smooth") << true << 99;
    QTest::addRow("snapping") << false << 100;
  }
  void drag() {
    QFETCH(bool, smooth);
    QFETCH(int, value);
    Shown shown({353, 40}, 1000, 20, 0);
    TSlider& slider = shown.Slider;
    if (!smooth) slider.SetOptions(slider.Options() & ~TSlider::soSmooth);
    QSignalSpy changes(&slider, &TSlider::OnChange);
    QSignalSpy done(&slider, &TSlider::OnChanged);
    Mouse(slider, QEvent::MouseButtonPress, {8, 14}, Qt::LeftButton);
    QVERIFY(slider.ThumbPressed());
    Mouse(slider, QEvent::MouseMove, {41, 14}, Qt::LeftButton);  // left edge at 39
    QCOMPARE(slider.Value(), value);
    QCOMPARE(changes.count(), 1);
    QCOMPARE(done.count(), 0);
    // A copy of the control shows the thumb at its value and not pressed; the screen pressed.
    QImage copy(slider.size(), QImage::Format_RGB32);
    QPainter painter(&copy);
    slider.PaintCopy(painter);
    painter.end();
    QCOMPARE(copy.pixel(41, 8), qRgb(192, 192, 192));
    QCOMPARE(slider.grab().toImage().pixel(41, 8), qRgb(255, 255, 255));
    Mouse(slider, QEvent::MouseButtonRelease, {41, 14}, Qt::NoButton);
    QVERIFY(!slider.ThumbPressed());
    QCOMPARE(done.count(), 1);
  }

  void dragSnapsFromMinValue() {
    Shown shown({150, 40}, 105, 10, 0);
    TSlider& slider = shown.Slider;
    slider.SetMinValue(5);
    slider.SetOptions(slider.Options() & ~TSlider::soSmooth);
    std::set<int> values;
    Mouse(slider, QEvent::MouseButtonPress, {6, 14}, Qt::LeftButton);
    for (int x = 0; x < 150; ++x) {
      Mouse(slider, QEvent::MouseMove, {x, 14}, Qt::LeftButton);
      values.insert(slider.Value());
    }
    Mouse(slider, QEvent::MouseButtonRelease, {149, 14}, Qt::NoButton);
    QCOMPARE(values, (std::set<int>{5, 15, 25, 35, 45, 55, 65, 75, 85, 95, 105}));
  }

  void keys_data() {
    QTest::addColumn<TKeyCase>("c");
    const auto row = [](const char* name, TKeyCase c) { QTest::newRow(name) << c; };
    const Qt::KeyboardModifiers none, shift = Qt::ShiftModifier;
    row("right from 15", {0, 15, false, Qt::Key_Right, none, 30, true});
    row("right from 25", {0, 25, false, Qt::Key_Right, none, 30, true});
    row("left from 25", {0, 25, false, Qt::Key_Left, none, 10, true});
    row("right from min 5", {5, 5, false, Qt::Key_Right, none, 10, true});
    row("right at maximum", {0, 100, false, Qt::Key_Right, none, 100, true});
    row("home", {0, 50, false, Qt::Key_Home, none, 0, true});
    row("end", {0, 50, true, Qt::Key_End, none, 100, true});
    row("up when vertical", {0, 50, true, Qt::Key_Up, none, 60, true});
    row("down when vertical", {0, 50, true, Qt::Key_Down, none, 40, true});
    row("up when horizontal", {0, 50, false, Qt::Key_Up, none, 60, true});
    row("down when horizontal", {0, 50, false, Qt::Key_Down, none, 40, true});
    row("right when vertical", {0, 50, true, Qt::Key_Right, none, 50, false});
    row("page up: a tenth of the range", {-900, -500, false, Qt::Key_PageUp, none, -400, true});
    row("page down", {-900, -500, true, Qt::Key_PageDown, none, -600, true});
    row("page up near the end", {0, 50, false, Qt::Key_PageUp, none, 60, true});
    row("shift right", {0, 50, false, Qt::Key_Right, shift, 50, false});
  }
  void keys() {
    QFETCH(TKeyCase, c);
    TSlider slider;
    if (c.Vertical) slider.SetOrientation(TSlider::soVertical);
    slider.SetMinValue(c.Min);
    slider.SetValue(c.Start);
    QSignalSpy changes(&slider, &TSlider::OnChange);
    QSignalSpy done(&slider, &TSlider::OnChanged);
    QKeyEvent event(QEvent::KeyPress, c.Key, c.Modifiers);
    QApplication::sendEvent(&slider, &event);
    QCOMPARE(slider.Value(), c.Expected);
    QCOMPARE(changes.count(), c.Expected == c.Start ? 0 : 1);
    // Every handled key ends a gesture, even one that cannot move the value.
    QCOMPARE(done.count(), c.Handled ? 1 : 0);
    QCOMPARE(event.isAccepted(), c.Handled);
  }

  void clickAndHoldSteps() {
    Shown shown;
    TSlider& slider = shown.Slider;
    QSignalSpy done(&slider, &TSlider::OnChanged);
    QElapsedTimer clock;
    std::vector<qint64> steps;
    connect(&slider, &TSlider::OnChange, this, [&] { steps.push_back(clock.elapsed()); });
    // Pressed at x 40, right of the thumb: one step at once, one after 400 ms, and then none,
    // as the thumb (32..41 at 20) has reached the pointer. A timing rule, measured: timers may
    // fire a little early and, on a busy machine, late, so the bounds only tell 400 ms from the
    // neighbouring mistakes (no pause, a pause of twice that).
    TTimerTicks ticks(&slider);
    clock.start();
    Mouse(slider, QEvent::MouseButtonPress, {40, 14}, Qt::LeftButton);
    QCOMPARE(slider.Value(), 10);
    QTRY_COMPARE(slider.Value(), 20);
    QCOMPARE(steps.size(), std::size_t{2});
    const qint64 pause = steps[1] - steps[0];
    QVERIFY2(pause >= 370 && pause <= 790, qPrintable(QString::number(pause)));
    // The timer runs on until the release; its next ticks step no more.
    QVERIFY(HasRunningTimer(&slider));
    const int stepped = ticks.Count();
    QTRY_VERIFY_WITH_TIMEOUT(ticks.Count() >= stepped + 2, 10000);
    QCOMPARE(slider.Value(), 20);
    QCOMPARE(done.count(), 0);
    Mouse(slider, QEvent::MouseButtonRelease, {40, 14}, Qt::NoButton);
    QCOMPARE(done.count(), 1);
    // Outside the widened ruler nothing steps.
    Mouse(slider, QEvent::MouseButtonPress, {100, 30}, Qt::LeftButton);
    Mouse(slider, QEvent::MouseButtonRelease, {100, 30}, Qt::NoButton);
    QCOMPARE(slider.Value(), 20);
  }

  // Held further away, the steps go on every 400 ms until the thumb reaches the pointer.
  void clickAndHoldRepeatsEvery400Ms() {
    Shown shown;
    TSlider& slider = shown.Slider;
    QElapsedTimer clock;
    std::vector<qint64> steps;
    connect(&slider, &TSlider::OnChange, this, [&] { steps.push_back(clock.elapsed()); });
    clock.start();
    Mouse(slider, QEvent::MouseButtonPress, {140, 14}, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(slider.Value(), 40, 10000);
    Mouse(slider, QEvent::MouseButtonRelease, {140, 14}, Qt::NoButton);
    QCOMPARE(steps.size(), std::size_t{4});
    // Measured as above, with the same tolerance for a busy machine.
    const double pause = static_cast<double>(steps[3] - steps[0]) / 3;
    QVERIFY2(pause >= 370 && pause <= 790, qPrintable(QString::number(pause)));
  }

  // Disabling the slider ends a drag and a click-and-hold: enabled again, a click on the ruler
  // only steps.
  void disablingEndsTheGesture() {
    Shown shown({353, 40}, 1000, 20, 0);
    TSlider& slider = shown.Slider;
    QSignalSpy done(&slider, &TSlider::OnChanged);
    Mouse(slider, QEvent::MouseButtonPress, {8, 14}, Qt::LeftButton);
    Mouse(slider, QEvent::MouseMove, {41, 14}, Qt::LeftButton);
    QCOMPARE(slider.Value(), 99);
    slider.setEnabled(false);
    QVERIFY(!slider.ThumbPressed());
    QCOMPARE(done.count(), 1);
    slider.setEnabled(true);
    Mouse(slider, QEvent::MouseButtonPress, {200, 14}, Qt::LeftButton);
    QCOMPARE(slider.Value(), 120);
    Mouse(slider, QEvent::MouseMove, {300, 14}, Qt::LeftButton);
    QCOMPARE(slider.Value(), 120);
    // A click-and-hold ends the same way: no more steps, and none after enabling again.
    slider.setEnabled(false);
    QCOMPARE(done.count(), 2);
    slider.setEnabled(true);
    QVERIFY(!HasRunningTimer(&slider));  // nothing is left to step
    QCOMPARE(slider.Value(), 120);
  }

  // Disabled, the slider shows its ticks and bevel as when enabled; only the thumb changes.
  void disabledSliderKeepsItsTicksAndBevel() {
    Shown shown({353, 40}, 1000, 20, 100);
    TSlider& slider = shown.Slider;
    slider.SetBevelStyle(TSlider::bvLowered);
    const QImage enabled = slider.grab().toImage();
    slider.setEnabled(false);
    const QImage disabled = slider.grab().toImage();
    const QPalette& palette = slider.palette();
    QCOMPARE(disabled.pixel(0, 0), palette.color(QPalette::Active, QPalette::Dark).rgb());
    QCOMPARE(disabled.pixel(352, 0), palette.color(QPalette::Active, QPalette::Light).rgb());
    const int band = slider.PointsBand().top();
    QCOMPARE(disabled.pixel(11, band), palette.color(QPalette::Active, QPalette::WindowText).rgb());
    for (int y = 0; y < enabled.height(); ++y) {
      for (int x = 0; x < enabled.width(); ++x) {
        if (slider.ThumbBounds().contains(x, y)) continue;
        QCOMPARE(disabled.pixel(x, y), enabled.pixel(x, y));
      }
    }
  }

  // The focus frame shows exactly while the slider has the focus, also when the focus moved
  // while its window was in the background.
  void focusFrameFollowsTheFocusOfAnInactiveWindow() {
    QWidget window;
    window.resize(200, 100);
    auto* slider = new TSlider(&window);
    auto* other = new QLineEdit(&window);
    other->move(0, 60);
    QWidget elsewhere;
    window.show();
    elsewhere.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    slider->setFocus(Qt::TabFocusReason);
    const QRgb background = slider->palette().color(QPalette::Window).rgb();
    QCOMPARE(slider->grab().toImage().pixel(2, 2), background ^ 0x00FFFFFFu);
    QApplication::setActiveWindow(&elsewhere);
    QTRY_VERIFY(!window.isActiveWindow());
    QCOMPARE(slider->grab().toImage().pixel(2, 2), background ^ 0x00FFFFFFu);
    slider->setEnabled(false);  // the controller went away while the window was behind
    QCOMPARE(window.focusWidget(), other);
    QCOMPARE(slider->grab().toImage().pixel(2, 2), background);
    slider->setEnabled(true);
    QApplication::setActiveWindow(&window);
    QTRY_VERIFY(other->hasFocus());
    QCOMPARE(slider->grab().toImage().pixel(2, 2), background);
  }

  // Other mouse buttons neither focus the slider nor reach its parent; a left press focuses.
  void onlyTheLeftButtonFocuses() {
    struct TParent : QWidget {
      int Presses = 0;
      void mousePressEvent(QMouseEvent* event) override {
        ++Presses;
        QWidget::mousePressEvent(event);
      }
    } window;
    window.resize(200, 100);
    auto* slider = new TSlider(&window);
    auto* other = new QLineEdit(&window);
    other->move(0, 60);
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    other->setFocus(Qt::TabFocusReason);
    for (Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton}) {
      QTest::mousePress(slider, button, {}, QPoint(100, 30));
      QTest::mouseRelease(slider, button, {}, QPoint(100, 30));
    }
    QVERIFY(other->hasFocus());
    QCOMPARE(window.Presses, 0);
    QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(100, 30));
    QVERIFY(slider->hasFocus());
    QCOMPARE(window.Presses, 0);
  }

  void rangeAndIncrementRules() {
    TSlider slider;
    slider.SetIncrement(50);
    slider.SetMaxValue(30);
    QCOMPARE(slider.Increment(), 30);
    slider.SetMinValue(30);  // would leave no range
    QCOMPARE(slider.MinValue(), 0);
    const QString message = "Value must be between 1 and 30";
    QCOMPARE(ErrorOf([&] { slider.SetIncrement(0); }), message);
    QCOMPARE(ErrorOf([&] { slider.SetIncrement(31); }), message);
    QCOMPARE(slider.Increment(), 30);
    // The widest range does not overflow in the check or the message.
    slider.SetRange(INT_MIN, INT_MAX);
    QCOMPARE(ErrorOf([&] { slider.SetIncrement(0); }), "Value must be between 1 and 4294967295");
    slider.SetIncrement(INT_MAX);
    slider.SetValue(INT_MAX - 5);
    slider.JumpBy(TSlider::jkNext);
    QCOMPARE(slider.Value(), INT_MAX);
  }

  void loadingRelaxesTheChecks() {
    TSlider slider;
    slider.BeginLoad();
    slider.setProperty("MinValue", 500);
    slider.setProperty("Increment", 5000);
    slider.setProperty("Increment", 0);  // ignored, no error while loading
    slider.setProperty("MaxValue", 1000);
    // Enumerations and sets resolve by name, as a stored form gives them.
    QVERIFY(slider.setProperty("Orientation", "soVertical"));
    QVERIFY(slider.setProperty("Options", "soShowPoints|soSmooth"));
    QImage thumb(12, 20, QImage::Format_RGB32);
    thumb.fill(Qt::red);
    slider.setProperty("ImageVThumb", QPixmap::fromImage(thumb));
    slider.setProperty("UserImages", 0x4);
    slider.EndLoad();
    QCOMPARE(slider.MinValue(), 500);
    QCOMPARE(slider.Increment(), 5000);
    QCOMPARE(slider.Value(), 500);
    QCOMPARE(slider.size(), QSize(150, 40));  // loading keeps the stored size
    QCOMPARE(slider.ThumbBounds().size(), QSize(6, 20));
    QCOMPARE(slider.UserImages(), 0x4);
    QCOMPARE(slider.Options(), TSlider::soShowPoints | TSlider::soSmooth);
  }

  void brokenStoredRangeNeverCrashes() {
    Shown shown;
    TSlider& slider = shown.Slider;
    slider.BeginLoad();
    slider.SetMinValue(50);
    slider.SetMaxValue(10);
    slider.EndLoad();
    slider.grab();
    Mouse(slider, QEvent::MouseButtonPress, slider.ThumbBounds().center(), Qt::LeftButton);
    Mouse(slider, QEvent::MouseMove, {100, 14}, Qt::LeftButton);
    Mouse(slider, QEvent::MouseButtonRelease, {100, 14}, Qt::NoButton);
    QCOMPARE(slider.Value(), 50);
    QCOMPARE(slider.ThumbBounds().left(), 6);
  }

  void tinySlidersNeverCrash_data() {
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("vertical");
    for (int extent : {1, 12, 20, 21, 22, 30}) {
      QTest::addRow("horizontal %d", extent) << QSize(extent, 40) << false;
      QTest::addRow("vertical %d", extent) << QSize(40, extent) << true;
    }
  }
  void tinySlidersNeverCrash() {
    QFETCH(QSize, size);
    QFETCH(bool, vertical);
    TSlider slider;
    if (vertical) slider.SetOrientation(TSlider::soVertical);
    slider.resize(size);
    slider.show();
    slider.SetValue(50);
    slider.grab();
    const QPoint press = slider.ThumbBounds().topLeft() + QPoint(1, 1);
    Mouse(slider, QEvent::MouseButtonPress, press, Qt::LeftButton);
    Mouse(slider, QEvent::MouseMove, press + QPoint(3, -3), Qt::LeftButton);
    Mouse(slider, QEvent::MouseButtonRelease, press, Qt::NoButton);
    // Without travel a drag cannot choose a value; with some it snaps within the range.
    if (slider.RulerLength() <= 0) QCOMPARE(slider.Value(), 50);
    QVERIFY(slider.Value() >= 0 && slider.Value() <= 100);
    QVERIFY(slider.ThumbBounds().left() >= 6 && slider.ThumbBounds().top() >= 6);
  }

  void orientationSwapsTheSize() {
    TSlider slider;
    slider.show();
    slider.SetOrientation(TSlider::soVertical);
    QCOMPARE(slider.size(), QSize(40, 150));
    QCOMPARE(slider.RulerBitmap().size(), QSize(8, 138));
    slider.SetOrientation(TSlider::soHorizontal);
    QCOMPARE(slider.size(), QSize(150, 40));
    QCOMPARE(slider.RulerBitmap().size(), QSize(138, 8));
  }

  void userImages() {
    Shown shown;
    TSlider& slider = shown.Slider;
    QVERIFY(!slider.IsUserImagesStored());
    QImage thumb(20, 15, QImage::Format_RGB32);
    thumb.fill(Qt::blue);
    slider.setProperty("ImageHThumb", QPixmap::fromImage(thumb));
    slider.SetOptions(slider.Options() | TSlider::soThumbOpaque | TSlider::soRulerOpaque);
    QCOMPARE(slider.UserImages(), 1);
    QVERIFY(slider.IsImageStored(TSlider::ImageHThumbSlot));
    QCOMPARE(slider.ThumbBounds().size(), QSize(10, 15));

    slider.setProperty("ImageHThumb", QPixmap());  // none: the built-in picture again
    QCOMPARE(slider.UserImages(), 0);
    QVERIFY(!slider.IsUserImagesStored());
    QCOMPARE(slider.ThumbBounds().size(), QSize(9, 17));
    QCOMPARE(slider.Options() & TSlider::soThumbOpaque, TSlider::TSliderOptions());
    QVERIFY(slider.Options() & TSlider::soRulerOpaque);
  }

  void thumbPictures_data() {
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("opaque");
    QTest::addColumn<QRgb>("inside");
    QTest::addColumn<bool>("magentaCorner");
    QTest::addRow("normal") << true << false << qRgb(192, 192, 192) << false;
    QTest::addRow("disabled is dithered") << false << false << qRgb(255, 255, 255) << false;
    QTest::addRow("opaque thumb") << true << true << qRgb(192, 192, 192) << true;
  }
  void thumbPictures() {
    QFETCH(bool, enabled);
    QFETCH(bool, opaque);
    QFETCH(QRgb, inside);
    QFETCH(bool, magentaCorner);
    Shown shown;
    shown.Slider.setEnabled(enabled);
    if (opaque) shown.Slider.SetOptions(shown.Slider.Options() | TSlider::soThumbOpaque);
    const QImage shot = shown.Slider.grab().toImage();
    const QPoint at = shown.Slider.ThumbBounds().topLeft();
    QCOMPARE(shot.pixel(at + QPoint(2, 2)), inside);
    QCOMPARE(shot.pixel(at + QPoint(0, 16)) == qRgb(255, 0, 255), magentaCorner);
    // The ruler's magenta surroundings never show.
    QVERIFY(shot.pixel(shown.Slider.RulerOrigin() + QPoint(50, 0)) != qRgb(255, 0, 255));
  }

  void bevelAndFocusRectangle() {
    Shown shown;
    TSlider& slider = shown.Slider;
    slider.SetBevelStyle(TSlider::bvLowered);
    const QRgb background = slider.palette().color(QPalette::Window).rgb();
    QImage shot = slider.grab().toImage();
    QCOMPARE(shot.pixel(0, 0), slider.palette().color(QPalette::Dark).rgb());
    QCOMPARE(shot.pixel(149, 0), slider.palette().color(QPalette::Light).rgb());
    QCOMPARE(shot.pixel(0, 39), slider.palette().color(QPalette::Light).rgb());
    QCOMPARE(shot.pixel(3, 3), background);

    QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
    QApplication::sendEvent(&slider, &in);
    shot = slider.grab().toImage();
    QCOMPARE(shot.pixel(3, 3), background ^ 0x00FFFFFFu);  // inverted dot
    QCOMPARE(shot.pixel(4, 3), background);
    // Losing the window's activation keeps the rectangle; a real focus move removes it.
    QFocusEvent deactivated(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(&slider, &deactivated);
    QCOMPARE(slider.grab().toImage().pixel(3, 3), background ^ 0x00FFFFFFu);
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(&slider, &out);
    QCOMPARE(slider.grab().toImage().pixel(3, 3), background);
  }

  void arrowCursorOverTheThumb() {
    Shown shown;
    TSlider& slider = shown.Slider;
    slider.setCursor(Qt::PointingHandCursor);
    Mouse(slider, QEvent::MouseMove, slider.ThumbBounds().center(), Qt::NoButton);
    QVERIFY(QGuiApplication::overrideCursor());
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::ArrowCursor);
    QCOMPARE(slider.cursor().shape(), Qt::PointingHandCursor);
    Mouse(slider, QEvent::MouseMove, {100, 30}, Qt::NoButton);
    QVERIFY(!QGuiApplication::overrideCursor());
  }
};

QTEST_MAIN(SliderTest)
#include "slider_test.moc"
