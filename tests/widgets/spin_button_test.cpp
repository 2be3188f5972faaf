#include "widgets/spin_button_cache.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>
#include <QTimer>

#include <memory>
#include <vector>

using glowstep::TSpinButton;
using glowstep::TSpinButtonBitmapsManager;
using Half = TSpinButton::THalf;

namespace {

// The classic look, one instance for the whole run; a widget does not own the style it is given.
QStyle* ClassicStyle() {
  static QPointer<QStyle> style;
  if (!style) {
    style = QStyleFactory::create(QStringLiteral("windows"));
    style->setParent(QCoreApplication::instance());
  }
  return style;
}

std::unique_ptr<TSpinButton> MakeButton(
    int width,
    int height,
    bool classicLook,
    TSpinButton::TSpinButtonStyle style = TSpinButton::sbsDefault) {
  auto button = std::make_unique<TSpinButton>();
  if (classicLook) button->setStyle(ClassicStyle());
  button->SetButtonStyle(style);
  button->resize(width, height);
  return button;
}

QImage Shot(TSpinButton& button) {
  return button.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QColor Role(const TSpinButton& button, QPalette::ColorRole role) {
  return button.palette().color(QPalette::Active, role);
}

}  // namespace

class SpinButtonTest : public QObject {
  Q_OBJECT

 private slots:
  void halves_data() {
    QTest::addColumn<int>("style");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<bool>("bottom");
    QTest::addRow("diagonal 17 (16,16)") << 0 << QSize(17, 17) << QPoint(16, 16) << true;
    QTest::addRow("diagonal 17 (8,8) on the line") << 0 << QSize(17, 17) << QPoint(8, 8) << false;
    QTest::addRow("diagonal 17 (0,0)") << 0 << QSize(17, 17) << QPoint(0, 0) << false;
    QTest::addRow("diagonal 17 (9,9)") << 0 << QSize(17, 17) << QPoint(9, 9) << true;
    QTest::addRow("classic 20 y=10") << 1 << QSize(20, 20) << QPoint(5, 10) << false;
    QTest::addRow("classic 20 y=11") << 1 << QSize(20, 20) << QPoint(5, 11) << true;
  }
  void halves() {
    QFETCH(int, style);
    QFETCH(QSize, size);
    QFETCH(QPoint, point);
    QFETCH(bool, bottom);
    auto button = MakeButton(size.width(), size.height(), false,
                             static_cast<TSpinButton::TSpinButtonStyle>(style));
    QCOMPARE(button->InBottomHalf(point.x(), point.y()), bottom);
    // A press at the point asks for the half's step.
    QSignalSpy top(button.get(), &TSpinButton::OnTopClick);
    QSignalSpy down(button.get(), &TSpinButton::OnBottomClick);
    QTest::mousePress(button.get(), Qt::LeftButton, {}, point);
    QCOMPARE(down.count(), bottom ? 1 : 0);
    QCOMPARE(top.count(), bottom ? 0 : 1);
    QTest::mouseRelease(button.get(), Qt::LeftButton, {}, point);
    QCOMPARE(button->PressedHalf(), Half::None);
  }

