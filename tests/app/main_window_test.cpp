#include <QAccessible>
#include <QColorDialog>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

#include "app/application.h"
#include "app/main_window.h"
#include "app/qt_main_thread_port.h"
#include "hid/platform/sim/sim_platform.h"
#include "testing/virtual_staircase_controller.h"
#include "ui_main_window.h"
#include "widgets/led.h"
#include "widgets/slider.h"
#include "widgets/spin_edit.h"

using namespace glowstep;

namespace {

const std::vector<std::uint8_t> kDefaultWriteReport = [] {
  std::vector<std::uint8_t> report(65, 0);
  const std::uint8_t head[] = {0x00, 0x77, 0x0A, 0x3C, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0x30, 0x30,
                               0x00, 0xF4, 0x01, 0x77, 0x01, 0x02, 0x0A, 0x00, 0x64, 0x00};
  std::copy(std::begin(head), std::end(head), report.begin());
  return report;
}();

// Runs `action` on the next turn of the event loop, when a modal dialog has opened.
void WhenModal(const std::function<void(QWidget*)>& action) {
  QTimer::singleShot(0, [action] {
    QTRY_VERIFY(QApplication::activeModalWidget() != nullptr);
    action(QApplication::activeModalWidget());
  });
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<TSimPlatform> platform;
  std::unique_ptr<TQtMainThreadPort> port;
  std::unique_ptr<TMainWindow> window;
  std::vector<QString> errors;

  Ui::TMainWindow& Form() { return window->Form(); }

  TSimPlatform::TInterfaceId PlugController(std::shared_ptr<TVirtualStaircaseController> vc,
                                            const std::u16string& product = u"Glowstep 3.2") {
    TSimInterfaceSpec setup;
    setup.ProductString = product;
    setup.Behaviour = std::move(vc);
    return platform->Plug(setup);
  }

 private slots:
  void init() {
    TCustomSpinEdit::SetNumberFormat(TNumberFormat{u'.', u','});
    errors.clear();
    TApplication::Instance()->SetErrorPresenter(
        [this](const QString& caption, const QString& text) {
          errors.push_back(caption + ": " + text);
        });
    platform = std::make_unique<TSimPlatform>();
    port = std::make_unique<TQtMainThreadPort>(
        [](std::exception_ptr error) { TApplication::Instance()->ShowException(error); });
    window = std::make_unique<TMainWindow>(*platform, *port);
  }

  void cleanup() {
    window.reset();
    port.reset();
    platform.reset();
  }

  void startsWithEveryControlAsDesigned() {
    QCOMPARE(window->windowTitle(), QStringLiteral("Glowstep v3.2"));
    QCOMPARE(window->pos(), QPoint(398, 130));
    struct Field {
      TSpinEdit* edit;
      QPoint at;
      double min, max, value;
      QString text;
    };
    const Field fields[] = {
        {Form().Stairs_count, {32, 32}, 3, 250, 10, "10"},
        {Form().LEDs_in_one_stair, {32, 72}, 3, 240, 60, "60"},
        {Form().Idle_LEDs, {32, 112}, 0, 120, 1, "1"},
        {Form().ON_time, {32, 152}, 1, 300, 20, "20"},
        {Form().Delay_time, {32, 192}, 1, 300, 15, "15"},
        {Form().Sensor_time, {32, 232}, 0, 2.5, 0.1, "0.10"},
        {Form().Photo_time, {32, 272}, 1, 1800, 10, "10"},
    };
    for (const Field& f : fields) {
      QCOMPARE(f.edit->geometry(), QRect(f.at, QSize(121, 21)));
      QCOMPARE(static_cast<double>(f.edit->MinValue()), f.min);
      QCOMPARE(static_cast<double>(f.edit->MaxValue()), f.max);
      QVERIFY(f.edit->CheckMinValue() && f.edit->CheckMaxValue());
      QCOMPARE(f.edit->text(), f.text);
      QVERIFY(!f.edit->Loading());
    }
    QCOMPARE(Form().Sensor_time->Value(), 0.1_ext);
    QCOMPARE(static_cast<double>(Form().Sensor_time->Increment()), 0.1);

    QCOMPARE(Form().PhotoLevel->geometry(), QRect(24, 336, 353, 40));
    QCOMPARE(Form().PhotoLevel->MaxValue(), 1000);
    QCOMPARE(Form().PhotoLevel->Increment(), 20);
    QCOMPARE(Form().PhotoLevel->Value(), 100);
    QVERIFY(!Form().PhotoLevel->Loading());
    QVERIFY(!Form().PhotoLevel->isEnabled());
    QVERIFY(!Form().PhotoLabel->isEnabled());
    QVERIFY(!Form().Device_status_LED->Status());
    QCOMPARE(Form().Device_status_LED->pos(), QPoint(32, 560));
    QVERIFY(Form().Label2->isHidden());
    QCOMPARE(Form().Label2->text(), QStringLiteral(">"));
    QCOMPARE(Form().MainColor->BrushColor(), QColor(255, 255, 255));
    // The held standby colour as a read shows it: what the swatch shows is what a write sends.
    QCOMPARE(Form().IdleColor->BrushColor(), QColor(0xFF, 0xFF, 0x00));
    QCOMPARE(Form().Read_btn->text(), QStringLiteral("Read settings"));
    QCOMPARE(Form().Write_btn->geometry(), QRect(208, 520, 161, 33));
    QCOMPARE(window->HidController().DevThreadSleepTime(), 50);
    QCOMPARE(window->Link().Codec().IdleColorValue(), 0x003030U);
  }

  void tabOrderFollowsTheForm() {
    window->show();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    const QList<QWidget*> expected = {Form().LEDs_in_one_stair, Form().Idle_LEDs, Form().ON_time,
                                      Form().Delay_time, Form().Sensor_time, Form().Read_btn,
                                      Form().Write_btn, Form().Photo_time, Form().Stairs_count,
                                      // The disabled slider is skipped; the swatches come after it.
                                      Form().MainColor, Form().IdleColor, Form().LEDs_in_one_stair};
    Form().LEDs_in_one_stair->setFocus();
    for (qsizetype i = 1; i < expected.size(); ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QCOMPARE(QApplication::focusWidget(), expected[i]);
    }
  }

  void theKeyboardPressesButtonsAndOpensTheColourDialog() {
    window->show();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    auto vc = std::make_shared<TVirtualStaircaseController>();
    PlugController(vc);
    QTRY_VERIFY(Form().Device_status_LED->Status());
    const std::pair<Qt::Key, Qt::KeyboardModifiers> presses[] = {
        {Qt::Key_Return, Qt::NoModifier}, {Qt::Key_Enter, Qt::KeypadModifier}};
    for (const auto& [key, modifiers] : presses) {
      const std::size_t before = vc->ReceivedCount();
      Form().Write_btn->setFocus();
      QTest::keyClick(Form().Write_btn, key, modifiers);
      QTRY_COMPARE(vc->ReceivedCount(), before + 1);
    }
    for (const Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter}) {
      for (TShape* swatch : {Form().MainColor, Form().IdleColor}) {
        bool opened = false;
        WhenModal([&opened](QWidget* modal) {
          opened = qobject_cast<QColorDialog*>(modal) != nullptr;
          modal->close();
        });
        swatch->setFocus();
        QTest::keyClick(swatch, key);
        QVERIFY2(opened, qPrintable(swatch->objectName()));
      }
    }
  }

