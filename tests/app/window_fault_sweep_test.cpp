// The window on the simulated platform with every platform call of the fault sweep's scenario
// failing in turn (see testing/fault_sweep.h): the same checks as for the controller link, here
// through the window's own controls, error boxes and Qt's event loop.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <memory>

#include "app/application.h"
#include "app/main_window.h"
#include "app/qt_main_thread_port.h"
#include "testing/fault_sweep.h"
#include "ui_main_window.h"
#include "widgets/led.h"

using namespace glowstep;

namespace {

// The window as the program builds it (main.cpp), with the error boxes written down instead of
// shown.
class TWindowApp final : public TSweepApp {
 public:
  explicit TWindowApp(THidBackend& platform)
      : Port_([](std::exception_ptr error) { TApplication::Instance()->ShowException(error); }),
        Window_(std::make_unique<TMainWindow>(platform, Port_)) {
    TApplication::Instance()->SetErrorPresenter(
        [this](const QString& /*caption*/, const QString& text) {
          Messages_.push_back(text.toStdString());
        });
  }
  TWindowApp(const TWindowApp&) = delete;
  TWindowApp& operator=(const TWindowApp&) = delete;
  ~TWindowApp() override {
    Window_.reset();
    TApplication::Instance()->SetErrorPresenter(nullptr);
  }

  THidDeviceController& HidController() override { return Window_->HidController(); }
  TControllerLink& Link() override { return Window_->Link(); }
  TSettingsControls& Controls() override { return *Window_; }
  TMainThreadPort& Port() override { return Port_; }

  bool RunEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds bound) override {
    QElapsedTimer clock;
    clock.start();
    // Wakes the loop now and then: `done` may depend on the readers, which post nothing.
    QTimer tick;
    tick.start(5);
    while (!done()) {
      if (clock.elapsed() > bound.count()) return false;
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
  }

  bool Led() const override { return Window_->Form().Device_status_LED->Status(); }
  bool ErrorCaptionShown() const override {
    return Window_->Form().Label2->text() == QLatin1String(kReadErrorCaption.English);
  }
  void ClearErrorCaption() override { Window_->Form().Label2->setText(QStringLiteral(">")); }
  std::vector<std::string> Messages() const override { return Messages_; }

  void ClickRead() override { QTest::mouseClick(Window_->Form().Read_btn, Qt::LeftButton); }
  void ClickWrite() override { QTest::mouseClick(Window_->Form().Write_btn, Qt::LeftButton); }
  void EditField(TSettingsField field, Extended value) override {
    Window_->SetFieldValue(field, value);
  }

 private:
  TQtMainThreadPort Port_;
  std::unique_ptr<TMainWindow> Window_;
  std::vector<std::string> Messages_;
};

std::unique_ptr<TSweepApp> MakeWindowApp(THidBackend& platform) {
  return std::make_unique<TWindowApp>(platform);
}

}  // namespace

class WindowFaultSweepTest : public QObject {
  Q_OBJECT

 private:
  static void SweepPasses(TFaultLayer layer, bool from) {
    TSweepOptions options;
    options.Once = !from;
    options.From = from;
    const TSweepReport report = Sweep(MakeWindowApp, layer, options);
    std::printf("window, %s\n", report.Summary(layer).c_str());
    QVERIFY(report.Calls > 0);
    QVERIFY2(report.Failed.empty() && report.Unreached.empty(), report.Problems().c_str());
  }

 private slots:
  void everySystemCallFailingAlone() { SweepPasses(TFaultLayer::System, false); }
  void everySystemCallFailingWithAllLaterOnes() { SweepPasses(TFaultLayer::System, true); }
};

int main(int argc, char** argv) {
  TApplication app(argc, argv);
  WindowFaultSweepTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "window_fault_sweep_test.moc"
