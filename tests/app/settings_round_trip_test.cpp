// The controller's settings read into the real window and written straight back, through the
// window's own fields and slider, for a table of replies: every tick value of the times, counts
// that the fields clamp, LED totals around the on-time rule's threshold and photo levels above the
// slider's range. Each written report is compared byte for byte with what the fields' rules
// make of the reply, worked out here in exact integer arithmetic.
#include <QApplication>
#include <QTest>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "app/main_window.h"
#include "app/qt_main_thread_port.h"
#include "hid/platform/sim/sim_platform.h"
#include "testing/virtual_staircase_controller.h"
#include "tests/app/event_loop_support.h"
#include "ui_main_window.h"

using namespace glowstep;

namespace {

using testing::Hex;
using testing::WaitUntil;

using TSettings = TVirtualStaircaseController::TSettings;

// Positions in the settings part of a report (report byte - 2).
enum TAt : std::size_t {
  kStairs = 0,
  kLeds = 1,
  kIdle = 2,
  kOnTime = 10,
  kDelay = 12,
  kSensor = 14,
  kPhotoTime = 15,
  kLevel = 17,
};

int Word(const TSettings& s, std::size_t at) { return s[at] + 256 * s[at + 1]; }

void PutWord(TSettings& s, std::size_t at, int value) {
  s[at] = static_cast<std::uint8_t>(value & 0xFF);
  s[at + 1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

// p / q to the nearest integer, halves to the even neighbour (p >= 0, q > 0).
std::int64_t Nearest(std::int64_t p, std::int64_t q) {
  const std::int64_t whole = p / q;
  const std::int64_t twice = 2 * (p % q);
  if (twice > q || (twice == q && whole % 2 != 0)) return whole + 1;
  return whole;
}

// What the window writes back after reading `reply`: each count clamped to its field's range;
// the on-time shown in whole seconds (1 to 300) and sent in 40 ms ticks, or in units of
// k = N * 0.88 / 1000 ticks when the fields hold more than 1200 LEDs in all; the delay likewise
// in ticks; the sensor time shown with two decimals (0 to 2.50) and sent as the truncated
// product of what its text reads as with 25; the photo-sensor time in seconds (1 to 1800) and
// the level (0 to 1000) as they are. The colours go back as they came.
TSettings WrittenBack(const TSettings& reply) {
  TSettings out = reply;
  out[3] = 0;
  const int stairs = std::clamp<int>(reply[kStairs], 3, 250);
  const int leds = std::clamp<int>(reply[kLeds], 3, 240);
  out[kStairs] = static_cast<std::uint8_t>(stairs);
  out[kLeds] = static_cast<std::uint8_t>(leds);
  out[kIdle] = static_cast<std::uint8_t>(std::min<int>(reply[kIdle], 120));

  const std::int64_t total = std::int64_t{stairs} * leds;
  const int onWire = Word(reply, kOnTime);
  if (total <= 1200) {
    const auto seconds = std::clamp<std::int64_t>(Nearest(onWire, 25), 1, 300);
    PutWord(out, kOnTime, static_cast<int>(seconds * 25));
  } else {
    // Seconds = wire * k / 25 and wire = seconds * 25 / k, with k = total * 88 / 100000.
    const auto seconds = std::clamp<std::int64_t>(Nearest(onWire * total * 88, 2500000), 1, 300);
    PutWord(out, kOnTime, static_cast<int>(Nearest(seconds * 2500000, total * 88)));
  }

  const auto delay = std::clamp<std::int64_t>(Nearest(Word(reply, kDelay), 25), 1, 300);
  PutWord(out, kDelay, static_cast<int>(delay * 25));

  // 0.04 s per tick: the field shows hundredths = 4 * ticks exactly, up to 2.50. The texts 2.12
  // and 2.36 read as the extended values just below them, one tick short once truncated.
  const int hundredths = std::min(4 * reply[kSensor], 250);
  int sensor = hundredths / 4;
  if (hundredths == 212 || hundredths == 236) --sensor;
  out[kSensor] = static_cast<std::uint8_t>(sensor);

  PutWord(out, kPhotoTime, std::clamp(Word(reply, kPhotoTime), 1, 1800));
  PutWord(out, kLevel, std::min(Word(reply, kLevel), 1000));
  return out;
}

std::vector<std::uint8_t> WriteReport(const TSettings& settings) {
  std::vector<std::uint8_t> report(TVirtualStaircaseController::kReportSize, 0);
  report[1] = 'w';
  std::copy(settings.begin(), settings.end(),
            report.begin() + TVirtualStaircaseController::kSettingsBegin);
  return report;
}

}  // namespace

Q_DECLARE_METATYPE(TSettings)

class SettingsRoundTripTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<TSimPlatform> platform;
  std::unique_ptr<TQtMainThreadPort> port;
  std::unique_ptr<TMainWindow> window;
  std::shared_ptr<TVirtualStaircaseController> controller;
  std::string error;

 private slots:
  void initTestCase() {
    TCustomSpinEdit::SetNumberFormat(TNumberFormat{u'.', u','});
    platform = std::make_unique<TSimPlatform>();
    port = testing::MakeRecordingPort(error);
    window = std::make_unique<TMainWindow>(*platform, *port);
    controller = std::make_shared<TVirtualStaircaseController>();
    TSimInterfaceSpec setup;
    setup.ProductString = u"Glowstep 3.2";
    setup.Behaviour = controller;
    platform->Plug(setup);
    QTRY_VERIFY(window->Form().Device_status_LED->Status());
    QTRY_VERIFY(platform->Counters().ReadsBegun > 0);  // the reader waits for replies
  }

  void cleanupTestCase() {
    window.reset();
    port.reset();
    platform.reset();
  }

  void readThenWriteBack_data() {
    QTest::addColumn<TSettings>("reply");
    const TSettings defaults = TVirtualStaircaseController::kDefaultSettings;
    // Every tick value for the times (600 LEDs: the plain on-time rule).
    for (int tick = 0; tick <= 255; ++tick) {
      TSettings reply = defaults;
      PutWord(reply, kOnTime, tick);
      PutWord(reply, kDelay, tick);
      reply[kSensor] = static_cast<std::uint8_t>(tick);
      PutWord(reply, kPhotoTime, tick);
      PutWord(reply, kLevel, 4 * tick);
      QTest::addRow("ticks %d", tick) << reply;
    }
    // Counts beyond the fields' ranges; the on-time is then read with the clamped counts.
    for (int count : {0, 2, 3, 120, 121, 240, 241, 250, 251, 255}) {
      for (std::size_t at : {kStairs, kLeds, kIdle}) {
        TSettings reply = defaults;
        reply[at] = static_cast<std::uint8_t>(count);
        QTest::addRow("count %d at %zu", count, at) << reply;
      }
    }
    // LED totals at and just above the on-time rule's threshold, with every on-time tick value;
    // 5 x 241 is 1205 on the wire but 1200 in the fields.
    const std::array<std::pair<int, int>, 4> totals = {{{10, 120}, {7, 172}, {6, 201}, {5, 241}}};
    for (const auto& [stairs, leds] : totals) {
      for (int tick = 0; tick <= 255; ++tick) {
        TSettings reply = defaults;
        reply[kStairs] = static_cast<std::uint8_t>(stairs);
        reply[kLeds] = static_cast<std::uint8_t>(leds);
        PutWord(reply, kOnTime, tick);
        QTest::addRow("%d x %d, on-time %d", stairs, leds, tick) << reply;
      }
    }
    // Photo-sensor levels and times beyond the controls' ranges.
    for (int level : {999, 1000, 1001, 1020, 4095, 65535}) {
      TSettings reply = defaults;
      PutWord(reply, kLevel, level);
      PutWord(reply, kPhotoTime, level + 800);
      QTest::addRow("level %d", level) << reply;
    }
  }

  void readThenWriteBack() {
    QFETCH(TSettings, reply);
    controller->SetSettings(reply);
    // The reader starts its next read only once the reply has been handled on this thread.
    const std::int64_t readsBefore = platform->Counters().ReadsBegun;
    QTest::mouseClick(window->Form().Read_btn, Qt::LeftButton);
    QVERIFY(WaitUntil([&] { return platform->Counters().ReadsBegun > readsBefore; }));
    const std::size_t writesBefore = controller->ReceivedCount();
    QTest::mouseClick(window->Form().Write_btn, Qt::LeftButton);
    QCOMPARE(controller->ReceivedCount(), writesBefore + 1);
    QCOMPARE(Hex(controller->ReceivedReports().back()), Hex(WriteReport(WrittenBack(reply))));
    QCOMPARE(QString::fromStdString(error), QString());
  }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  SettingsRoundTripTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "settings_round_trip_test.moc"
