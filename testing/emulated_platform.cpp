#include "testing/emulated_platform.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <optional>
#include <system_error>

#include "testing/fault_injection.h"

namespace glowstep {

namespace {

thread_local THidError tLastError;

constexpr std::uint32_t kErrorInvalidData = 13;
constexpr std::uint32_t kErrorProcNotFound = 127;
constexpr std::int32_t kHidpStatusInvalidPreparsedData = static_cast<std::int32_t>(0xC0110001u);
constexpr TLibraryHandle kSetupLibrary = 1;
constexpr TLibraryHandle kHidLibrary = 2;

bool Fail(THidError error) {
  tLastError = error;
  return false;
}

bool Fail(std::uint32_t code) { return Fail(THidError{code, 0}); }

// The emulation provides every entry itself; this address only marks an entry as present and is
// never called.
void EmulatedEntry() {}

bool HasRead(TFileAccess access) {
  return access == TFileAccess::Read || access == TFileAccess::ReadWrite;
}

bool HasWrite(TFileAccess access) {
  return access == TFileAccess::Write || access == TFileAccess::ReadWrite;
}

bool IsEntryOf(TLibraryHandle library, std::string_view name) {
  if (library == kSetupLibrary) {
    const auto& names = THidBindings::kSetupEntryNames;
    return std::find(names.begin(), names.end(), name) != names.end();
  }
  const auto& names = THidBindings::HidEntryNames();
  return std::any_of(names.begin(), names.end(),
                     [&](const auto& entry) { return entry.Name == name; });
}

// A registry property in the bytes the setup service keeps it in: a text with its terminating
// zero, a list of texts each with its zero and one more zero at the end, a number in 4 bytes,
// least significant first. An empty text or list, or a number 0, is a property the device does
// not have: none.
std::optional<std::vector<std::uint8_t>> PropertyBytes(const THidPnPProperties& properties,
                                                       std::uint32_t property) {
  const auto text = [](const std::string& value) -> std::optional<std::vector<std::uint8_t>> {
    if (value.empty()) return std::nullopt;
    std::vector<std::uint8_t> bytes(value.begin(), value.end());
    bytes.push_back(0);
    return bytes;
  };
  const auto list =
      [](const std::vector<std::string>& values) -> std::optional<std::vector<std::uint8_t>> {
    if (values.empty()) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    for (const std::string& value : values) {
      bytes.insert(bytes.end(), value.begin(), value.end());
      bytes.push_back(0);
    }
    bytes.push_back(0);
    return bytes;
  };
  const auto number = [](std::uint32_t value) -> std::optional<std::vector<std::uint8_t>> {
    if (value == 0) return std::nullopt;
    return std::vector<std::uint8_t>{
        static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
        static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
  };
  const THidPnPProperties& p = properties;
  switch (property) {
    case spdrp::DeviceDesc:
      return text(p.DeviceDesc);
    case spdrp::HardwareId:
      return list(p.HardwareId);
    case spdrp::CompatibleIds:
      return list(p.CompatibleIds);
    case spdrp::Service:
      return text(p.Service);
    case spdrp::Class:
      return text(p.Class);
    case spdrp::ClassGuid:
      return text(p.ClassGuid);
    case spdrp::Driver:
      return text(p.Driver);
    case spdrp::ConfigFlags:
      return number(p.ConfigFlags);
    case spdrp::Mfg:
      return text(p.Mfg);
    case spdrp::FriendlyName:
      return text(p.FriendlyName);
    case spdrp::LocationInformation:
      return text(p.LocationInformation);
    case spdrp::PhysicalDeviceObjectName:
      return text(p.PhysicalDeviceObjectName);
    case spdrp::Capabilities:
      return number(p.Capabilities);
    case spdrp::UiNumber:
      return number(p.UiNumber);
    case spdrp::UpperFilters:
      return list(p.UpperFilters);
    case spdrp::LowerFilters:
      return list(p.LowerFilters);
    case spdrp::BusTypeGuid:
      return text(p.BusTypeGuid);
    case spdrp::LegacyBusType:
      return number(p.LegacyBusType);
    case spdrp::BusNumber:
      return number(p.BusNumber);
    case spdrp::EnumeratorName:
      return text(p.EnumeratorName);
    case spdrp::SecuritySds:
      return text(p.SecuritySds);
    case spdrp::DevType:
      return number(p.DevType);
    case spdrp::Exclusive:
      return number(p.Exclusive);
    case spdrp::Characteristics:
      return text(p.Characteristics);
    case spdrp::Address:
      return text(p.Address);
    case spdrp::UiNumberDescFormat:
      return text(p.UiNumberDescFormat);
    default:
      return std::nullopt;
  }
}

}  // namespace

// --- Reads --------------------------------------------------------------------------------------

// One read at a time on the connection of a handle. The wait with no read outstanding (the
// slice after a failed start) is this object's own; with a read outstanding it is the
// connection's, and Wake reaches whichever runs or comes next.
class TEmulatedHidPlatform::TRead final : public TPlatformRead {
 public:
  explicit TRead(TEmulatedHidPlatform& platform) : Platform_(platform) {
    std::lock_guard lock(Platform_.Lock_);
    ++Platform_.Counters_.Reads;
  }
  TRead(const TRead&) = delete;
  TRead& operator=(const TRead&) = delete;