  void plugReadAndUnplugDriveTheWindow() {
    auto vc = std::make_shared<TVirtualStaircaseController>();
    TVirtualStaircaseController::TSettings settings = TVirtualStaircaseController::kDefaultSettings;
    settings[0] = 251;  // beyond the stairs bound: shown as 250
    settings[1] = 100;  // 25000 LEDs: the on-time counts in units of k = 22 ticks
    settings[10] = 9;   // 9 units: 7.92 s, whole seconds 8
    settings[11] = 0;
    settings[14] = 53;    // 2.12 s
    settings[17] = 0x58;  // level 600
    settings[18] = 0x02;
    vc->SetSettings(settings);
    const auto id = PlugController(vc);
    QTRY_VERIFY(Form().Device_status_LED->Status());
    QVERIFY(Form().PhotoLevel->isEnabled());
    QVERIFY(Form().PhotoLabel->isEnabled());

    QTest::mouseClick(Form().Read_btn, Qt::LeftButton);
    QTRY_COMPARE(Form().Stairs_count->text(), QStringLiteral("250"));
    QTRY_COMPARE(Form().PhotoLevel->Value(), 600);
    QCOMPARE(Form().LEDs_in_one_stair->text(), QStringLiteral("100"));
    QCOMPARE(Form().ON_time->text(), QStringLiteral("8"));
    QCOMPARE(Form().Sensor_time->text(), QStringLiteral("2.12"));
    QCOMPARE(Form().IdleColor->BrushColor(),
             QColor(0xFF, 0xFF, 0x00));  // 0x003030 at full brightness

    platform->Unplug(id);
    QTRY_VERIFY(!Form().Device_status_LED->Status());
    QVERIFY(!Form().PhotoLevel->isEnabled());
  }

