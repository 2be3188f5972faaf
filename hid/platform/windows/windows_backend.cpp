#include "hid/platform/windows/windows_backend.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "base/scope_guard.h"

namespace glowstep {

namespace {

// "The data is invalid": the HID library could not describe the device's reports.
constexpr std::uint32_t kErrorInvalidData = 13;

// The calling thread's last error as an error value; a call that failed without saying why still
// fails.
THidError SystemError(THidPlatform& platform) {
  const std::uint32_t code = platform.LastError();
  return {code != 0 ? code : kErrorGenFailure, 0};
}

// The registry properties of one interface, read as the setup service stores them.
class TPropertyReader {
 public:
  TPropertyReader(THidPlatform& platform, TDeviceInfoSet set, const TDeviceInfoRecord& info)
      : Platform_(platform), Set_(set), Info_(info) {}

  // The text up to its first zero byte; a text that fills the buffer ends with the buffer.
  std::string Text(std::uint32_t property) {
    std::vector<std::uint8_t> buffer(TWindowsHidBackend::kTextBufferSize, 0);
    Platform_.GetDeviceRegistryProperty(Set_, Info_, property, buffer.data(),
                                        TWindowsHidBackend::kTextBufferSize);
    const auto end = std::find(buffer.begin(), buffer.end(), std::uint8_t{0});
    return std::string(buffer.begin(), end);
  }

  // Zero-separated texts, ending at the first empty one or at the end of the buffer.
  std::vector<std::string> TextList(std::uint32_t property) {
    std::vector<std::uint8_t> buffer(TWindowsHidBackend::kTextListBufferSize, 0);
    Platform_.GetDeviceRegistryProperty(Set_, Info_, property, buffer.data(),
                                        TWindowsHidBackend::kTextListBufferSize);
    std::vector<std::string> list;
    auto begin = buffer.begin();
    while (begin != buffer.end()) {
      const auto end = std::find(begin, buffer.end(), std::uint8_t{0});
      if (end == begin) break;
      list.emplace_back(begin, end);
      if (end == buffer.end()) break;
      begin = end + 1;
    }
    return list;
  }

  std::uint32_t Number(std::uint32_t property) {
    std::uint8_t bytes[4] = {};
    if (!Platform_.GetDeviceRegistryProperty(Set_, Info_, property, bytes, sizeof bytes)) return 0;
    std::uint32_t value = 0;
    std::memcpy(&value, bytes, sizeof value);
    return value;
  }

  void ReadInto(THidPnPProperties& properties) {
    properties.Capabilities = Number(spdrp::Capabilities);
    properties.Class = Text(spdrp::Class);
    properties.ClassGuid = Text(spdrp::ClassGuid);
    properties.CompatibleIds = TextList(spdrp::CompatibleIds);
    properties.ConfigFlags = Number(spdrp::ConfigFlags);
    properties.DeviceDesc = Text(spdrp::DeviceDesc);
    properties.Driver = Text(spdrp::Driver);
    properties.FriendlyName = Text(spdrp::FriendlyName);
    properties.HardwareId = TextList(spdrp::HardwareId);
    properties.LowerFilters = TextList(spdrp::LowerFilters);
    properties.Mfg = Text(spdrp::Mfg);
    properties.UpperFilters = TextList(spdrp::UpperFilters);
    properties.Service = Text(spdrp::Service);
    properties.Address = Text(spdrp::Address);
    properties.BusNumber = Number(spdrp::BusNumber);
    properties.BusTypeGuid = Text(spdrp::BusTypeGuid);
    properties.Characteristics = Text(spdrp::Characteristics);
    properties.DevType = Number(spdrp::DevType);
    properties.EnumeratorName = Text(spdrp::EnumeratorName);
    properties.Exclusive = Number(spdrp::Exclusive);
    properties.LegacyBusType = Number(spdrp::LegacyBusType);
    properties.LocationInformation = Text(spdrp::LocationInformation);
    properties.PhysicalDeviceObjectName = Text(spdrp::PhysicalDeviceObjectName);
    properties.SecuritySds = Text(spdrp::SecuritySds);
    properties.UiNumber = Number(spdrp::UiNumber);
    properties.UiNumberDescFormat = Text(spdrp::UiNumberDescFormat);
  }

 private:
  THidPlatform& Platform_;
  TDeviceInfoSet Set_;
  const TDeviceInfoRecord& Info_;
};

// One open file handle of a HID interface.
class TWindowsConnection final : public THidConnection {
 public:
  TWindowsConnection(THidPlatform& platform, THidHandle handle, std::string path)
      : Platform_(platform), Handle_(handle) {
    Record_.Path = std::move(path);
  }
  TWindowsConnection(const TWindowsConnection&) = delete;
  TWindowsConnection& operator=(const TWindowsConnection&) = delete;