  ~TRead() override {
    std::lock_guard lock(Platform_.Lock_);
    if (Pending_) {
      ++Platform_.Counters_.ReadsAbandoned;
      Detach();
    }
    --Platform_.Counters_.Reads;
  }

  bool Begin(THidHandle handle, std::uint8_t* buffer, std::uint32_t length) override {
    if (Platform_.Injected("Begin") != 0) return false;
    std::lock_guard lock(Platform_.Lock_);
    THandle* entry = Platform_.FindHandle(handle);
    if (entry == nullptr) return false;
    if (!HasRead(entry->Access) || !entry->Overlapped || buffer == nullptr || length == 0 ||
        Pending_ || entry->PendingRead != nullptr)
      return Fail(kErrorInvalidParameter);
    if (const THidError error = entry->Connection->ReadStartError()) return Fail(error);
    ++Platform_.Counters_.ReadsBegun;
    ++Platform_.Counters_.ReadsOutstanding;
    entry->PendingRead = this;
    Handle_ = handle;
    Buffer_ = buffer;
    Length_ = length;
    Pending_ = true;
    Completed_ = false;
    Aborted_ = false;
    Count_ = 0;
    Error_ = THidError{};
    std::lock_guard wakeLock(WakeLock_);
    Connection_ = entry->Connection;
    // A wake that came before the read began ends its first wait.
    if (WakeSet_) {
      WakeSet_ = false;
      Connection_->Wake();
    }
    return true;
  }

  std::uint32_t Wait(std::int32_t milliseconds) override {
    if (!Pending_) {
      // No read outstanding: the slice after a failed start, cut short by Wake.
      std::unique_lock lock(WakeLock_);
      Woken_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return WakeSet_; });
      WakeSet_ = false;
      return kWaitTimeout;
    }
    // Ended with an I/O error: the read is taken back, so the buffer is free.
    if (const std::uint32_t injected = Platform_.Injected("Wait"))
      return Complete(0, THidError{injected, 0});
    if (Aborted_) return Complete(0, THidError{kErrorOperationAborted, 0});
    const THidReadResult result = Connection_->Read(std::span<std::uint8_t>(Buffer_, Length_));
    if (Aborted_) return Complete(0, THidError{kErrorOperationAborted, 0});
    if (result.Woken) {
      std::lock_guard lock(WakeLock_);
      WakeSet_ = false;
      return kWaitTimeout;  // the read stays outstanding
    }
    return Complete(result.Count, result.Error);
  }

  bool Result(THidHandle handle, std::uint32_t& count) override {
    count = 0;
    if (Platform_.Injected("Result") != 0) return false;
    if (handle != Handle_ || !Completed_) return Fail(kErrorInvalidParameter);
    if (Error_) return Fail(Error_);
    count = Count_;
    return true;
  }