  void writeWithTheDefaultsSendsTheDefaultReport() {
    auto vc = std::make_shared<TVirtualStaircaseController>();
    PlugController(vc);
    QTRY_VERIFY(Form().Device_status_LED->Status());
    QTest::mouseClick(Form().Write_btn, Qt::LeftButton);
    QCOMPARE(vc->ReceivedCount(), std::size_t{1});
    QCOMPARE(vc->ReceivedReports()[0], kDefaultWriteReport);
  }

  void pickedColourIsStoredAndShownNormalised() {
    WhenModal([](QWidget* modal) {
      auto* dialog = qobject_cast<QColorDialog*>(modal);
      QVERIFY(dialog != nullptr);
      QCOMPARE(dialog->currentColor(), QColor(255, 255, 255));
      dialog->setCurrentColor(QColor(200, 0, 0));
      dialog->accept();
    });
    QTest::mousePress(Form().MainColor, Qt::LeftButton);
    QCOMPARE(window->Link().Codec().MainColorValue(), 0x0000C8U);
    QCOMPARE(Form().MainColor->BrushColor(), QColor(254, 0, 0));
  }

  void cancelledPickChangesNothingAndAnyButtonOpensTheDialog() {
    bool opened = false;
    WhenModal([&opened](QWidget* modal) {
      opened = true;
      auto* dialog = qobject_cast<QColorDialog*>(modal);
      QVERIFY(dialog != nullptr);
      QCOMPARE(dialog->currentColor(), QColor(0x30, 0x30, 0x00));  // the stored standby colour
      dialog->setCurrentColor(QColor(1, 2, 3));
      dialog->reject();
    });
    QTest::mousePress(Form().IdleColor, Qt::RightButton);
    QVERIFY(opened);
    QCOMPARE(window->Link().Codec().IdleColorValue(), 0x003030U);
    QCOMPARE(Form().IdleColor->BrushColor(), QColor(0xFF, 0xFF, 0x00));
  }

  void colourDialogIsCentredAcrossAndAThirdDown() {
    const QRect screen = window->screen()->geometry();
    const QPoint at = window->ColorDialogPosition(QSize(500, 300));
    QCOMPARE(at.x(), screen.left() + (screen.width() - 500) / 2);
    QCOMPARE(at.y(), screen.top() + (screen.height() - 300) / 3);
  }

  void anErrorInAHandlerIsShownAndTheWindowCarriesOn() {
    QTRY_COMPARE(window->HidController().LastChangeParam(), std::intptr_t{-1});  // first refresh
    TSimInterfaceSpec broken;
    broken.ProductString = u"Broken";
    broken.Faults.FailOpen = true;
    const auto bad = platform->Plug(broken);
    QTRY_COMPARE(errors.size(), std::size_t{1});
    QCOMPARE(errors[0], TApplication::Instance()->Title() + ": Device cannot be opened.");
    platform->Unplug(bad);
    auto vc = std::make_shared<TVirtualStaircaseController>();
    PlugController(vc);
    QTRY_VERIFY(Form().Device_status_LED->Status());
  }