  // A held half sends its request at once, after the first pause and then at every repeat
  // pause; dragging to the other half suspends it without asking for the other step.
  void autoRepeatFollowsTheHeldHalf() {
    auto button = MakeButton(17, 17, false);
    button->SetInitRepeatPause(150);
    button->SetRepeatPause(20);
    button->show();
    QSignalSpy top(button.get(), &TSpinButton::OnTopClick);
    QSignalSpy down(button.get(), &TSpinButton::OnBottomClick);
    QElapsedTimer clock;
    std::vector<qint64> at;
    connect(button.get(), &TSpinButton::OnTopClick, this, [&] { at.push_back(clock.elapsed()); });
    clock.start();
    QTest::mousePress(button.get(), Qt::LeftButton, {}, QPoint(3, 3));
    QCOMPARE(top.count(), 1);
    QCOMPARE(button->PressedHalf(), Half::Top);
    QTRY_VERIFY(top.count() >= 4);
    // Not within the first pause: timers may fire a little early, and a busy machine only makes
    // them late.
    QVERIFY2(at[1] - at[0] >= 140, qPrintable(QString::number(at[1] - at[0])));

    // The repeat timer ticks on, and its ticks ask for nothing while no half is down.
    auto* repeat = button->findChild<QTimer*>();
    QVERIFY(repeat != nullptr);
    QSignalSpy ticks(repeat, &QTimer::timeout);  // counted after the button has handled them
    QTest::mouseMove(button.get(), QPoint(15, 15));
    QCOMPARE(button->PressedHalf(), Half::None);
    const auto held = top.count();
    QTRY_VERIFY(ticks.count() >= 2);
    QCOMPARE(top.count(), held);
    QCOMPARE(down.count(), 0);

    QTest::mouseMove(button.get(), QPoint(2, 2));
    QCOMPARE(button->PressedHalf(), Half::Top);
    QTRY_VERIFY(top.count() > held + 1);

    QTest::mouseMove(button.get(), QPoint(40, 40));  // off the button: both halves up
    QCOMPARE(button->PressedHalf(), Half::None);
    QVERIFY(button->CurrentImage() != glowstep::siTopPressed);
    QTest::mouseRelease(button.get(), Qt::LeftButton, {}, QPoint(40, 40));
    QVERIFY(!repeat->isActive());  // nothing is left to repeat
    QCOMPARE(down.count(), 0);
  }

  // With the default pauses: the second request 400 ms after the press, then one every 100 ms.
  // A timing rule, measured: timers may fire a little early and, on a busy machine, late, so
  // the bounds only tell each pause from the other one and from twice itself.
  void defaultRepeatPauses() {
    auto button = MakeButton(17, 17, false);
    QCOMPARE(button->InitRepeatPause(), 400);
    QCOMPARE(button->RepeatPause(), 100);
    button->show();
    QElapsedTimer clock;
    std::vector<qint64> at;
    connect(button.get(), &TSpinButton::OnTopClick, this, [&] { at.push_back(clock.elapsed()); });
    clock.start();
    QTest::mousePress(button.get(), Qt::LeftButton, {}, QPoint(3, 3));
    QCOMPARE(at.size(), std::size_t{1});  // at once
    QTRY_VERIFY_WITH_TIMEOUT(at.size() >= 12, 10000);
    QTest::mouseRelease(button.get(), Qt::LeftButton, {}, QPoint(3, 3));
    const qint64 first = at[1] - at[0];
    QVERIFY2(first >= 370 && first <= 790, qPrintable(QString::number(first)));
    const double repeat = static_cast<double>(at[11] - at[1]) / 10;
    QVERIFY2(repeat >= 90 && repeat <= 190, qPrintable(QString::number(repeat)));
  }

  // Buttons of one size in two looks each keep an image set of their own look.
  void everyLookHasItsOwnImageSet() {
    auto classic = MakeButton(17, 17, true);
    auto themed = MakeButton(17, 17, false);
    const QImage classicShot = Shot(*classic);
    const QImage themedShot = Shot(*themed);
    QVERIFY(classic->Bitmaps() != themed->Bitmaps());
    QVERIFY(!classic->Bitmaps()->Themed());
    QVERIFY(themed->Bitmaps()->Themed());
    QCOMPARE(TSpinButtonBitmapsManager::Instance()->SetCount(), 2u);
    // Painting one never redraws the other's images.
    QCOMPARE(Shot(*classic), classicShot);
    QCOMPARE(Shot(*themed), themedShot);
    // A button given another look takes that look's set.
    classic->setStyle(nullptr);
    Shot(*classic);
    QCOMPARE(classic->Bitmaps(), themed->Bitmaps());
    QCOMPARE(TSpinButtonBitmapsManager::Instance()->SetCount(), 1u);
  }