  bool Cancel(THidHandle handle) override {
    const std::uint32_t injected = Platform_.Injected("Cancel");
    const bool cancelled = [&] {
      if (!Pending_ || handle != Handle_) return Fail(kErrorInvalidParameter);
      // The buffer is written only inside Wait, on this same thread: once the read is dropped
      // nothing touches it any more.
      {
        std::lock_guard lock(Platform_.Lock_);
        Detach();
      }
      Completed_ = true;
      Count_ = 0;
      Error_ = THidError{kErrorOperationAborted, 0};
      return true;
    }();
    return injected != 0 ? Fail(injected) : cancelled;
  }

  void Wake() override {
    std::shared_ptr<THidConnection> connection;
    {
      std::lock_guard lock(WakeLock_);
      WakeSet_ = true;
      connection = Connection_;
    }
    Woken_.notify_all();
    if (connection) connection->Wake();
  }

  // With the platform's lock held: the handle is being closed under this read.
  void Abort() {
    Aborted_ = true;
    Wake();
  }

 private:
  // The read ends: with a report, or with an error.
  std::uint32_t Complete(std::uint32_t count, THidError error) {
    {
      std::lock_guard lock(Platform_.Lock_);
      Detach();
    }
    Count_ = std::min(count, Length_);
    Error_ = error;
    Completed_ = true;
    if (error) Fail(error);
    return kWaitIoCompletion;
  }

  // With the platform's lock held: drops the outstanding read and its share of the connection.
  void Detach() {
    const auto it = Platform_.Handles_.find(Handle_);
    if (it != Platform_.Handles_.end() && it->second.PendingRead == this)
      it->second.PendingRead = nullptr;
    if (Pending_) --Platform_.Counters_.ReadsOutstanding;
    Pending_ = false;
    Buffer_ = nullptr;
    std::lock_guard lock(WakeLock_);
    Connection_.reset();
  }

  TEmulatedHidPlatform& Platform_;
  std::mutex WakeLock_;  // after the platform's lock, never before it
  std::condition_variable Woken_;
  bool WakeSet_ = false;
  std::shared_ptr<THidConnection> Connection_;  // while a read is outstanding
  THidHandle Handle_ = kInvalidHandle;
  std::uint8_t* Buffer_ = nullptr;
  std::uint32_t Length_ = 0;
  std::uint32_t Count_ = 0;
  THidError Error_;
  bool Pending_ = false;
  bool Completed_ = false;
  std::atomic<bool> Aborted_{false};
};

// Counts the backend's watches while they live.
class TEmulatedHidPlatform::TCountedNotifier final : public TDeviceNotifier {
 public:
  TCountedNotifier(std::unique_ptr<TDeviceNotifier> watch,
                   std::shared_ptr<std::atomic<std::int64_t>> count)
      : Watch_(std::move(watch)), Count_(std::move(count)) {
    ++*Count_;
  }
  TCountedNotifier(const TCountedNotifier&) = delete;
  TCountedNotifier& operator=(const TCountedNotifier&) = delete;
  ~TCountedNotifier() override { --*Count_; }

 private:
  std::unique_ptr<TDeviceNotifier> Watch_;
  std::shared_ptr<std::atomic<std::int64_t>> Count_;
};

// --- The platform -------------------------------------------------------------------------------

TEmulatedHidPlatform::TEmulatedHidPlatform(THidBackend& backend) : Backend_(backend) {}

TEmulatedHidPlatform::~TEmulatedHidPlatform() { Bindings().ReleaseAll(); }

THidEmulationCounters TEmulatedHidPlatform::Counters() const {
  std::lock_guard lock(Lock_);
  THidEmulationCounters counters = Counters_;
  counters.Notifiers = *Notifiers_;
  return counters;
}

int TEmulatedHidPlatform::LibraryReferences(std::string_view name) const {
  std::lock_guard lock(Lock_);
  if (name == kSetupLibraryName) return SetupLibrary_.References;
  if (name == kHidLibraryName) return HidLibrary_.References;
  return 0;
}

void TEmulatedHidPlatform::RemoveLibrary(std::string_view name) {
  std::lock_guard lock(Lock_);
  if (name == kSetupLibraryName) SetupLibrary_.Present = false;
  if (name == kHidLibraryName) HidLibrary_.Present = false;
}

void TEmulatedHidPlatform::RemoveExport(std::string_view library, std::string_view name) {
  std::lock_guard lock(Lock_);
  if (library == kSetupLibraryName) SetupLibrary_.RemovedExports.emplace(name);
  if (library == kHidLibraryName) HidLibrary_.RemovedExports.emplace(name);
}

