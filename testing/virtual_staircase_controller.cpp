#include "testing/virtual_staircase_controller.h"

#include <algorithm>

namespace glowstep {

std::vector<std::vector<std::uint8_t>> TVirtualStaircaseController::OutputReport(
    std::span<const std::uint8_t> report) {
  std::lock_guard lock(Lock_);
  ++ReceivedCount_;
  if (Received_.size() == kReportsKept) Received_.pop_front();
  Received_.emplace_back(report.begin(), report.end());
  std::vector<std::vector<std::uint8_t>> replies;
  if (report.size() <= kCommandByte) return replies;
  if (report[kCommandByte] == kReadCommand) {
    std::vector<std::uint8_t> reply(kReportSize, 0);
    reply[kCommandByte] = kReadCommand;
    std::copy(Settings_.begin(), Settings_.end(), reply.begin() + kSettingsBegin);
    replies.push_back(std::move(reply));
  } else if (report[kCommandByte] == kWriteCommand && !DropWrites_ &&
             report.size() >= kSettingsBegin + kSettingsSize) {
    std::copy_n(report.begin() + kSettingsBegin, kSettingsSize, Settings_.begin());
  }
  return replies;
}

void TVirtualStaircaseController::SetDropWrites(bool drop) {
  std::lock_guard lock(Lock_);
  DropWrites_ = drop;
}

TVirtualStaircaseController::TSettings TVirtualStaircaseController::Settings() const {
  std::lock_guard lock(Lock_);
  return Settings_;
}

void TVirtualStaircaseController::SetSettings(const TSettings& settings) {
  std::lock_guard lock(Lock_);
  Settings_ = settings;
}

std::vector<std::vector<std::uint8_t>> TVirtualStaircaseController::ReceivedReports() const {
  std::lock_guard lock(Lock_);
  return {Received_.begin(), Received_.end()};
}

std::size_t TVirtualStaircaseController::ReceivedCount() const {
  std::lock_guard lock(Lock_);
  return ReceivedCount_;
}

}  // namespace glowstep