  void aControllerTheUserMayNotOpenIsNamedOnceAndTakenWhenAllowed() {
    TSimInterfaceSpec setup;
    setup.ProductString = u"Glowstep 3.2";
    setup.Behaviour = std::make_shared<TVirtualStaircaseController>();
    setup.Faults.RefuseReadWrite = true;  // found and named, not to be read or written
    setup.Faults.AccessReason = THidAccessReason::NotInPlugdev;
    const auto id = platform->Plug(setup);
    QTRY_COMPARE(errors.size(), std::size_t{1});
    QCOMPARE(errors[0], TApplication::Instance()->Title() + ": " +
                            ErrorBoxText(QString::fromStdString(
                                ControllerAccessMessage("Glowstep 3.2", platform->PathOf(id),
                                                        THidAccessReason::NotInPlugdev)
                                    .English())));
    QVERIFY(!Form().Device_status_LED->Status());
    QVERIFY(!Form().PhotoLevel->isEnabled());
    QTest::mouseClick(Form().Write_btn, Qt::LeftButton);  // nothing is held: nothing happens
    QCOMPARE(platform->Counters().ReportsWritten, 0);

    TSimInterfaceSpec mouse;
    mouse.ProductString = u"USB Optical Mouse";
    platform->Plug(mouse);  // another arrival: the user is not told again
    QTRY_COMPARE(window->HidController().Devices().size(), std::size_t{2});
    // A message the refresh asked for would be shown before a task posted after it has run.
    bool passed = false;
    port->Post([&passed] { passed = true; });
    QTRY_VERIFY(passed);
    QCOMPARE(errors.size(), std::size_t{1});
    QVERIFY(!Form().Device_status_LED->Status());

    platform->SetFaults(id, TSimFaults{});  // the rule applied: the system says the device changed
    platform->NotifyDeviceChange();
    QTRY_VERIFY(Form().Device_status_LED->Status());
    QVERIFY(Form().PhotoLevel->isEnabled());
    QCOMPARE(errors.size(), std::size_t{1});
  }

  void aFailingWriteIsShownInTheErrorBox() {
    auto vc = std::make_shared<TVirtualStaircaseController>();
    const auto id = PlugController(vc);
    QTRY_VERIFY(Form().Device_status_LED->Status());
    TSimFaults faults;
    faults.FailWrite = true;
    platform->SetFaults(id, faults);
    QTest::mouseClick(Form().Write_btn, Qt::LeftButton);
    QCOMPARE(errors,
             std::vector<QString>{TApplication::Instance()->Title() +
                                  ": Sending to the controller failed: " +
                                  QString::fromStdString(ErrorCodeText(faults.WriteError)) + "."});
    QCOMPARE(vc->ReceivedCount(), std::size_t{0});
    QCOMPARE(Form().Label2->text(), QStringLiteral(">"));
  }

  void theStatusLineTellsWhatEveryClickDid() {
    const auto status = [this] { return Form().StatusLine->text(); };
    QVERIFY(status().isEmpty());
    QCOMPARE(Form().Device_status_LED->toolTip(), QStringLiteral("No controller"));
    for (QPushButton* button : {Form().Read_btn, Form().Write_btn}) {
      Form().StatusLine->clear();
      QTest::mouseClick(button, Qt::LeftButton);
      QCOMPARE(status(), QStringLiteral("No controller is connected"));
    }

    const auto id = PlugController(std::make_shared<TVirtualStaircaseController>());
    QTRY_VERIFY(Form().Device_status_LED->Status());
    QCOMPARE(Form().Device_status_LED->toolTip(), QStringLiteral("Controller ready: Glowstep 3.2"));
    QTest::mouseClick(Form().Read_btn, Qt::LeftButton);
    QTRY_COMPARE(status(), QStringLiteral("Settings read from Glowstep 3.2"));
    QTest::mouseClick(Form().Write_btn, Qt::LeftButton);
    QCOMPARE(status(), QStringLiteral("Settings sent to Glowstep 3.2"));

    // An answer later than a second: the wait is told to be over, and the late answer still
    // fills the fields.
    TSimFaults slow;
    slow.AnswerDelay = std::chrono::milliseconds(1500);
    platform->SetFaults(id, slow);
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(Form().Read_btn, Qt::LeftButton);
    QTRY_COMPARE(status(), QStringLiteral("The controller did not answer within 1 s"));
    QVERIFY(clock.elapsed() >= 1000);
    QTRY_COMPARE(status(), QStringLiteral("Settings read from Glowstep 3.2"));

    TSimFaults failing;
    failing.FailWrite = true;
    platform->SetFaults(id, failing);
    QTest::mouseClick(Form().Write_btn, Qt::LeftButton);
    QVERIFY2(status().startsWith("Sending to the controller failed: "), qPrintable(status()));
    QCOMPARE(errors.size(), std::size_t{1});  // the error box as before

    platform->Unplug(id);
    QTRY_COMPARE(Form().Device_status_LED->toolTip(), QStringLiteral("No controller"));
  }