void TEmulatedHidPlatform::SetNtVersion(int major, int minor) {
  std::lock_guard lock(Lock_);
  NtMajor_ = major;
  NtMinor_ = minor;
}

std::vector<std::string> TEmulatedHidPlatform::ThreadNames() const {
  std::lock_guard lock(Lock_);
  return ThreadNames_;
}

TEmulatedHidPlatform::THandle* TEmulatedHidPlatform::FindHandle(THidHandle handle) {
  const auto it = Handles_.find(handle);
  if (it != Handles_.end()) return &it->second;
  ++Counters_.HandleMisuse;
  Fail(kErrorInvalidHandle);
  return nullptr;
}

std::shared_ptr<THidConnection> TEmulatedHidPlatform::Connection(THidHandle handle) {
  std::lock_guard lock(Lock_);
  const THandle* entry = FindHandle(handle);
  return entry != nullptr ? entry->Connection : nullptr;
}

std::shared_ptr<THidConnection> TEmulatedHidPlatform::LiveConnection(THidHandle handle) {
  auto connection = Connection(handle);
  if (connection == nullptr) return nullptr;
  if (const THidError status = connection->Status()) {
    Fail(status);
    return nullptr;
  }
  return connection;
}

THidHandle TEmulatedHidPlatform::Adopt(std::shared_ptr<THidConnection> connection,
                                       TFileAccess access) {
  std::lock_guard lock(Lock_);
  const THidHandle handle = NextHandle_++;
  Handles_.emplace(handle, THandle{std::move(connection), access, true, nullptr});
  ++Counters_.OpenHandles;
  return handle;
}

// --- Files --------------------------------------------------------------------------------------

THidHandle TEmulatedHidPlatform::OpenFile(const std::string& path,
                                          TFileAccess access,
                                          bool overlapped) {
  if (Injected("OpenFile") != 0) return kInvalidHandle;
  THidError error;
  auto connection = Backend_.Open(path, access, error);
  if (!connection) {
    Fail(error);
    return kInvalidHandle;
  }
  const THidHandle handle = Adopt(std::move(connection), access);
  std::lock_guard lock(Lock_);
  Handles_.at(handle).Overlapped = overlapped;
  return handle;
}

bool TEmulatedHidPlatform::CloseFile(THidHandle handle) {
  const std::uint32_t injected = Injected("CloseFile");
  const bool closed = [&] {
    std::shared_ptr<THidConnection> connection;  // closes after the lock is given up
    std::lock_guard lock(Lock_);
    THandle* entry = FindHandle(handle);
    if (entry == nullptr) return false;
    // A read outstanding on it ends; the connection closes when that read lets go of it.
    if (entry->PendingRead != nullptr) {
      ++Counters_.ClosedWithPendingRead;
      entry->PendingRead->Abort();
    }
    connection = std::move(entry->Connection);
    Handles_.erase(handle);
    --Counters_.OpenHandles;
    return true;
  }();
  return injected != 0 ? Fail(injected) : closed;
}

bool TEmulatedHidPlatform::WriteFile(THidHandle handle,
                                     const std::uint8_t* buffer,
                                     std::uint32_t length,
                                     std::uint32_t& written) {
  written = 0;
  if (Injected("WriteFile") != 0) return false;
  std::shared_ptr<THidConnection> connection;
  {
    std::lock_guard lock(Lock_);
    const THandle* entry = FindHandle(handle);
    if (entry == nullptr) return false;
    if (!HasWrite(entry->Access)) return Fail(kErrorAccessDenied);
    connection = entry->Connection;
  }
  if (buffer == nullptr && length != 0) return Fail(kErrorInvalidParameter);
  const THidError error =
      connection->Write(std::span<const std::uint8_t>(buffer, length), written, WriteTimeLimit());
  if (error) return Fail(error);
  std::lock_guard lock(Lock_);
  ++Counters_.ReportsWritten;
  return true;
}

std::unique_ptr<TPlatformRead> TEmulatedHidPlatform::CreateRead() {
  return std::make_unique<TRead>(*this);
}

