#include "widgets/spin_edit.h"
#include "widgets/spin_button.h"
#include "widgets/spin_up_down.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QPointer>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>
#include <QTimer>

#include <memory>
#include <string>

using glowstep::Extended;
using glowstep::operator""_ext;
using glowstep::TCustomSpinEdit;
using glowstep::TSpinEdit;

namespace {

// Records the range errors the fields show, as the application's error display does.
class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    TCustomSpinEdit::SetErrorDisplay(
        [this](const QString& message) { LastError = message.toStdString(); });
  }
  ~TApplication() override { TCustomSpinEdit::SetErrorDisplay(nullptr); }
  std::string LastError;
};

// The classic look, one instance for the whole run; a widget does not own the style it is given.
QStyle* ClassicStyle() {
  static QPointer<QStyle> style;
  if (!style) {
    style = QStyleFactory::create(QStringLiteral("windows"));
    style->setParent(QCoreApplication::instance());
  }
  return style;
}

struct TSpec {
  double Min = 0, Max = 0, Value = 0;
  bool Real = false;
};

// A window with the field under test (121 x 21, as in the configurator's window) and a second
// control to move the focus to. The field is set up the way the window's form loads it.
class TWindow {
 public:
  explicit TWindow(const TSpec& setup) {
    QFont font = window.font();
    font.setPixelSize(11);
    window.setFont(font);
    window.resize(300, 100);
    field = new TSpinEdit(&window);
    field->setGeometry(32, 10, 121, 21);
    other = new QLineEdit(&window);
    other->setGeometry(32, 50, 121, 21);
    field->BeginLoad();
    if (setup.Real) {
      field->setProperty("Increment", 0.1);
      field->setProperty("MaxValue", setup.Max);
      field->setProperty("ValueType", TCustomSpinEdit::vtFloat);
    } else {
      field->setProperty("MinValue", setup.Min);
      field->setProperty("MaxValue", setup.Max);
    }
    field->setProperty("Value", setup.Value);
    field->EndLoad();
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    field->setFocus(Qt::TabFocusReason);
  }

  QWidget window;
  TSpinEdit* field = nullptr;
  QLineEdit* other = nullptr;
};

}  // namespace

class SpinEditTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { TCustomSpinEdit::SetNumberFormat({u'.', u','}); }

  // Typing re-reads, clamps and re-formats the text after every key.
  void typing_data() {
    QTest::addColumn<QTestEventList>("keys");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("changes");
    QTestEventList zero;
    zero.addKeyClick(Qt::Key_A, Qt::ControlModifier);
    zero.addKeyClicks(QStringLiteral("0"));
    QTest::addRow("0 over the value") << zero << "3" << 1;
    QTestEventList nines;
    nines.addKeyClick(Qt::Key_End);
    nines.addKeyClicks(QStringLiteral("999"));
    QTest::addRow("999 after the value") << nines << "250" << 2;
    QTestEventList erase;
    erase.addKeyClick(Qt::Key_A, Qt::ControlModifier);
    erase.addKeyClick(Qt::Key_Delete);
    QTest::addRow("all deleted") << erase << "3" << 1;
    QTestEventList minus;
    minus.addKeyClick(Qt::Key_Home);
    minus.addKeyClicks(QStringLiteral("-"));
    QTest::addRow("minus in front") << minus << "-3" << 1;
    QTestEventList letters;
    letters.addKeyClick(Qt::Key_End);
    letters.addKeyClicks(QStringLiteral("x.e"));
    QTest::addRow("refused characters") << letters << "10" << 0;
    QTestEventList same;
    same.addKeyClick(Qt::Key_A, Qt::ControlModifier);
    same.addKeyClicks(QStringLiteral("2"));
    same.addKeyClicks(QStringLiteral("0"));
    QTest::addRow("2 then 0") << same << "30" << 2;
  }
  void typing() {
    QFETCH(QTestEventList, keys);
    QFETCH(QString, text);
    QFETCH(int, changes);
    TWindow w({3, 250, 10});
    QSignalSpy changed(w.field, &TCustomSpinEdit::OnChange);
    keys.simulate(w.field);
    QCOMPARE(w.field->text(), text);
    QCOMPARE(changed.count(), changes);
  }

  void minusSignHoldsUntilTheFieldIsLeft() {
    TWindow w({3, 250, 10});
    QTest::keyClick(w.field, Qt::Key_Home);
    QTest::keyClicks(w.field, QStringLiteral("-"));
    QCOMPARE(w.field->text(), QStringLiteral("-3"));
    QCOMPARE(w.field->Value(), Extended{-3});
    w.other->setFocus(Qt::TabFocusReason);
    QCOMPARE(w.field->text(), QStringLiteral("3"));
  }

  void caretKeepsItsIndexThroughTheReformat() {
    TWindow w({3, 250, 10});
    QTest::keyClick(w.field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(w.field, QStringLiteral("2"));
    QCOMPARE(w.field->text(), QStringLiteral("3"));
    QCOMPARE(w.field->cursorPosition(), 1);
  }

  void pasteOfTextThatIsNoNumber() {
    TWindow w({3, 250, 10});
    QApplication::clipboard()->setText(QStringLiteral("abc"));
    QTest::keyClick(w.field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(w.field, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(w.field->text(), QStringLiteral("3"));

    w.field->SetClipboardCommands(TCustomSpinEdit::caCopy);
    QApplication::clipboard()->setText(QStringLiteral("77"));
    QTest::keyClick(w.field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(w.field, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(w.field->text(), QStringLiteral("3"));
  }

  // Bounds given as MaxValue 120 alone: the lower bound 0 is enforced too.
  void steppingAtTheBounds() {
    TWindow w({0, 120, 0});
    QVERIFY(w.field->CheckMinValue());
    QVERIFY(w.field->CheckMaxValue());
    QSignalSpy changed(w.field, &TCustomSpinEdit::OnChange);
    QSignalSpy up(w.field, &TCustomSpinEdit::OnTopClick);
    QSignalSpy down(w.field, &TCustomSpinEdit::OnBottomClick);
    QTest::keyClick(w.field, Qt::Key_Down);
    QCOMPARE(w.field->text(), QStringLiteral("0"));
    QCOMPARE(down.count(), 1);
    QCOMPARE(changed.count(), 0);
    w.field->SetValue(500);
    QCOMPARE(w.field->text(), QStringLiteral("120"));
    changed.clear();
    QTest::keyClick(w.field, Qt::Key_Up);
    QCOMPARE(w.field->text(), QStringLiteral("120"));
    QCOMPARE(up.count(), 1);
    QCOMPARE(changed.count(), 0);
    QTest::keyClick(w.field, Qt::Key_Down);
    QCOMPARE(w.field->text(), QStringLiteral("119"));
    QCOMPARE(changed.count(), 1);
    QVERIFY(w.field->isModified());
  }

  void unboundedFieldTakesAnyNumber() {
    TWindow w({0, 0, 0});
    QVERIFY(!w.field->CheckMinValue());
    QTest::keyClick(w.field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(w.field, QStringLiteral("123456"));
    QTest::keyClick(w.field, Qt::Key_Home);
    QTest::keyClicks(w.field, QStringLiteral("-"));
    QCOMPARE(w.field->text(), QStringLiteral("-123456"));
    w.other->setFocus();
    QCOMPARE(w.field->text(), QStringLiteral("-123456"));
    w.field->SetValue(-0.5_ext);
    QCOMPARE(w.field->text(), QStringLiteral("-1"));
  }

  void checkFlagsFollowTheBounds() {
    TSpinEdit field;
    field.SetMinValue(3);
    field.SetCheckMinValue(false);
    QVERIFY(field.CheckMinValue());
    field.SetMinValue(0);
    field.SetMaxValue(120);
    field.SetCheckMinValue(false);
    QVERIFY(!field.CheckMinValue());
    QVERIFY(field.IsCheckMinValueStored());
    field.SetValue(-5);
    QCOMPARE(field.text(), QStringLiteral("-5"));
    // While loading, an explicit flag keeps the bound setters from changing it.
    TSpinEdit loaded;
    loaded.BeginLoad();
    loaded.SetCheckMinValue(false);
    loaded.SetMaxValue(50);
    loaded.EndLoad();
    QVERIFY(!loaded.CheckMinValue());
    QVERIFY(loaded.CheckMaxValue());
  }

  void integerRounding_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::addRow("7.5") << 7.5 << "8";
    QTest::addRow("7.49") << 7.49 << "7";
    QTest::addRow("beyond the upper bound") << 1000.0 << "300";
    QTest::addRow("below the lower bound") << -4.0 << "1";
  }
  void integerRounding() {
    QFETCH(double, value);
    QFETCH(QString, text);
    TWindow w({1, 300, 20});
    w.field->SetValue(value);
    QCOMPARE(w.field->text(), text);
  }

  // The window's real field: loaded as Increment 0.1, MaxValue 2.5, vtFloat, Value 0.1.
  void floatFieldStepsWithoutDrift() {
    TWindow w({0, 2.5, 0.1, true});
    QVERIFY(w.field->CheckMinValue());
    QVERIFY(w.field->CheckMaxValue());
    QCOMPARE(w.field->Increment(), 0.1_ext);
    QCOMPARE(w.field->text(), QStringLiteral("0.10"));
    QCOMPARE(w.field->Value(), 0.1_ext);  // the extended value nearest to 0.1
    for (int i = 0; i < 24; ++i) QTest::keyClick(w.field, Qt::Key_Up);
    QCOMPARE(w.field->text(), QStringLiteral("2.50"));
    QTest::keyClick(w.field, Qt::Key_Up);
    QCOMPARE(w.field->text(), QStringLiteral("2.50"));
    w.field->SetValue(0);
    QTest::keyClick(w.field, Qt::Key_Down);
    QCOMPARE(w.field->text(), QStringLiteral("0.00"));
    w.field->SetValue(0.125_ext);
    QCOMPARE(w.field->text(), QStringLiteral("0.13"));
    w.field->setText(QStringLiteral("2.12"));
    QCOMPARE(w.field->Value(), 2.12_ext);
  }

  void decimalSeparatorKeys() {
    TCustomSpinEdit::SetNumberFormat({u',', u'.'});
    TWindow w({0, 2.5, 0.1, true});
    QCOMPARE(w.field->text(), QStringLiteral("0,10"));
    // A separator typed again jumps behind the existing one.
    QTest::keyClick(w.field, Qt::Key_Home);
    QTest::keyClicks(w.field, QStringLiteral("."));
    QCOMPARE(w.field->cursorPosition(), 2);
    QCOMPARE(w.field->text(), QStringLiteral("0,10"));
    // Delete in front of the separator only steps over it.
    w.field->setCursorPosition(1);
    QTest::keyClick(w.field, Qt::Key_Delete);
    QCOMPARE(w.field->text(), QStringLiteral("0,10"));
    QCOMPARE(w.field->cursorPosition(), 2);
    // Backspace behind it moves in front of it and deletes the digit there.
    w.field->SetValue(1.5_ext);
    w.field->setCursorPosition(2);
    QTest::keyClick(w.field, Qt::Key_Backspace);
    QCOMPARE(w.field->text(), QStringLiteral("0,50"));
    // A "." becomes the comma where the field has no separator yet.
    w.field->setText(QStringLiteral("2"));
    w.field->setCursorPosition(1);
    QTest::keyClicks(w.field, QStringLiteral(".4"));
    QCOMPARE(w.field->text(), QStringLiteral("2,40"));
  }

  void wheel_data() {
    QTest::addColumn<int>("delta");
    QTest::addColumn<QString>("text");
    QTest::addRow("up 120") << 120 << "11";
    QTest::addRow("down -120") << -120 << "9";
    QTest::addRow("zero steps down") << 0 << "9";
    QTest::addRow("a big notch is one step") << 960 << "11";
  }
  void wheel() {
    QFETCH(int, delta);
    QFETCH(QString, text);
    TWindow w({3, 250, 10});
    const QPoint at(10, 10);
    QWheelEvent event(at, w.field->mapToGlobal(at), {}, QPoint(0, delta), Qt::NoButton, {},
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(w.field, &event);
    QCOMPARE(w.field->text(), text);
    // An unfocused field lets the wheel go by.
    w.other->setFocus();
    QApplication::sendEvent(w.field, &event);
    QCOMPARE(w.field->text(), text);
  }

  // The button's top half steps at once, again after the first pause and then repeatedly; at
  // the bound the text stays and only the clicks repeat.
  void heldButtonRepeatsUpToTheBound() {
    TWindow w({3, 250, 248});
    w.other->setFocus();
    auto* button = w.field->Button();
    button->SetInitRepeatPause(60);
    button->SetRepeatPause(15);
    QSignalSpy up(w.field, &TCustomSpinEdit::OnTopClick);
    QSignalSpy changed(w.field, &TCustomSpinEdit::OnChange);
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(2, 2));
    QVERIFY(w.field->hasFocus());
    QCOMPARE(w.field->text(), QStringLiteral("249"));
    QTRY_VERIFY(up.count() >= 5);
    QCOMPARE(w.field->text(), QStringLiteral("250"));
    QCOMPARE(changed.count(), 2);
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(2, 2));
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(15, 15));
    QCOMPARE(w.field->text(), QStringLiteral("249"));
  }

  void upDownStepsOncePerPressAfterTakingTheFocus() {
    TWindow w({3, 250, 10});
    w.field->SetButtonKind(TCustomSpinEdit::bkStandard);
    QVERIFY(w.field->Button() == nullptr);
    auto* upDown = w.field->UpDown();
    QVERIFY(upDown != nullptr);
    QCOMPARE(upDown->width(), w.field->StandardButtonWidth());
    w.other->setFocus();
    QTest::mouseClick(upDown, Qt::LeftButton, {}, QPoint(3, 2));
    QCOMPARE(w.field->text(), QStringLiteral("10"));  // posted, not yet carried out
    QTRY_COMPARE(w.field->text(), QStringLiteral("11"));
    QVERIFY(w.field->hasFocus());
    QTest::mouseClick(upDown, Qt::LeftButton, {}, QPoint(3, upDown->height() - 2));
    QTRY_COMPARE(w.field->text(), QStringLiteral("10"));
    QCOMPARE(upDown->Position(), 0);
  }

  void readOnlyFieldOnlyBeeps() {
    TWindow w({3, 250, 10});
    w.field->setReadOnly(true);
    QSignalSpy beeps(w.field, &TCustomSpinEdit::Beeped);
    QSignalSpy up(w.field, &TCustomSpinEdit::OnTopClick);
    QSignalSpy down(w.field, &TCustomSpinEdit::OnBottomClick);
    QTest::keyClick(w.field, Qt::Key_Up);
    QTest::mouseClick(w.field->Button(), Qt::LeftButton, {}, QPoint(15, 15));
    QWheelEvent event(QPointF(5, 5), w.field->mapToGlobal(QPointF(5, 5)), {}, QPoint(0, 120),
                      Qt::NoButton, {}, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w.field, &event);
    QCOMPARE(beeps.count(), 3);
    QCOMPARE(up.count() + down.count(), 0);
    QCOMPARE(w.field->text(), QStringLiteral("10"));
  }

  void editorDisabledStillSteps() {
    TWindow w({3, 250, 10});
    w.field->SetEditorEnabled(false);
    QSignalSpy beeps(w.field, &TCustomSpinEdit::Beeped);
    QTest::keyClick(w.field, Qt::Key_End);
    QTest::keyClicks(w.field, QStringLiteral("5"));
    QTest::keyClick(w.field, Qt::Key_Backspace);
    QTest::keyClick(w.field, Qt::Key_Home);
    QTest::keyClick(w.field, Qt::Key_Delete);
    QApplication::clipboard()->setText(QStringLiteral("99"));
    QTest::keyClick(w.field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(w.field, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(w.field, Qt::Key_X, Qt::ControlModifier);
    QCOMPARE(w.field->text(), QStringLiteral("10"));
    QCOMPARE(beeps.count(), 3);
    QTest::keyClick(w.field, Qt::Key_Up);
    QCOMPARE(w.field->text(), QStringLiteral("11"));
  }

  void buttonPlacement_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("rightToLeft");
    QTest::addColumn<QRect>("host");
    // The classic style's frame is 2 pixels wide, as the platform's 3-D single border: the host
    // sits where the frame's inside begins, one pixel up and left of the button.
    QTest::addRow("diagonal") << int(TCustomSpinEdit::bkDiagonal) << false << QRect(101, 1, 18, 18);
    QTest::addRow("classic") << int(TCustomSpinEdit::bkClassic) << false << QRect(104, 1, 15, 18);
    QTest::addRow("diagonal, right to left")
        << int(TCustomSpinEdit::bkDiagonal) << true << QRect(1, 1, 18, 18);
  }
  void buttonPlacement() {
    QFETCH(int, kind);
    QFETCH(bool, rightToLeft);
    QFETCH(QRect, host);
    TWindow w({3, 250, 10});
    // The classic style's scroll bars are 16 wide: the standard button width is capped at 15.
    w.field->setStyle(ClassicStyle());
    if (rightToLeft) w.field->setLayoutDirection(Qt::RightToLeft);
    w.field->SetButtonKind(static_cast<TCustomSpinEdit::TSpinButtonKind>(kind));
    QCOMPARE(w.field->StandardButtonWidth(), 15);
    QCOMPARE(w.field->ButtonHost()->geometry(), host);
    QCOMPARE(w.field->Button()->geometry(), QRect(1, 1, host.width() - 1, host.height() - 1));
    const QMargins margins = w.field->textMargins();
    QCOMPARE(rightToLeft ? margins.left() : margins.right(), host.width() - 1);
    // The button fills the frame's inside from top to bottom, against its right (or left) side.
    const QRect inside = w.field->rect().adjusted(2, 2, -2, -2);
    const QRect button(w.field->Button()->mapTo(w.field, QPoint(0, 0)), w.field->Button()->size());
    QCOMPARE(button.top(), inside.top());
    QCOMPARE(button.bottom(), inside.bottom());
    QCOMPARE(rightToLeft ? button.left() : button.right(),
             rightToLeft ? inside.left() : inside.right());
    // Too low a field grows to the height of its font's text plus the frame.
    QCOMPARE(w.field->MinimumHeight(), QFontMetrics(w.field->font()).height() + 5);
    w.field->resize(121, 8);
    QCOMPARE(w.field->height(), w.field->MinimumHeight());
    w.field->SetShowButton(false);
    QCOMPARE(w.field->ButtonHost(), nullptr);
    QCOMPARE(w.field->ButtonWidth(), 0);
  }

  void rangeErrorOnExitWhenNotCropping() {
    TWindow w({3, 250, 10});
    w.field->SetCheckOptions(TCustomSpinEdit::coCheckOnExit);
    QVERIFY_THROWS_EXCEPTION(glowstep::ERangeError, w.field->CheckRange(2, true));
    QString message;
    try {
      w.field->CheckRange(251, true);
    } catch (const glowstep::ERangeError& error) {
      message = QString::fromUtf8(error.what());
    }
    QCOMPARE(message, QStringLiteral("Value must be between 3 and 250"));
    QCOMPARE(w.field->CheckRange(2, false), Extended{3});
    // Typed beyond the bound without checking on change, the field refuses to be left.
    w.field->setText(QStringLiteral("999"));
    auto* app = static_cast<TApplication*>(QCoreApplication::instance());
    app->LastError.clear();
    w.other->setFocus(Qt::TabFocusReason);
    QTRY_COMPARE(QString::fromStdString(app->LastError),
                 QStringLiteral("Value must be between 3 and 250"));
    QVERIFY(w.field->hasFocus());
    QCOMPARE(w.field->selectedText(), QStringLiteral("999"));
  }

  void hexAndStringValues() {
    TSpinEdit field;
    field.SetValueType(TCustomSpinEdit::vtHex);
    field.SetValue(255);
    QCOMPARE(field.text(), QStringLiteral("FF"));
    QCOMPARE(field.Value(), Extended{255});
    // What the field writes reads back as the same value: negative numbers as their 32-bit
    // pattern, numbers beyond 32 bits cut to the range that the field reads.
    field.SetValue(-1);
    QCOMPARE(field.text(), QStringLiteral("FFFFFFFF"));
    QCOMPARE(field.Value(), Extended{-1});
    field.SetValue(-2147483648.0_ext);
    QCOMPARE(field.text(), QStringLiteral("80000000"));
    QCOMPARE(field.Value(), Extended{-2147483648.0_ext});
    field.SetValue(1099511627776.0_ext);
    QCOMPARE(field.text(), QStringLiteral("7FFFFFFF"));
    QCOMPARE(field.Value(), Extended{2147483647});
    field.SetValue(-1099511627776.0_ext);
    QCOMPARE(field.text(), QStringLiteral("80000000"));

    TSpinEdit list;
    list.SetValueType(TCustomSpinEdit::vtString);
    list.SetMinValue(1);
    list.SetItems({QStringLiteral("low"), QStringLiteral("mid"), QStringLiteral("high")});
    QCOMPARE(list.text(), QStringLiteral("low"));
    QCOMPARE(list.Value(), Extended{1});
    list.StepUp(nullptr);
    QCOMPARE(list.text(), QStringLiteral("mid"));  // the value read back is the one written
    list.StepUp(nullptr);
    list.StepUp(nullptr);
    QCOMPARE(list.text(), QStringLiteral("high"));
  }

  void displayFormatWhileNotFocused() {
    TWindow w({0, 0, 0});
    w.field->SetValueType(TCustomSpinEdit::vtFloat);
    w.field->SetDisplayFormat(w.field->DefaultDisplayFormat());
    w.other->setFocus();
    w.field->SetValue(1234.5_ext);
    QCOMPARE(w.field->text(), QStringLiteral("1,234.5"));
    QCOMPARE(w.field->Value(), 1234.5_ext);
    w.field->setFocus(Qt::TabFocusReason);
    QCOMPARE(w.field->text(), QStringLiteral("1234.50"));
    w.other->setFocus();
    QCOMPARE(w.field->text(), QStringLiteral("1,234.5"));
  }

  void typingAllOnesInAHexField() {
    TWindow w({0, 0, 0});
    w.field->SetValueType(TCustomSpinEdit::vtHex);
    QTest::keyClick(w.field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(w.field, QStringLiteral("FFFFFFFF"));
    QCOMPARE(w.field->text(), QStringLiteral("FFFFFFFF"));
    QCOMPARE(w.field->Value(), Extended{-1});
  }

  // A press that the field's disabling cut short repeats no more, then or after enabling.
  void disablingTheFieldEndsAHeldButton() {
    TWindow w({0, 100, 10});
    auto* button = w.field->Button();
    button->SetInitRepeatPause(40);
    button->SetRepeatPause(10);
    QSignalSpy up(w.field, &TCustomSpinEdit::OnTopClick);
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(2, 2));
    QCOMPARE(w.field->text(), QStringLiteral("11"));
    auto* repeat = button->findChild<QTimer*>();
    QVERIFY(repeat != nullptr && repeat->isActive());
    w.field->setEnabled(false);
    QVERIFY(!repeat->isActive());  // nothing is left to repeat
    w.field->setEnabled(true);
    QVERIFY(!repeat->isActive());
    QCOMPARE(w.field->text(), QStringLiteral("11"));
    QCOMPARE(up.count(), 1);
    QCOMPARE(button->PressedHalf(), glowstep::TSpinButton::THalf::None);
  }

  // Text from an input method passes the same character rules as typed text.
  void inputMethodTextIsFiltered() {
    TWindow w({3, 250, 10});
    QSignalSpy beeps(w.field, &TCustomSpinEdit::Beeped);
    const auto commit = [&w](const QString& text) {
      QInputMethodEvent event;
      event.setCommitString(text);
      QApplication::sendEvent(w.field, &event);
    };
    w.field->setCursorPosition(2);
    commit(QStringLiteral("x"));
    QCOMPARE(w.field->text(), QStringLiteral("10"));
    QCOMPARE(beeps.count(), 1);
    commit(QStringLiteral("5"));
    QCOMPARE(w.field->text(), QStringLiteral("105"));
    w.field->SetEditorEnabled(false);
    commit(QStringLiteral("5"));
    QCOMPARE(w.field->text(), QStringLiteral("105"));
    QCOMPARE(beeps.count(), 2);
  }

  // Characters typed with Ctrl+Alt (AltGr on many keyboards) or Alt pass the same rules.
  void altGrCharactersAreFiltered() {
    TWindow w({0, 2.5, 0.1, true});
    w.field->SetValue(1.5_ext);
    w.field->setCursorPosition(4);
    QSignalSpy beeps(w.field, &TCustomSpinEdit::Beeped);
    for (Qt::KeyboardModifiers modifiers :
         {Qt::ControlModifier | Qt::AltModifier, Qt::KeyboardModifiers(Qt::AltModifier)}) {
      QKeyEvent at(QEvent::KeyPress, Qt::Key_At, modifiers, QStringLiteral("@"));
      QApplication::sendEvent(w.field, &at);
      QCOMPARE(w.field->text(), QStringLiteral("1.50"));
    }
    QCOMPARE(beeps.count(), 2);
    w.field->setCursorPosition(1);
    QKeyEvent digit(QEvent::KeyPress, Qt::Key_2, Qt::ControlModifier | Qt::AltModifier,
                    QStringLiteral("2"));
    QApplication::sendEvent(w.field, &digit);
    QCOMPARE(w.field->text(), QStringLiteral("2.50"));  // 12.50 is cut to the bound
  }

  // Opening the context menu leaves the focus where it is: nothing is cropped.
  void contextMenuKeepsTheTypedMinus() {
    TWindow w({3, 250, 10});
    QTest::keyClick(w.field, Qt::Key_Home);
    QTest::keyClicks(w.field, QStringLiteral("-"));
    QCOMPARE(w.field->text(), QStringLiteral("-3"));
    const QPoint at(10, 10);
    QContextMenuEvent menu(QContextMenuEvent::Mouse, at, w.field->mapToGlobal(at));
    QApplication::sendEvent(w.field, &menu);
    QTRY_VERIFY(QApplication::activePopupWidget() != nullptr);
    QCOMPARE(w.field->text(), QStringLiteral("-3"));
    QApplication::activePopupWidget()->close();
    QTRY_VERIFY(w.field->hasFocus());
    QCOMPARE(w.field->text(), QStringLiteral("-3"));
    w.other->setFocus(Qt::TabFocusReason);
    QCOMPARE(w.field->text(), QStringLiteral("3"));
  }

  void thousandsGrouping() {
    TWindow w({0, 0, 0});
    w.field->SetThousands(true);
    w.field->SetValue(1234567);
    QCOMPARE(w.field->text(), QStringLiteral("1,234,567"));
    QCOMPARE(w.field->Value(), Extended{1234567});
    w.field->SetValueType(TCustomSpinEdit::vtHex);
    QVERIFY(!w.field->Thousands());
  }
};

int main(int argc, char** argv) {
  TApplication app(argc, argv);
  SpinEditTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "spin_edit_test.moc"
