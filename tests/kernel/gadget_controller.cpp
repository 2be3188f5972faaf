// The staircase controller on the device side of a USB gadget, inside the kernel test's virtual
// machine: it reads the output reports the host writes to the gadget's /dev/hidgN and answers
// them through the tests' virtual controller, so the device the real kernel sees and the one the
// other tests see speak the same protocol and cannot drift apart.
//
//   glowstep-gadget-controller --device /dev/hidg0 --log FILE [--settings HEX]
//                              [--stall-after N] [--short N] [--vanish-after N --udc FILE]
//
//   --settings HEX    the 19 settings bytes it starts with (default: a factory-fresh controller)
//   --stall-after N   takes N reports, then stops reading: the gadget's queue fills and the host's
//                     writes wait until the kernel gives them up
//   --short N         answers with the first N bytes of each reply only
//   --vanish-after N  on the Nth report, unbinds the gadget from its controller (writes to the
//                     UDC file) instead of answering: the device is unplugged under the host
//
// Once the device is open, "ready" and "settings <hex>" (the settings it starts with) are logged;
// then each report received as a line "report <hex>", report ID first as the host wrote it,
// followed by "settings <hex>" with the settings held afterwards. Lines are written whole, so the
// log can be read while it grows.
#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "testing/virtual_staircase_controller.h"

namespace {

using glowstep::TVirtualStaircaseController;

struct TOptions {
  std::string Device = "/dev/hidg0";
  std::string Log;
  std::optional<TVirtualStaircaseController::TSettings> Settings;
  std::optional<long> StallAfter;
  std::optional<std::size_t> Short;
  std::optional<long> VanishAfter;
  std::string Udc;
};

// The gadget's reports carry no report ID: 64 bytes each way.
constexpr std::size_t kGadgetReportSize = TVirtualStaircaseController::kReportSize - 1;

[[noreturn]] void Fail(const std::string& message) {
  std::fprintf(stderr, "glowstep-gadget-controller: %s\n", message.c_str());
  std::exit(2);
}

std::string Hex(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const std::uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xF];
  }
  return text;
}

long Number(std::string_view text, std::string_view option) {
  long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 0)
    Fail("bad number for " + std::string(option) + ": " + std::string(text));
  return value;
}

TVirtualStaircaseController::TSettings SettingsFromHex(std::string_view text) {
  TVirtualStaircaseController::TSettings settings{};
  if (text.size() != settings.size() * 2) Fail("--settings takes 38 hex digits");
  for (std::size_t i = 0; i < settings.size(); ++i) {
    unsigned value = 0;
    const char* begin = text.data() + 2 * i;
    const auto [end, error] = std::from_chars(begin, begin + 2, value, 16);
    if (error != std::errc() || end != begin + 2) Fail("--settings takes 38 hex digits");
    settings[i] = static_cast<std::uint8_t>(value);
  }
  return settings;
}

TOptions ParseOptions(int argc, char** argv) {
  TOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view option = argv[i];
    if (i + 1 >= argc) Fail("missing value for " + std::string(option));
    const std::string_view value = argv[++i];
    if (option == "--device") {
      options.Device = value;
    } else if (option == "--log") {
      options.Log = value;
    } else if (option == "--settings") {
      options.Settings = SettingsFromHex(value);
    } else if (option == "--stall-after") {
      options.StallAfter = Number(value, option);
    } else if (option == "--short") {
      options.Short = static_cast<std::size_t>(Number(value, option));
    } else if (option == "--vanish-after") {
      options.VanishAfter = Number(value, option);
    } else if (option == "--udc") {
      options.Udc = value;
    } else {
      Fail("unknown option " + std::string(option));
    }
  }
  if (options.Log.empty()) Fail("--log is required");
  if (options.VanishAfter && options.Udc.empty()) Fail("--vanish-after needs --udc");
  return options;
}

class TLog {
 public:
  explicit TLog(const std::string& path)
      : Fd_(open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644)) {
    if (Fd_ < 0) Fail("cannot open the log " + path + ": " + std::strerror(errno));
  }
  TLog(const TLog&) = delete;
  TLog& operator=(const TLog&) = delete;
  ~TLog() { close(Fd_); }

  void Line(const std::string& text) const {
    const std::string line = text + "\n";
    [[maybe_unused]] const ssize_t n = write(Fd_, line.data(), line.size());
  }

 private:
  int Fd_;
};

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  ssize_t n = 0;
  do {
    n = write(fd, data, size);
  } while (n < 0 && errno == EINTR);
  return n == static_cast<ssize_t>(size);
}

}  // namespace

int main(int argc, char** argv) {
  const TOptions options = ParseOptions(argc, argv);
  const TLog log(options.Log);
  TVirtualStaircaseController controller;
  if (options.Settings) controller.SetSettings(*options.Settings);

  const int fd = open(options.Device.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) Fail("cannot open " + options.Device + ": " + std::strerror(errno));
  log.Line("ready");
  log.Line("settings " + Hex(controller.Settings()));

  long received = 0;
  for (;;) {
    if (options.StallAfter && received >= *options.StallAfter) {
      log.Line("stalled");
      for (;;) pause();
    }
    // Byte 0 stands for the report ID the host wrote and the kernel left out.
    std::vector<std::uint8_t> report(TVirtualStaircaseController::kReportSize, 0);
    const ssize_t n = read(fd, report.data() + 1, kGadgetReportSize);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      log.Line(std::string("read ended: ") + (n < 0 ? std::strerror(errno) : "end of file"));
      return 1;
    }
    report.resize(static_cast<std::size_t>(n) + 1);
    ++received;
    const auto replies = controller.OutputReport(report);
    log.Line("report " + Hex(report));
    log.Line("settings " + Hex(controller.Settings()));

    if (options.VanishAfter && received == *options.VanishAfter) {
      const int udc = open(options.Udc.c_str(), O_WRONLY | O_CLOEXEC);
      const bool unbound =
          udc >= 0 && WriteAll(udc, reinterpret_cast<const std::uint8_t*>("\n"), 1);
      if (udc >= 0) close(udc);
      log.Line(unbound ? "vanished" : std::string("cannot unbind: ") + std::strerror(errno));
      for (;;) pause();
    }
    for (const auto& reply : replies) {
      std::size_t size = std::min(reply.size() - 1, kGadgetReportSize);
      if (options.Short) size = std::min(size, *options.Short);
      if (!WriteAll(fd, reply.data() + 1, size)) {
        log.Line(std::string("answer failed: ") + std::strerror(errno));
        return 1;
      }
      log.Line("answered " + std::to_string(size));
    }
  }
}