std::uint32_t TEmulatedHidPlatform::LastError() { return tLastError.Code; }

TMessage TEmulatedHidPlatform::LastErrorMessage() {
  if (tLastError.Cause != 0) {
    return TMessage::Plain(std::error_code(tLastError.Cause, std::generic_category()).message());
  }
  return THidPlatform::LastErrorMessage();
}

THidAccessReason TEmulatedHidPlatform::QueryAccessReason(THidHandle handle) {
  const auto connection = Connection(handle);
  return connection != nullptr ? connection->AccessReason() : THidAccessReason::Unknown;
}

// --- HID class library --------------------------------------------------------------------------

// The queries ask the connection, which says itself whether its interface is still there.

bool TEmulatedHidPlatform::GetAttributes(THidHandle handle, THidAttributes& attributes) {
  if (Injected("GetAttributes") != 0) return false;
  const auto connection = Connection(handle);
  if (!connection) return false;
  THidAttributes asked;
  if (const THidError error = connection->Attributes(asked)) return Fail(error);
  attributes =
      THidAttributes{attributes.Size, asked.VendorID, asked.ProductID, asked.VersionNumber};
  return true;
}

bool TEmulatedHidPlatform::GetProductString(THidHandle handle,
                                            char16_t* buffer,
                                            std::uint32_t bufferBytes) {
  if (Injected("GetProductString") != 0) return false;
  const auto connection = Connection(handle);
  if (!connection) return false;
  std::u16string product;
  if (const THidError error = connection->ProductString(product)) return Fail(error);
  const std::size_t capacity = bufferBytes / sizeof(char16_t);
  if (buffer == nullptr || capacity == 0) return Fail(kErrorInsufficientBuffer);
  std::size_t count = std::min(product.size(), capacity - 1);
  // A cut between the halves of a surrogate pair would leave half a character.
  if (count > 0 && count < product.size() && product[count - 1] >= 0xD800 &&
      product[count - 1] < 0xDC00)
    --count;
  std::copy_n(product.begin(), count, buffer);
  buffer[count] = u'\0';
  return true;
}

bool TEmulatedHidPlatform::GetPreparsedData(THidHandle handle, TPreparsedData& preparsed) {
  if (Injected("GetPreparsedData") != 0) return false;
  const auto connection = Connection(handle);
  if (!connection) return false;
  THidCaps caps;
  if (const THidError error = connection->Caps(caps)) return Fail(error);
  std::lock_guard lock(Lock_);
  preparsed = NextPreparsed_++;
  Preparsed_.emplace(preparsed, caps);
  ++Counters_.PreparsedData;
  return true;
}

bool TEmulatedHidPlatform::FreePreparsedData(TPreparsedData preparsed) {
  const std::uint32_t injected = Injected("FreePreparsedData");
  const bool freed = [&] {
    std::lock_guard lock(Lock_);
    if (Preparsed_.erase(preparsed) == 0) {
      ++Counters_.HandleMisuse;
      return Fail(kErrorInvalidParameter);
    }
    --Counters_.PreparsedData;
    return true;
  }();
  return injected != 0 ? Fail(injected) : freed;
}

std::int32_t TEmulatedHidPlatform::GetCaps(TPreparsedData preparsed, THidCaps& caps) {
  if (Injected("GetCaps") != 0) return kHidpStatusInvalidPreparsedData;
  std::lock_guard lock(Lock_);
  const auto it = Preparsed_.find(preparsed);
  if (it == Preparsed_.end()) {
    ++Counters_.HandleMisuse;
    return kHidpStatusInvalidPreparsedData;
  }
  caps = it->second;
  return kHidpStatusSuccess;
}

bool TEmulatedHidPlatform::SetNumInputBuffers(THidHandle handle, std::uint32_t count) {
  if (Injected("SetNumInputBuffers") != 0) return false;
  const auto connection = LiveConnection(handle);
  if (!connection) return false;
  if (const THidError error = connection->SetInputBuffers(count)) return Fail(error);
  return true;
}

bool TEmulatedHidPlatform::GetNumInputBuffers(THidHandle handle, std::uint32_t& count) {
  if (Injected("GetNumInputBuffers") != 0) return false;
  const auto connection = LiveConnection(handle);
  if (!connection) return false;
  count = connection->InputBuffers();
  return true;
}