  ~TWindowsConnection() override {
    // Read leaves no read outstanding, so the read object goes, and the handle closes, with
    // nothing of the system still writing to a buffer.
    Read_.reset();
    Platform_.CloseFile(Handle_);
  }

  const THidInterfaceRecord& Interface() const override { return Record_; }

  // The system says nothing of an interface that has gone until it is asked something.
  THidError Status() override { return {}; }

  THidError Write(std::span<const std::uint8_t> report,
                  std::uint32_t& written,
                  std::chrono::milliseconds limit) override {
    written = 0;
    if (Platform_.WriteTimeLimit() != limit) Platform_.SetWriteTimeLimit(limit);
    if (!Platform_.WriteFile(Handle_, report.data(), static_cast<std::uint32_t>(report.size()),
                             written))
      return SystemError(Platform_);
    return {};
  }

  // A read that cannot start says so when it is begun.
  THidError ReadStartError() override { return {}; }

  THidReadResult Read(std::span<std::uint8_t> buffer) override {
    TPlatformRead* read = nullptr;
    {
      std::lock_guard lock(WakeLock_);
      if (WakeSet_) {
        WakeSet_ = false;
        return THidReadResult{0, {}, true};
      }
      // Made on the thread that reads, the only one that begins, waits for and cancels reads.
      if (Read_ == nullptr) Read_ = Platform_.CreateRead();
      read = Read_.get();
    }
    if (buffer.empty()) return THidReadResult{0, {kErrorInvalidParameter, 0}, false};
    const auto length = static_cast<std::uint32_t>(buffer.size());
    if (!read->Begin(Handle_, buffer.data(), length))
      return THidReadResult{0, SystemError(Platform_), false};
    while (read->Wait(TWindowsHidBackend::kReadSliceMs) != kWaitIoCompletion) {
      if (!TakeWake()) continue;
      // Taken back before Read returns: the buffer is the caller's again.
      read->Cancel(Handle_);
      return THidReadResult{0, {}, true};
    }
    std::uint32_t count = 0;
    if (!read->Result(Handle_, count)) return THidReadResult{0, SystemError(Platform_), false};
    return THidReadResult{std::min(count, length), {}, false};
  }

  void Wake() override {
    std::lock_guard lock(WakeLock_);
    WakeSet_ = true;
    if (Read_ != nullptr) Read_->Wake();
  }

  THidError SetInputBuffers(std::uint32_t count) override {
    Requested_ = count;
    if (!Platform_.SetNumInputBuffers(Handle_, count)) return SystemError(Platform_);
    return {};
  }

  // What the HID library says; the count last asked for when it cannot say.
  std::uint32_t InputBuffers() override {
    std::uint32_t count = 0;
    return Platform_.GetNumInputBuffers(Handle_, count) ? count : Requested_;
  }

  THidError Attributes(THidAttributes& attributes) override {
    if (!Platform_.GetAttributes(Handle_, attributes)) return SystemError(Platform_);
    return {};
  }

  THidError ProductString(std::u16string& text) override {
    std::u16string buffer(TWindowsHidBackend::kProductStringChars, u'\0');
    if (!Platform_.GetProductString(Handle_, buffer.data(),
                                    static_cast<std::uint32_t>(buffer.size() * sizeof(char16_t))))
      return SystemError(Platform_);
    text = buffer.substr(0, buffer.find(u'\0'));
    return {};
  }

  THidError Caps(THidCaps& caps) override {
    TPreparsedData preparsed = 0;
    if (!Platform_.GetPreparsedData(Handle_, preparsed)) return SystemError(Platform_);
    THidCaps described;
    const std::int32_t status = Platform_.GetCaps(preparsed, described);
    Platform_.FreePreparsedData(preparsed);
    if (status != kHidpStatusSuccess) return {kErrorInvalidData, 0};
    caps = described;
    return {};
  }

  THidAccessReason AccessReason() override { return Platform_.QueryAccessReason(Handle_); }

 private:
  bool TakeWake() {
    std::lock_guard lock(WakeLock_);
    return std::exchange(WakeSet_, false);
  }

