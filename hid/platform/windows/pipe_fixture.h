// A named pipe standing in for the staircase controller on the Windows platform: what the tests
// and the benchmark run the whole HID stack on when no device is plugged in.
//
// Only the setup service and the HID library are replaced, so that the scan finds the pipe as
// one HID interface with 65-byte reports. Files, writes, reads with their completion routines
// and the notification window are the platform's own; closing the pipe's server ends is a real
// unplug. The reads the platform makes are counted each time one of their waits returns.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "hid/platform/windows/windows_internal.h"
#include "hid/platform/windows/windows_platform.h"

namespace glowstep {

// The server end of a message-mode named pipe. A client open needs a listening server instance:
// AddInstance makes one, and the next client connects to it.
class TStandInPipe {
 public:
  // Each server instance buffers this many bytes a client wrote before its writes wait.
  static constexpr DWORD kBufferSize = 4096;

  TStandInPipe();
  TStandInPipe(const TStandInPipe&) = delete;
  TStandInPipe& operator=(const TStandInPipe&) = delete;
  ~TStandInPipe();

  const std::string& Path() const { return Path_; }

  HANDLE AddInstance();
  static bool Send(HANDLE instance, const std::vector<std::uint8_t>& bytes);
  // The next message a client wrote to `instance`, or nothing.
  static std::vector<std::uint8_t> Receive(HANDLE instance);
  static bool ClientGone(HANDLE instance);
  // The device goes away: every server instance closes.
  void CloseAll();

 private:
  std::string Path_;
  std::vector<HANDLE> Instances_;
};

class TPipePlatform final : public TWindowsPlatform {
 public:
  static constexpr std::uint16_t kReportLength = 65;
  static constexpr std::uint32_t kDeviceInstance = 0x4711;

  explicit TPipePlatform(TStandInPipe& pipe) : Pipe_(pipe) {}

  std::atomic<bool> Present = true;    // whether the scan finds the device
  std::atomic<bool> Listening = true;  // whether an open finds a server instance

  // The server end of the newest open with `access`.
  HANDLE ServerOf(TFileAccess access);
  // How many times a wait of a read made by this platform has begun, and returned: a reader
  // waits now while the two differ.
  std::int64_t WaitsBegun() const { return WaitsBegun_.load(); }
  std::int64_t WaitsReturned() const { return WaitsReturned_.load(); }

  TDeviceInfoSet GetClassDevs(const TGuid&) override { return 1; }
  bool EnumDeviceInterfaces(TDeviceInfoSet,
                            const TGuid&,
                            std::uint32_t index,
                            TDeviceInterfaceRecord&) override;
  bool GetDeviceInterfaceDetail(TDeviceInfoSet,
                                const TDeviceInterfaceRecord&,
                                char* pathBuffer,
                                std::uint32_t bufferSize,
                                std::uint32_t& required,
                                TDeviceInfoRecord& info) override;
  bool GetDeviceRegistryProperty(TDeviceInfoSet,
                                 const TDeviceInfoRecord&,
                                 std::uint32_t,
                                 std::uint8_t*,
                                 std::uint32_t) override {
    return false;
  }
  void DestroyDeviceInfoList(TDeviceInfoSet) override {}

  // Each open gets a fresh server instance; a handle that reads takes whole messages, as a read
  // of a HID device takes whole reports.
  THidHandle OpenFile(const std::string& path, TFileAccess access, bool overlapped) override;
  std::unique_ptr<TPlatformRead> CreateRead() override;

  bool GetAttributes(THidHandle, THidAttributes& attributes) override;
  bool GetProductString(THidHandle, char16_t* buffer, std::uint32_t bufferBytes) override;
  bool GetPreparsedData(THidHandle, TPreparsedData& preparsed) override;
  bool FreePreparsedData(TPreparsedData) override { return true; }
  std::int32_t GetCaps(TPreparsedData, THidCaps& caps) override;
  bool SetNumInputBuffers(THidHandle, std::uint32_t) override { return true; }
  bool GetNumInputBuffers(THidHandle, std::uint32_t&) override { return true; }

 private:
  TStandInPipe& Pipe_;
  std::mutex Lock_;
  std::vector<std::pair<TFileAccess, HANDLE>> Opens_;
  std::atomic<std::int64_t> WaitsBegun_{0};
  std::atomic<std::int64_t> WaitsReturned_{0};
};

}  // namespace glowstep