  void pressGivesTheFocusControlTheFocus() {
    QWidget window;
    auto* edit = new QWidget(&window);
    edit->setFocusPolicy(Qt::StrongFocus);
    auto* other = new QWidget(&window);
    other->setFocusPolicy(Qt::StrongFocus);
    auto* button = new TSpinButton(&window);
    button->move(50, 0);
    button->SetFocusControl(edit);
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    other->setFocus();
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(2, 2));
    QVERIFY(edit->hasFocus());
    delete edit;  // the reference goes with the control
    QCOMPARE(button->FocusControl(), nullptr);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(2, 2));
  }

  // The three lines along the diagonal and the glyphs sit on exact pixels.
  void classicDiagonalPixels() {
    auto button = MakeButton(17, 17, true);
    QVERIFY(!button->VisualStyles());
    const QImage released = Shot(*button);
    const QColor shadow = Role(*button, QPalette::Dark);
    const QColor dark = Role(*button, QPalette::Shadow);
    const QColor light = Role(*button, QPalette::Light);
    const QColor face = Role(*button, QPalette::Button);
    for (int i = 1; i <= 14; ++i) {
      QCOMPARE(released.pixel(i, 15 - i), QColor(shadow).rgb());     // (1,14) .. (14,1)
      QCOMPARE(released.pixel(16 - i, i), QColor(dark).rgb());       // (15,1) .. (2,14)
      QCOMPARE(released.pixel(i + 1, 16 - i), QColor(light).rgb());  // (2,15) .. (15,2)
    }
    // Raised soft edges: highlight outside top-left, dark shadow outside bottom-right.
    QCOMPARE(released.pixel(0, 0), QColor(light).rgb());
    QCOMPARE(released.pixel(16, 16), QColor(dark).rgb());
    QCOMPARE(released.pixel(16, 0), QColor(dark).rgb());
    // "SpinUP" at (2, 2): its top row is ..##..; "SpinDOWN" at (9, 9), bottom row ..##..
    QCOMPARE(released.pixel(4, 2), QColor(Qt::black).rgb());
    QCOMPARE(released.pixel(3, 2), QColor(face).rgb());
    QCOMPARE(released.pixel(11, 14), QColor(Qt::black).rgb());
    QCOMPARE(released.pixel(9, 12), QColor(Qt::black).rgb());  // the arrow head's widest row

    QTest::mousePress(button.get(), Qt::LeftButton, {}, QPoint(3, 3));
    const QImage topPressed = Shot(*button);
    QCOMPARE(topPressed.pixel(5, 3), QColor(Qt::black).rgb());  // glyph one pixel further
    QCOMPARE(topPressed.pixel(4, 2), face.rgb());
    QCOMPARE(topPressed.pixel(0, 0), dark.rgb());   // sunken top-left edge
    QCOMPARE(topPressed.pixel(9, 7), light.rgb());  // colour 2 is the highlight now
    QTest::mouseRelease(button.get(), Qt::LeftButton, {}, QPoint(3, 3));

    button->setEnabled(false);
    const QImage disabled = Shot(*button);
    QCOMPARE(disabled.pixel(4, 2), QColor(shadow).rgb());  // embossed: shadow in place,
    QCOMPARE(disabled.pixel(6, 5), QColor(light).rgb());   // highlight one pixel right and down
  }

  void classicSplitPixels() {
    auto button = MakeButton(15, 20, true, TSpinButton::sbsClassic);
    const QImage image = Shot(*button);
    const QColor dark = Role(*button, QPalette::Shadow);
    const QColor light = Role(*button, QPalette::Light);
    QCOMPARE(image.pixel(5, 10),
             QColor(dark).rgb());  // the taller top half's lower edge on the seam
    QCOMPARE(image.pixel(5, 11), QColor(Role(*button, QPalette::Midlight)).rgb());
    // "SpinUPPOLE" centred in the top half: its tip at (7, 3), its base row 7 wide at y = 6.
    QCOMPARE(image.pixel(7, 3), QColor(Qt::black).rgb());
    QCOMPARE(image.pixel(6, 3), QColor(Role(*button, QPalette::Button)).rgb());
    QCOMPARE(image.pixel(4, 6), QColor(Qt::black).rgb());
    QCOMPARE(image.pixel(0, 0), QColor(light).rgb());
  }

  void hotHalfFollowsThePointerOnlyWithVisualStyles() {
    for (bool classicLook : {false, true}) {
      auto button = MakeButton(17, 17, classicLook);
      button->show();
      QVERIFY(QTest::qWaitForWindowExposed(button.get()));
      QEnterEvent enter(QPointF(3, 3), QPointF(3, 3), button->mapToGlobal(QPointF(3, 3)));
      QApplication::sendEvent(button.get(), &enter);
      QCOMPARE(button->CurrentImage(), classicLook ? glowstep::siReleased : glowstep::siTopHot);
      const QPointF bottom(13, 12);
      QMouseEvent move(QEvent::MouseMove, bottom, button->mapToGlobal(bottom), Qt::NoButton,
                       Qt::NoButton, Qt::NoModifier);
      QApplication::sendEvent(button.get(), &move);
      QCOMPARE(button->CurrentImage(), classicLook ? glowstep::siReleased : glowstep::siBottomHot);
      QEvent leave(QEvent::Leave);
      QApplication::sendEvent(button.get(), &leave);
      QCOMPARE(button->CurrentImage(), glowstep::siReleased);
      // The images were drawn in the button's own look.
      Shot(*button);
      QVERIFY(button->Bitmaps() != nullptr);
      QCOMPARE(button->Bitmaps()->Themed(), !classicLook);
    }
  }

  // Buttons of one key share one image set; a set lives while a button holds it, and the
  // cache lives while a button exists.
  void imageSetsAreSharedAndReferenceCounted() {
    QCOMPARE(TSpinButtonBitmapsManager::Instance(), nullptr);
    auto a = MakeButton(17, 17, false);
    auto b = MakeButton(17, 17, false);
    auto c = MakeButton(17, 17, false);
    c->SetUpGlyph(QPixmap(4, 4));
    QCOMPARE(TSpinButtonBitmapsManager::Instance()->ClientCount(), 3);
    Shot(*a);
    Shot(*b);
    Shot(*c);
    QVERIFY(a->Bitmaps() != nullptr);
    QCOMPARE(a->Bitmaps(), b->Bitmaps());
    QVERIFY(c->Bitmaps() != a->Bitmaps());  // own glyphs: another key
    QCOMPARE(a->Bitmaps()->RefCount(), 2);
    QCOMPARE(TSpinButtonBitmapsManager::Instance()->SetCount(), 2u);

    b->resize(20, 20);
    Shot(*b);
    QCOMPARE(b->Bitmaps()->Width(), 20);
    QCOMPARE(a->Bitmaps()->RefCount(), 1);
    QCOMPARE(TSpinButtonBitmapsManager::Instance()->SetCount(), 3u);
    a.reset();  // the 17 x 17 set goes with its last button
    QCOMPARE(TSpinButtonBitmapsManager::Instance()->SetCount(), 2u);
    c->SetUpGlyph(QPixmap());
    c->resize(20, 20);
    Shot(*c);
    QCOMPARE(c->Bitmaps(), b->Bitmaps());
    QCOMPARE(TSpinButtonBitmapsManager::Instance()->SetCount(), 1u);
    b.reset();
    c.reset();
    QCOMPARE(TSpinButtonBitmapsManager::Instance(), nullptr);
  }

  void paletteChangeRedrawsTheSharedImages() {
    auto button = MakeButton(17, 17, true);
    Shot(*button);
    QPalette palette = button->palette();
    palette.setColor(QPalette::Button, QColor(10, 200, 30));
    button->setPalette(palette);
    QVERIFY(button->Bitmaps()->ResetOnDraw());
    QCOMPARE(Shot(*button).pixelColor(8, 3), QColor(10, 200, 30));
    QVERIFY(!button->Bitmaps()->ResetOnDraw());
  }

  void ownGlyphsAreDrawnOverTheImage() {
    auto button = MakeButton(17, 17, true);
    // Without an alpha channel the colour of the bottom-left pixel is the transparent one.
    QImage glyph(3, 3, QImage::Format_RGB32);
    glyph.fill(Qt::red);
    glyph.setPixelColor(0, 2, Qt::white);
    button->SetUpGlyph(QPixmap::fromImage(glyph));
    const QImage image = Shot(*button);
    // At the built-in up glyph's place for its size: (1 + round(4.25 - 1.5), same).
    QCOMPARE(image.pixel(4, 4), QColor(Qt::red).rgb());
    QCOMPARE(image.pixel(6, 6), QColor(Qt::red).rgb());
    QVERIFY(image.pixel(4, 6) != QColor(Qt::red).rgb());
    QVERIFY(image.pixel(4, 6) != QColor(Qt::white).rgb());
    QVERIFY(image.pixel(11, 14) != QColor(Qt::black).rgb());  // no built-in down glyph
  }
};

QTEST_MAIN(SpinButtonTest)
#include "spin_button_test.moc"
