// The window and the command-line tool write the same reports for the same values. One table of
// cases: each starts from the settings a controller holds and changes some of them, typed into
// the window's real fields (and set on its slider and colour values) and given to the tool as
// KEY=VALUE. The two write reports are compared byte for byte, and what the two then read back
// from their controllers is compared text for text. The fields' stored ranges and decimals are
// compared with the rules the tool applies.
#include <QApplication>
#include <QClipboard>
#include <QTest>

#include <memory>
#include <sstream>
#include <string>

#include "app/main_window.h"
#include "app/qt_main_thread_port.h"
#include "hid/platform/sim/sim_platform.h"
#include "protocol/settings_fields.h"
#include "tests/app/event_loop_support.h"
#include "tests/cli/cli_test_support.h"
#include "ui_main_window.h"

using namespace glowstep;

namespace {

using testing::Hex;
using testing::WaitUntil;

using TSettings = TVirtualStaircaseController::TSettings;

constexpr std::size_t kOnTime = 10;
constexpr std::size_t kSensor = 14;

// The window's control for a setting: the field of the same name, or the slider.
const char* ControlName(TSettingsField field) {
  switch (field) {
    case TSettingsField::Stairs_count:
      return "Stairs_count";
    case TSettingsField::LEDs_in_one_stair:
      return "LEDs_in_one_stair";
    case TSettingsField::Idle_LEDs:
      return "Idle_LEDs";
    case TSettingsField::ON_time:
      return "ON_time";
    case TSettingsField::Delay_time:
      return "Delay_time";
    case TSettingsField::Sensor_time:
      return "Sensor_time";
    case TSettingsField::Photo_time:
      return "Photo_time";
    case TSettingsField::PhotoLevel:
      return "PhotoLevel";
  }
  return "";
}

// "key  value unit" lines of the tool's listing, as key -> value.
std::map<std::string, std::string> ListedValues(const std::string& listing) {
  std::map<std::string, std::string> values;
  std::istringstream lines(listing);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string key;
    std::string value;
    if (words >> key >> value) values[key] = value;
  }
  return values;
}

TSettings With(std::initializer_list<std::pair<std::size_t, int>> changes) {
  TSettings settings = TVirtualStaircaseController::kDefaultSettings;
  for (const auto& [at, value] : changes) settings[at] = static_cast<std::uint8_t>(value);
  return settings;
}

}  // namespace

Q_DECLARE_METATYPE(TSettings)

class WindowAndToolTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<TSimPlatform> platform;
  std::unique_ptr<TQtMainThreadPort> port;
  std::unique_ptr<TMainWindow> window;
  std::shared_ptr<TVirtualStaircaseController> controller;
  std::string error;

  // Reads the controller into the window, as the read button does.
  bool ReadIntoWindow() {
    const std::int64_t readsBefore = platform->Counters().ReadsBegun;
    QTest::mouseClick(window->Form().Read_btn, Qt::LeftButton);
    return WaitUntil([&] { return platform->Counters().ReadsBegun > readsBefore; });
  }

  // Pastes `text` over a field's text as a user does, and leaves the field. (Typed key by key,
  // "10" would not survive the field's check on every change: "1" is below its minimum.)
  void Enter(TSpinEdit* field, const QString& text) {
    field->setFocus(Qt::TabFocusReason);
    QApplication::clipboard()->setText(text);
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    window->Form().Write_btn->setFocus(Qt::TabFocusReason);
  }

  void Change(const std::string& key, const std::string& text) {
    TSettingsCodec& codec = window->Link().Codec();
    const QColor color(QString::fromStdString(text));
    if (key == kMainColorKey) {
      codec.SetMainColorValue(ToColorValue(color));  // what a pick in the colour dialog stores
    } else if (key == kIdleColorKey) {
      codec.SetIdleColorValue(ToColorValue(color));
    } else if (key == "photo_level") {
      window->Form().PhotoLevel->SetValue(std::stoi(text));
    } else {
      const TFieldRule* rule = FindFieldRule(key);
      QVERIFY(rule != nullptr);
      Enter(window->findChild<TSpinEdit*>(ControlName(rule->Field)), QString::fromStdString(text));
    }
  }

  // The window's controls as text, in the tool's units.
  std::map<std::string, std::string> WindowValues() {
    std::map<std::string, std::string> values;
    for (const TFieldRule& rule : kFieldRules) {
      values[std::string(rule.Key)] =
          rule.Field == TSettingsField::PhotoLevel
              ? std::to_string(window->Form().PhotoLevel->Value())
              : window->findChild<TSpinEdit*>(ControlName(rule.Field))->text().toStdString();
    }
    values[std::string(kMainColorKey)] = ColorText(window->Link().Codec().MainColorValue());
    values[std::string(kIdleColorKey)] = ColorText(window->Link().Codec().IdleColorValue());
    return values;
  }

 private slots:
  void initTestCase() {
    TCustomSpinEdit::SetNumberFormat(TNumberFormat{u'.', u','});
    platform = std::make_unique<TSimPlatform>();
    port = testing::MakeRecordingPort(error);
    window = std::make_unique<TMainWindow>(*platform, *port);
    window->show();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    controller = testing::PlugController(*platform);
    QTRY_VERIFY(window->Form().Device_status_LED->Status());
    QTRY_VERIFY(platform->Counters().ReadsBegun > 0);
  }

  void cleanupTestCase() {
    window.reset();
    port.reset();
    platform.reset();
  }

  void fieldsHoldTheToolsRanges() {
    for (const TFieldRule& rule : kFieldRules) {
      const std::string name = ControlName(rule.Field);
      if (rule.Kind == TFieldKind::Slider) {
        TSlider* slider = window->Form().PhotoLevel;
        QCOMPARE(Extended{slider->MinValue()}, rule.MinValue);
        QCOMPARE(Extended{slider->MaxValue()}, rule.MaxValue);
        continue;
      }
      auto* field = window->findChild<TSpinEdit*>(QString::fromStdString(name));
      if (field == nullptr) QFAIL(name.c_str());
      QVERIFY2(field->MinValue() == rule.MinValue, name.c_str());
      QVERIFY2(field->MaxValue() == rule.MaxValue, name.c_str());
      QVERIFY2(field->CheckMinValue() && field->CheckMaxValue(), name.c_str());
      const bool decimal = rule.Kind == TFieldKind::Decimal;
      QCOMPARE(field->ValueType(), decimal ? TCustomSpinEdit::vtFloat : TCustomSpinEdit::vtInteger);
      if (decimal) QCOMPARE(field->Decimal(), rule.Decimals);
    }
  }

  void sameReportsAsTheTool_data() {
    QTest::addColumn<TSettings>("held");
    QTest::addColumn<QStringList>("changes");
    const TSettings defaults = TVirtualStaircaseController::kDefaultSettings;
    QTest::addRow("defaults") << defaults << QStringList{"stairs=10"};
    QTest::addRow("sensor 2.12") << defaults << QStringList{"sensor_time=2.12"};
    QTest::addRow("sensor 2.36") << defaults << QStringList{"sensor_time=2.36"};
    QTest::addRow("sensor 2.5") << defaults << QStringList{"sensor_time=2.5"};
    QTest::addRow("sensor 0.1") << defaults << QStringList{"sensor_time=0.1"};
    QTest::addRow("sensor 0.125 shown as 0.13") << defaults << QStringList{"sensor_time=0.125"};
    QTest::addRow("sensor 0.159 shown as 0.16") << defaults << QStringList{"sensor_time=0.159"};
    QTest::addRow("sensor 25e-1") << defaults << QStringList{"sensor_time=25e-1"};
    QTest::addRow("sensor 0") << defaults << QStringList{"sensor_time=0"};
    QTest::addRow("on-time 20 at 10 x 120")
        << defaults << QStringList{"stairs=10", "leds_per_stair=120", "on_time=20"};
    QTest::addRow("on-time 20 at 6 x 201")
        << defaults << QStringList{"stairs=6", "leds_per_stair=201", "on_time=20"};
    QTest::addRow("on-time 20 at 20 x 100")
        << defaults << QStringList{"stairs=20", "leds_per_stair=100", "on_time=20"};
    QTest::addRow("on-time 1 at 250 x 240")
        << defaults << QStringList{"stairs=250", "leds_per_stair=240", "on_time=1"};
    QTest::addRow("on-time 300 at 250 x 240")
        << defaults << QStringList{"stairs=250", "leds_per_stair=240", "on_time=300"};
    QTest::addRow("counts at their limits")
        << defaults << QStringList{"stairs=3", "leds_per_stair=240", "standby_leds=120"};
    QTest::addRow("standby none") << defaults << QStringList{"standby_leds=0"};
    QTest::addRow("delay 1") << defaults << QStringList{"delay=1"};
    QTest::addRow("delay 300") << defaults << QStringList{"delay=300"};
    QTest::addRow("photo-sensor at its limits")
        << defaults << QStringList{"photo_time=1800", "photo_level=1000"};
    QTest::addRow("photo level off the slider's step")
        << defaults << QStringList{"photo_level=110"};
    QTest::addRow("colours") << defaults
                             << QStringList{"main_colour=#FF8000", "standby_colour=#003030"};
    QTest::addRow("black") << defaults << QStringList{"main_colour=#000000"};
    QTest::addRow("held on-time 31 ticks shows 1 s")
        << With({{kOnTime, 31}, {kOnTime + 1, 0}}) << QStringList{"delay=20"};
    QTest::addRow("held sensor 53 ticks shows 2.12")
        << With({{kSensor, 53}}) << QStringList{"standby_leds=2"};
    QTest::addRow("held counts beyond the fields")
        << With({{0, 255}, {1, 2}, {2, 200}}) << QStringList{"delay=10"};
    QTest::addRow("held counts changed, on-time kept in seconds")
        << With({{0, 20}, {1, 100}, {kOnTime, 0x1C}, {kOnTime + 1, 1}})
        << QStringList{"stairs=250", "leds_per_stair=240"};
  }

  // The window and the tool each write `changes` to a controller holding `held`; both must send
  // the same report and then read back the same texts. `windowReport` is what the window sent.
  void WriteFromBoth(const TSettings& held,
                     const QStringList& changes,
                     std::vector<std::uint8_t>& windowReport) {
    // The window: read, change the controls, write, read again.
    controller->SetSettings(held);
    QVERIFY(ReadIntoWindow());
    for (const QString& change : changes) {
      const auto at = change.indexOf(QLatin1Char('='));
      Change(change.left(at).toStdString(), change.mid(at + 1).toStdString());
    }
    const std::size_t before = controller->ReceivedCount();
    QTest::mouseClick(window->Form().Write_btn, Qt::LeftButton);
    QCOMPARE(controller->ReceivedCount(), before + 1);
    windowReport = controller->ReceivedReports().back();
    QVERIFY(ReadIntoWindow());

    // The tool, on a controller of its own that holds the same.
    TSimPlatform toolPlatform;
    const auto toolController = testing::PlugController(toolPlatform);
    toolController->SetSettings(held);
    testing::TTestHost host(&toolPlatform);
    std::vector<std::string> args = {"write"};
    for (const QString& change : changes) args.push_back(change.toStdString());
    QCOMPARE(RunCli(args, host), 0);
    const auto toolWrites = testing::WritesTo(*toolController);
    QCOMPARE(toolWrites.size(), std::size_t{1});

    QCOMPARE(Hex(toolWrites[0]), Hex(windowReport));
    const auto listed = ListedValues(host.OutText());
    for (const auto& [key, value] : WindowValues()) {
      QVERIFY2(listed.contains(key), key.c_str());
      QCOMPARE(QString::fromStdString(listed.at(key)), QString::fromStdString(value));
    }
    QCOMPARE(QString::fromStdString(error), QString());
  }

  void sameReportsAsTheTool() {
    QFETCH(TSettings, held);
    QFETCH(QStringList, changes);
    std::vector<std::uint8_t> windowReport;
    WriteFromBoth(held, changes, windowReport);
  }

  // A decimal typed with more digits than the field shows is rounded as a person reads it: the
  // half of 0.955 goes up, although its nearest binary value lies a hair below it. `shown` is
  // the field once the controller's answer is read back.
  void decimalsRoundAsTheyRead_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("ticks");
    QTest::addRow("0.955") << "0.955"
                           << "0.96" << 24;
    QTest::addRow("1.035") << "1.035"
                           << "1.04" << 26;
  }

  void decimalsRoundAsTheyRead() {
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(int, ticks);
    std::vector<std::uint8_t> windowReport;
    WriteFromBoth(TVirtualStaircaseController::kDefaultSettings, {"sensor_time=" + typed},
                  windowReport);
    if (QTest::currentTestFailed()) return;
    QCOMPARE(window->findChild<TSpinEdit*>("Sensor_time")->text(), shown);
    QCOMPARE(static_cast<int>(windowReport.at(2 + kSensor)), ticks);
  }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  WindowAndToolTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "window_and_tool_test.moc"