  // What a screen reader learns of each control, in English and in Russian: its caption (or its
  // state, for the LED) as its name, its role, and the value and range of the numbers.
  void everyControlIsNamedForAssistiveToolsInEveryLanguage() {
    struct Control {
      QWidget* widget;
      QAccessible::Role role;
      QLabel* caption;  // the name is this label's text; none: the name is the control's own
    };
    const Control controls[] = {
        {Form().Stairs_count, QAccessible::SpinBox, Form().FixedLabel7},
        {Form().LEDs_in_one_stair, QAccessible::SpinBox, Form().FixedLabel1},
        {Form().Idle_LEDs, QAccessible::SpinBox, Form().FixedLabel2},
        {Form().ON_time, QAccessible::SpinBox, Form().FixedLabel3},
        {Form().Delay_time, QAccessible::SpinBox, Form().FixedLabel4},
        {Form().Sensor_time, QAccessible::SpinBox, Form().FixedLabel5},
        {Form().Photo_time, QAccessible::SpinBox, Form().FixedLabel6},
        {Form().PhotoLevel, QAccessible::Slider, Form().PhotoLabel},
        {Form().MainColor, QAccessible::Button, Form().Label1},
        {Form().IdleColor, QAccessible::Button, Form().Label3},
        {Form().Read_btn, QAccessible::Button, nullptr},
        {Form().Write_btn, QAccessible::Button, nullptr},
        {Form().Device_status_LED, QAccessible::Indicator, nullptr},
        {window.get(), QAccessible::Window, nullptr},
    };
    QStringList english;
    for (const char* language : {"en", "ru"}) {
      TApplication::Instance()->SetLanguage(language);
      QTRY_COMPARE(Form().Read_btn->text() == "Read settings", language == std::string("en"));
      QStringList names;
      for (const Control& c : controls) {
        QAccessibleInterface* control = QAccessible::queryAccessibleInterface(c.widget);
        QVERIFY(control != nullptr);
        QCOMPARE(control->role(), c.role);
        const QString name = control->text(QAccessible::Name);
        QVERIFY2(!name.isEmpty(), qPrintable(c.widget->objectName()));
        if (c.caption != nullptr) QCOMPARE(name, c.caption->text());
        names.push_back(name);
      }
      if (english.isEmpty()) {
        english = names;
      } else {
        // Every caption has its own Russian wording; only the window's title is the same.
        for (qsizetype i = 0; i + 1 < names.size(); ++i) QVERIFY(names[i] != english[i]);
      }
    }
    TApplication::Instance()->SetLanguage("en");
    QTRY_COMPARE(Form().Read_btn->text(), QStringLiteral("Read settings"));

    QAccessibleValueInterface* stairs =
        QAccessible::queryAccessibleInterface(Form().Stairs_count)->valueInterface();
    QVERIFY(stairs != nullptr);
    QCOMPARE(stairs->currentValue().toDouble(), 10.0);
    QCOMPARE(stairs->minimumValue().toDouble(), 3.0);
    QCOMPARE(stairs->maximumValue().toDouble(), 250.0);
    QAccessibleValueInterface* level =
        QAccessible::queryAccessibleInterface(Form().PhotoLevel)->valueInterface();
    QVERIFY(level != nullptr);
    QCOMPARE(level->currentValue().toInt(), 100);
    QCOMPARE(level->maximumValue().toInt(), 1000);
    QCOMPARE(
        QAccessible::queryAccessibleInterface(Form().IdleColor)->text(QAccessible::Description),
        QStringLiteral("#FFFF00"));
    QCOMPARE(
        QAccessible::queryAccessibleInterface(Form().Device_status_LED)->text(QAccessible::Name),
        QStringLiteral("No controller"));
  }

  void titleAndErrorTextFollowTheProgramsRules() {
    QCOMPARE(ApplicationTitleFor("C:/Program Files/GLOWSTEP.EXE"), QStringLiteral("Glowstep"));
    QCOMPARE(ApplicationTitleFor("/usr/bin/glowstep-configurator"),
             QStringLiteral("glowstep-configurator"));
    QCOMPARE(ApplicationTitleFor("Glow.Step.exe"), QStringLiteral("Glow"));
    QCOMPARE(ErrorBoxText("Device cannot be opened"), QStringLiteral("Device cannot be opened."));
    QCOMPARE(ErrorBoxText("Value must be between 3 and 250"),
             QStringLiteral("Value must be between 3 and 250."));
    QCOMPARE(ErrorBoxText("Done."), QStringLiteral("Done."));
    QCOMPARE(ErrorBoxText("Stop!"), QStringLiteral("Stop!"));
    QCOMPARE(ErrorBoxText(""), QString());
  }
};

int main(int argc, char** argv) {
  TApplication app(argc, argv);
  MainWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "main_window_test.moc"