// --- Setup service ------------------------------------------------------------------------------

TGuid TEmulatedHidPlatform::GetHidGuid() { return kHidInterfaceClassGuid; }

TDeviceInfoSet TEmulatedHidPlatform::GetClassDevs(const TGuid& interfaceClass) {
  if (Injected("GetClassDevs") != 0) return kInvalidDeviceInfoSet;
  std::vector<THidInterfaceRecord> found;
  THidError error;
  if (interfaceClass == kHidInterfaceClassGuid) found = Backend_.List(error);
  if (error) {
    Fail(error);
    return kInvalidDeviceInfoSet;
  }
  std::lock_guard lock(Lock_);
  const TDeviceInfoSet set = NextSet_++;
  Sets_.emplace(set, std::move(found));
  ++Counters_.DeviceInfoSets;
  return set;
}

std::uint32_t TEmulatedHidPlatform::Injected(std::string_view operation) {
  if (FaultPlan_ == nullptr) return 0;
  const std::uint32_t error = FaultPlan_->Call(operation);
  if (error != 0) Fail(error);
  return error;
}

const THidInterfaceRecord* TEmulatedHidPlatform::FindSetEntry(TDeviceInfoSet set,
                                                              std::uintptr_t index) {
  const auto it = Sets_.find(set);
  if (it == Sets_.end() || index >= it->second.size()) {
    ++Counters_.HandleMisuse;
    Fail(kErrorInvalidParameter);
    return nullptr;
  }
  return &it->second[index];
}

bool TEmulatedHidPlatform::EnumDeviceInterfaces(TDeviceInfoSet set,
                                                const TGuid& interfaceClass,
                                                std::uint32_t index,
                                                TDeviceInterfaceRecord& record) {
  if (Injected("EnumDeviceInterfaces") != 0) return false;
  std::lock_guard lock(Lock_);
  const auto it = Sets_.find(set);
  if (it == Sets_.end()) {
    ++Counters_.HandleMisuse;
    return Fail(kErrorInvalidHandle);
  }
  if (index >= it->second.size()) return Fail(kErrorNoMoreItems);
  record.InterfaceClassGuid = interfaceClass;
  record.Reserved = index;
  return true;
}

bool TEmulatedHidPlatform::GetDeviceInterfaceDetail(TDeviceInfoSet set,
                                                    const TDeviceInterfaceRecord& record,
                                                    char* pathBuffer,
                                                    std::uint32_t bufferSize,
                                                    std::uint32_t& required,
                                                    TDeviceInfoRecord& info) {
  if (Injected("GetDeviceInterfaceDetail") != 0) return false;
  std::lock_guard lock(Lock_);
  const THidInterfaceRecord* entry = FindSetEntry(set, record.Reserved);
  if (entry == nullptr) return false;
  required = static_cast<std::uint32_t>(entry->Path.size() + 1);
  if (pathBuffer == nullptr || bufferSize < required) return Fail(kErrorInsufficientBuffer);
  std::memcpy(pathBuffer, entry->Path.c_str(), required);
  info.DevInst = entry->Identity;
  info.Reserved = record.Reserved;
  return true;
}

bool TEmulatedHidPlatform::GetDeviceRegistryProperty(TDeviceInfoSet set,
                                                     const TDeviceInfoRecord& info,
                                                     std::uint32_t property,
                                                     std::uint8_t* buffer,
                                                     std::uint32_t bufferSize) {
  if (Injected("GetDeviceRegistryProperty") != 0) return false;
  std::lock_guard lock(Lock_);
  const THidInterfaceRecord* entry = FindSetEntry(set, info.Reserved);
  if (entry == nullptr) return false;
  const auto bytes = PropertyBytes(entry->Properties, property);
  if (!bytes) return Fail(kErrorInvalidData);
  // A value longer than the buffer fills it and fails: what is in the buffer then ends with it.
  if (buffer != nullptr)
    std::memcpy(buffer, bytes->data(), std::min<std::size_t>(bytes->size(), bufferSize));
  if (buffer == nullptr || bytes->size() > bufferSize) return Fail(kErrorInsufficientBuffer);
  return true;
}

