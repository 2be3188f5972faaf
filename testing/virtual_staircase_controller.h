// A staircase controller that answers the settings protocol, plugged into the simulated platform
// by the tests and the demo.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>
#include <vector>

#include "hid/platform/sim/sim_platform.h"
#include "protocol/settings_codec.h"

namespace glowstep {

// The staircase controller as the configurator sees it: one settings record (report bytes 2 to
// 20), answered to every "r" request in a 65-byte input report with the settings at the same
// positions as the write report, and replaced by every "w" report. It counts every report it
// received and keeps the latest ones. One that drops writes counts them and keeps its settings,
// as a controller whose memory refuses them would.
class TVirtualStaircaseController final : public TSimBehaviour {
 public:
  // How many of the latest reports received are kept.
  static constexpr std::size_t kReportsKept = 64;
  static constexpr std::size_t kSettingsBegin = glowstep::kSettingsBegin;
  static constexpr std::size_t kSettingsSize = glowstep::kSettingsSize;
  static constexpr std::size_t kReportSize = kSettingsReportSize;
  using TSettings = std::array<std::uint8_t, kSettingsSize>;
  // The settings of a factory-fresh controller: those the configurator writes by default.
  static constexpr TSettings kDefaultSettings = {0x0A, 0x3C, 0x01, 0x00, 0xFF, 0xFF, 0xFF,
                                                 0x30, 0x30, 0x00, 0xF4, 0x01, 0x77, 0x01,
                                                 0x02, 0x0A, 0x00, 0x64, 0x00};

  std::vector<std::vector<std::uint8_t>> OutputReport(
      std::span<const std::uint8_t> report) override;

  TSettings Settings() const;
  void SetSettings(const TSettings& settings);
  void SetDropWrites(bool drop);
  // The latest reports received, oldest first: at most kReportsKept.
  std::vector<std::vector<std::uint8_t>> ReceivedReports() const;
  // Every report received.
  std::size_t ReceivedCount() const;

 private:
  mutable std::mutex Lock_;
  TSettings Settings_ = kDefaultSettings;
  bool DropWrites_ = false;
  std::deque<std::vector<std::uint8_t>> Received_;
  std::size_t ReceivedCount_ = 0;
};

}  // namespace glowstep
