// The window's path to the controller without the window: the HID device controller and the
// controller link on this system's HID backend, driven as the window drives them, for the kernel
// test's virtual machine (no display there).
//
//   glowstep-link-probe [--wait MS] COMMAND...
//
//   hold    waits until the link holds a controller ("held <product>")
//   read    asks the controller for its settings and waits for them to arrive or an error to
//           show ("settings <values>" or "no settings")
//   write   writes the settings ("write <ms> ms": how long the write kept the main thread)
//
// Every error the window would show in its error box is printed as "error: <message>" when the
// main loop shows it. The exit status is 0 when every command did what it waits for, else 1.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/numbers.h"
#include "hid/hid_device_controller.h"
#include "hid/main_loop.h"
#include "hid/native_platform.h"
#include "protocol/controller_link.h"
#include "protocol/settings_fields.h"

namespace {

using namespace glowstep;
using TClock = std::chrono::steady_clock;

// The window's controls, as plain values with the controls' types and ranges.
class TProbeView final : public TControllerView {
 public:
  Extended FieldValue(TSettingsField field) const override { return Values_.FieldValue(field); }
  void SetFieldValue(TSettingsField field, Extended value) override {
    Values_.SetFieldValue(field, value);
    ++Changes_;
  }
  void SetSwatchColor(TColorSwatch /*swatch*/, TColor /*color*/) override {}
  void SetDeviceStatus(bool on) override { Held_ = on; }
  void SetPhotoControlsEnabled(bool /*enabled*/) override {}
  void SetErrorCaption(const TMessage& caption) override {
    std::printf("caption: %s\n", caption.English().c_str());
  }
  void ShowError(const TMessage& message) override {
    std::printf("error: %s\n", message.English().c_str());
    std::fflush(stdout);
    ++Errors_;
  }

  bool Held() const { return Held_; }
  int Changes() const { return Changes_; }
  int Errors() const { return Errors_; }
  const StairSettings& Values() const { return Values_.Values(); }

 private:
  TSettingsValues Values_;
  bool Held_ = false;
  int Changes_ = 0;
  int Errors_ = 0;
};

std::string Listing(const StairSettings& settings) {
  std::string text;
  for (const Extended value :
       {settings.Stairs_count, settings.LEDs_in_one_stair, settings.Idle_LEDs, settings.ON_time,
        settings.Delay_time, settings.Sensor_time, settings.Photo_time, settings.PhotoLevel}) {
    text += ToUtf8(FormatGeneral(value)) + " ";
  }
  return text;
}

int Run(std::vector<std::string_view> commands) {
  auto wait = std::chrono::milliseconds(3000);
  if (commands.size() >= 2 && commands[0] == "--wait") {
    wait = std::chrono::milliseconds(std::atoi(std::string(commands[1]).c_str()));
    commands.erase(commands.begin(), commands.begin() + 2);
  }
  const std::unique_ptr<THidBackend> backend = CreateNativeBackend();
  TMainLoop loop;
  loop.SetExceptionHandler([](std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      std::printf("error: %s\n", e.what());
    }
  });
  TProbeView view;
  int status = 0;
  {
    THidDeviceController controller(*backend, loop);
    controller.SetLoading(true);
    TControllerLink link(controller, view);
    link.Bind();
    controller.SetLoading(false);
    link.ResetColors();
    loop.RunPending();

    for (const std::string_view command : commands) {
      if (command == "hold") {
        if (loop.RunUntil([&] { return view.Held(); }, wait)) {
          std::printf("held %s\n", ToUtf8(link.HeldDevice()->QueryProductName()).c_str());
        } else {
          std::printf("not held\n");
          status = 1;
        }
      } else if (command == "read") {
        const int changes = view.Changes();
        const int errors = view.Errors();
        link.RequestSettings();
        if (loop.RunUntil([&] { return view.Changes() != changes || view.Errors() != errors; },
                          wait) &&
            view.Changes() != changes) {
          std::printf("settings %s\n", Listing(view.Values()).c_str());
        } else {
          std::printf("no settings\n");
          status = 1;
        }
      } else if (command == "write") {
        const auto start = TClock::now();
        link.WriteSettings();
        const auto took =
            std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - start);
        std::printf("write %lld ms\n", static_cast<long long>(took.count()));
        loop.RunUntilIdle(wait);  // the errors it posted
      } else {
        std::fprintf(stderr, "glowstep-link-probe: unknown command %.*s\n",
                     static_cast<int>(command.size()), command.data());
        return 2;
      }
    }
    loop.RunUntilIdle(wait);  // errors shown from the loop
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  try {
    return Run(std::vector<std::string_view>(argv + 1, argv + argc));
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "glowstep-link-probe: %s\n", failure.what());
    return 2;
  }
}