THidStableNames TEmulatedHidPlatform::GetStableNames(TDeviceInfoSet set,
                                                     const TDeviceInfoRecord& info,
                                                     const std::string& /*devicePath*/) {
  std::lock_guard lock(Lock_);
  const THidInterfaceRecord* entry = FindSetEntry(set, info.Reserved);
  if (entry == nullptr) return {};
  return THidStableNames{entry->PortName, entry->SerialNumber};
}

void TEmulatedHidPlatform::DestroyDeviceInfoList(TDeviceInfoSet set) {
  std::lock_guard lock(Lock_);
  if (Sets_.erase(set) == 0) {
    ++Counters_.HandleMisuse;
    return;
  }
  --Counters_.DeviceInfoSets;
}

// --- Libraries ----------------------------------------------------------------------------------

TEmulatedHidPlatform::TLibrary* TEmulatedHidPlatform::LibraryOf(TLibraryHandle handle) {
  if (handle == kSetupLibrary) return &SetupLibrary_;
  if (handle == kHidLibrary) return &HidLibrary_;
  return nullptr;
}

TLibraryHandle TEmulatedHidPlatform::LoadLibraryByName(std::string_view name) {
  if (Injected("LoadLibrary") != 0) return 0;
  const TLibraryHandle handle = name == kSetupLibraryName ? kSetupLibrary
                                : name == kHidLibraryName ? kHidLibrary
                                                          : 0;
  bool first = false;
  {
    std::lock_guard lock(Lock_);
    const TLibrary* library = LibraryOf(handle);
    if (library == nullptr || !library->Present) {
      Fail(kErrorFileNotFound);
      return 0;
    }
    first = SetupLibrary_.References + HidLibrary_.References == 0;
  }
  // The backend stands behind both libraries: it starts with the first one loaded. Loads come
  // from one thread at a time (the bindings' owner), so the count cannot change meanwhile.
  if (first) {
    if (const THidError error = Backend_.Start()) {
      Fail(error);
      return 0;
    }
  }
  std::lock_guard lock(Lock_);
  ++LibraryOf(handle)->References;
  return handle;
}

void TEmulatedHidPlatform::FreeLibraryHandle(TLibraryHandle handle) {
  {
    std::lock_guard lock(Lock_);
    TLibrary* library = LibraryOf(handle);
    if (library == nullptr || library->References == 0) {
      ++Counters_.HandleMisuse;
      return;
    }
    --library->References;
    if (SetupLibrary_.References + HidLibrary_.References > 0) return;
  }
  Backend_.Stop();
}

TEntryAddress TEmulatedHidPlatform::ResolveExport(TLibraryHandle handle, std::string_view name) {
  if (Injected("ResolveExport") != 0) return nullptr;
  {
    std::lock_guard lock(Lock_);
    const TLibrary* library = LibraryOf(handle);
    if (library != nullptr && library->References > 0 && IsEntryOf(handle, name) &&
        !library->RemovedExports.contains(name))
      return &EmulatedEntry;
  }
  Fail(kErrorProcNotFound);
  return nullptr;
}

bool TEmulatedHidPlatform::IsNtVersionAtLeast(int major, int minor) {
  std::lock_guard lock(Lock_);
  return NtMajor_ > major || (NtMajor_ == major && NtMinor_ >= minor);
}

// --- Notification and threads -------------------------------------------------------------------

std::unique_ptr<TDeviceNotifier> TEmulatedHidPlatform::CreateDeviceNotifier(
    TMainThreadPort& port,
    TDeviceChangeCallback callback) {
  if (Injected("CreateDeviceNotifier") != 0) return nullptr;
  auto watch = Backend_.Watch(port, std::move(callback));
  if (!watch) return nullptr;
  return std::make_unique<TCountedNotifier>(std::move(watch), Notifiers_);
}

void TEmulatedHidPlatform::NameCurrentThread(std::string_view name) {
  {
    std::lock_guard lock(Lock_);
    if (std::find(ThreadNames_.begin(), ThreadNames_.end(), name) == ThreadNames_.end())
      ThreadNames_.emplace_back(name);
  }
  Backend_.NameCurrentThread(name);
}

}  // namespace glowstep