  THidPlatform& Platform_;
  const THidHandle Handle_;
  THidInterfaceRecord Record_;
  std::mutex WakeLock_;
  bool WakeSet_ = false;                 // a wake not yet taken by a read
  std::unique_ptr<TPlatformRead> Read_;  // made at the first read
  std::uint32_t Requested_ = 0;          // the input buffers last asked for
};

}  // namespace

TWindowsHidBackend::TWindowsHidBackend(THidPlatform& platform) : Platform_(platform) {}

TWindowsHidBackend::~TWindowsHidBackend() {
  std::lock_guard lock(Lock_);
  if (Starts_ == 0) return;
  Platform_.Bindings().ReleaseHidBinding();
  Platform_.Bindings().ReleaseSetupBinding();
}

THidError TWindowsHidBackend::Start() {
  std::lock_guard lock(Lock_);
  if (Starts_ > 0) {
    ++Starts_;
    return {};
  }
  THidBindings& bindings = Platform_.Bindings();
  if (!bindings.AcquireSetupBinding()) return SystemError(Platform_);
  if (!bindings.AcquireHidBinding()) {
    const THidError error = SystemError(Platform_);
    bindings.ReleaseSetupBinding();
    return error;
  }
  InterfaceClass_ = Platform_.GetHidGuid();
  Starts_ = 1;
  return {};
}

void TWindowsHidBackend::Stop() {
  std::lock_guard lock(Lock_);
  if (Starts_ == 0 || --Starts_ > 0) return;
  Platform_.Bindings().ReleaseHidBinding();
  Platform_.Bindings().ReleaseSetupBinding();
}

TGuid TWindowsHidBackend::InterfaceClass() const {
  std::lock_guard lock(Lock_);
  return InterfaceClass_;
}

std::vector<THidInterfaceRecord> TWindowsHidBackend::List(THidError& error) {
  std::vector<THidInterfaceRecord> records;
  error = Scan([&records](THidInterfaceRecord record) {
    records.push_back(std::move(record));
    return true;
  });
  if (error) records.clear();
  return records;
}

THidError TWindowsHidBackend::Scan(const TFoundInterface& found) {
  TGuid interfaceClass;
  {
    std::lock_guard lock(Lock_);
    // Without the setup service bound there is nothing to call.
    if (Starts_ == 0) return {kErrorInvalidHandle, 0};
    interfaceClass = InterfaceClass_;
  }
  const TDeviceInfoSet set = Platform_.GetClassDevs(interfaceClass);
  if (set == kInvalidDeviceInfoSet) return SystemError(Platform_);
  const TScopeExit releaseSet([this, set] { Platform_.DestroyDeviceInfoList(set); });

  for (std::uint32_t index = 0;; ++index) {
    TDeviceInterfaceRecord interfaceRecord;
    if (!Platform_.EnumDeviceInterfaces(set, interfaceClass, index, interfaceRecord)) {
      const THidError failure = SystemError(Platform_);
      if (failure.Code == kErrorNoMoreItems) break;
      return failure;
    }
    TDeviceInfoRecord info;
    std::uint32_t needed = 0;
    // Asked with no buffer, the system answers with the size the path needs.
    const bool sized =
        Platform_.GetDeviceInterfaceDetail(set, interfaceRecord, nullptr, 0, needed, info);
    if (!sized) {
      const THidError failure = SystemError(Platform_);
      if (failure.Code != kErrorInsufficientBuffer) return failure;
    }
    if (sized || needed == 0 || needed > kMaxDetailSize) continue;  // no path to read
    std::vector<char> detail(needed, '\0');
    std::uint32_t required = 0;
    info = TDeviceInfoRecord{};
    if (!Platform_.GetDeviceInterfaceDetail(set, interfaceRecord, detail.data(), needed, required,
                                            info))
      return SystemError(Platform_);
    THidInterfaceRecord record;
    record.Path.assign(detail.begin(), std::find(detail.begin(), detail.end(), '\0'));
    record.Identity = info.DevInst;
    const THidStableNames names = Platform_.GetStableNames(set, info, record.Path);
    record.PortName = names.Port;
    record.SerialNumber = names.Serial;
    TPropertyReader(Platform_, set, info).ReadInto(record.Properties);
    // The interface is taken up (its device opened and identified) before the next is listed.
    if (!found(std::move(record))) break;
  }
  return {};
}

std::shared_ptr<THidConnection> TWindowsHidBackend::Open(const std::string& path,
                                                         TFileAccess access,
                                                         THidError& error) {
  error = {};
  // The handles that read or write alone are the overlapped ones; the general handle waits for
  // its answers.
  const bool overlapped = access == TFileAccess::Read || access == TFileAccess::Write;
  const THidHandle handle = Platform_.OpenFile(path, access, overlapped);
  if (handle == kInvalidHandle) {
    error = SystemError(Platform_);
    return nullptr;
  }
  return std::make_shared<TWindowsConnection>(Platform_, handle, path);
}

std::unique_ptr<TDeviceNotifier> TWindowsHidBackend::Watch(TMainThreadPort& port,
                                                           TDeviceChangeCallback callback) {
  return Platform_.CreateDeviceNotifier(port, std::move(callback));
}

void TWindowsHidBackend::NameCurrentThread(std::string_view name) {
  Platform_.NameCurrentThread(name);
}

}  // namespace glowstep
