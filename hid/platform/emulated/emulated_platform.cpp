#include "hid/platform/emulated/emulated_platform.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <system_error>

namespace glowstep {

namespace {

thread_local THidError tLastError;

constexpr std::uint32_t kErrorInvalidData = 13;
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

bool IsEntryOf(THidLibrary library, std::string_view name) {
  if (library == THidLibrary::Setup) {
    const auto& names = THidBindings::kSetupEntryNames;
    return std::find(names.begin(), names.end(), name) != names.end();
  }
  const auto& names = THidBindings::HidEntryNames();
  return std::any_of(names.begin(), names.end(),
                     [&](const auto& entry) { return entry.Name == name; });
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
    std::lock_guard lock(Platform_.Lock_);
    THandle* entry = Platform_.FindHandle(handle);
    if (entry == nullptr) return false;
    if (!HasRead(entry->Access) || !entry->Overlapped || buffer == nullptr || length == 0 ||
        Pending_ || entry->PendingRead != nullptr)
      return Fail(kErrorInvalidParameter);
    if (const THidError error = entry->Connection->ReadStartError()) return Fail(error);
    ++Platform_.Counters_.ReadsBegun;
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
    if (handle != Handle_ || !Completed_) return Fail(kErrorInvalidParameter);
    if (Error_) return Fail(Error_);
    count = Count_;
    return true;
  }

  bool Cancel(THidHandle handle) override {
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

TEmulatedHidPlatform::TEmulatedHidPlatform(std::unique_ptr<THidBackend> backend)
    : Backend_(std::move(backend)) {}

TEmulatedHidPlatform::~TEmulatedHidPlatform() { Bindings().ReleaseAll(); }

THidEmulationCounters TEmulatedHidPlatform::Counters() const {
  std::lock_guard lock(Lock_);
  THidEmulationCounters counters = Counters_;
  counters.Notifiers = *Notifiers_;
  return counters;
}

int TEmulatedHidPlatform::LibraryReferences(std::string_view name) const {
  const THidLibrary library = name == kSetupLibraryName ? THidLibrary::Setup : THidLibrary::Hid;
  if (name != kSetupLibraryName && name != kHidLibraryName) return 0;
  std::lock_guard lock(Lock_);
  const auto it = LibraryReferences_.find(library);
  return it != LibraryReferences_.end() ? it->second : 0;
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

std::shared_ptr<THidConnection> TEmulatedHidPlatform::LiveConnection(THidHandle handle) {
  std::shared_ptr<THidConnection> connection;
  {
    std::lock_guard lock(Lock_);
    const THandle* entry = FindHandle(handle);
    if (entry == nullptr) return nullptr;
    connection = entry->Connection;
  }
  if (const std::uint32_t status = connection->Status()) {
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
  THidError error;
  auto connection = Backend_->Open(path, access, error);
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
}

bool TEmulatedHidPlatform::WriteFile(THidHandle handle,
                                     const std::uint8_t* buffer,
                                     std::uint32_t length,
                                     std::uint32_t& written) {
  written = 0;
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
  // What the backend found when it listed the interface, even if it has gone since.
  std::lock_guard lock(Lock_);
  const THandle* entry = FindHandle(handle);
  return entry != nullptr ? entry->Connection->Interface().AccessReason : THidAccessReason::Unknown;
}

// --- HID class library --------------------------------------------------------------------------

bool TEmulatedHidPlatform::GetAttributes(THidHandle handle, THidAttributes& attributes) {
  const auto connection = LiveConnection(handle);
  if (!connection) return false;
  const THidInterfaceRecord& record = connection->Interface();
  if (record.IdentityError != 0) return Fail(record.IdentityError);
  attributes = THidAttributes{attributes.Size, record.VendorId, record.ProductId, record.Version};
  return true;
}

bool TEmulatedHidPlatform::GetProductString(THidHandle handle,
                                            char16_t* buffer,
                                            std::uint32_t bufferBytes) {
  const auto connection = LiveConnection(handle);
  if (!connection) return false;
  const THidInterfaceRecord& record = connection->Interface();
  if (record.ProductStringError != 0) return Fail(record.ProductStringError);
  const std::size_t capacity = bufferBytes / sizeof(char16_t);
  if (buffer == nullptr || capacity == 0) return Fail(kErrorInsufficientBuffer);
  const std::u16string& product = record.ProductString;
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
  const auto connection = LiveConnection(handle);
  if (!connection) return false;
  const THidInterfaceRecord& record = connection->Interface();
  if (record.DescriptorError != 0) return Fail(record.DescriptorError);
  THidCaps caps;
  caps.UsagePage = record.UsagePage;
  caps.Usage = record.Usage;
  caps.InputReportByteLength = record.InputReportLength;
  caps.OutputReportByteLength = record.OutputReportLength;
  caps.FeatureReportByteLength = record.FeatureReportLength;
  caps.NumberLinkCollectionNodes = record.Collections;
  std::lock_guard lock(Lock_);
  preparsed = NextPreparsed_++;
  Preparsed_.emplace(preparsed, caps);
  ++Counters_.PreparsedData;
  return true;
}

bool TEmulatedHidPlatform::FreePreparsedData(TPreparsedData preparsed) {
  std::lock_guard lock(Lock_);
  if (Preparsed_.erase(preparsed) == 0) {
    ++Counters_.HandleMisuse;
    return Fail(kErrorInvalidParameter);
  }
  --Counters_.PreparsedData;
  return true;
}

std::int32_t TEmulatedHidPlatform::GetCaps(TPreparsedData preparsed, THidCaps& caps) {
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
  const auto connection = LiveConnection(handle);
  if (!connection) return false;
  if (const THidError error = connection->SetInputBuffers(count)) return Fail(error);
  return true;
}

bool TEmulatedHidPlatform::GetNumInputBuffers(THidHandle handle, std::uint32_t& count) {
  const auto connection = LiveConnection(handle);
  if (!connection) return false;
  count = connection->InputBuffers();
  return true;
}

// --- Setup service ------------------------------------------------------------------------------

TGuid TEmulatedHidPlatform::GetHidGuid() { return kHidInterfaceClassGuid; }

TDeviceInfoSet TEmulatedHidPlatform::GetClassDevs(const TGuid& interfaceClass) {
  std::vector<THidInterfaceRecord> found;
  THidError error;
  if (interfaceClass == kHidInterfaceClassGuid) found = Backend_->List(error);
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
  std::lock_guard lock(Lock_);
  const THidInterfaceRecord* entry = FindSetEntry(set, info.Reserved);
  if (entry == nullptr) return false;
  const auto found = entry->Properties.find(property);
  if (found == entry->Properties.end()) return Fail(kErrorInvalidData);
  if (buffer == nullptr || found->second.size() > bufferSize) return Fail(kErrorInsufficientBuffer);
  std::memcpy(buffer, found->second.data(), found->second.size());
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

TLibraryHandle TEmulatedHidPlatform::LoadLibraryByName(std::string_view name) {
  if (name != kSetupLibraryName && name != kHidLibraryName) {
    Fail(kErrorFileNotFound);
    return 0;
  }
  const bool setup = name == kSetupLibraryName;
  const THidLibrary library = setup ? THidLibrary::Setup : THidLibrary::Hid;
  if (const THidError error = Backend_->AcquireLibrary(library)) {
    Fail(error);
    return 0;
  }
  std::lock_guard lock(Lock_);
  ++LibraryReferences_[library];
  return setup ? kSetupLibrary : kHidLibrary;
}

void TEmulatedHidPlatform::FreeLibraryHandle(TLibraryHandle handle) {
  if (handle != kSetupLibrary && handle != kHidLibrary) return;
  const THidLibrary library = handle == kSetupLibrary ? THidLibrary::Setup : THidLibrary::Hid;
  {
    std::lock_guard lock(Lock_);
    int& references = LibraryReferences_[library];
    if (references == 0) return;
    --references;
  }
  Backend_->ReleaseLibrary(library);
}

TEntryAddress TEmulatedHidPlatform::ResolveExport(TLibraryHandle handle, std::string_view name) {
  if (handle != kSetupLibrary && handle != kHidLibrary) return nullptr;
  const THidLibrary library = handle == kSetupLibrary ? THidLibrary::Setup : THidLibrary::Hid;
  {
    std::lock_guard lock(Lock_);
    if (LibraryReferences_[library] == 0) return nullptr;
  }
  if (!IsEntryOf(library, name) || !Backend_->ProvidesEntry(library, name)) return nullptr;
  return &EmulatedEntry;
}

bool TEmulatedHidPlatform::IsNtVersionAtLeast(int major, int minor) {
  return Backend_->IsNtVersionAtLeast(major, minor);
}

// --- Notification and threads -------------------------------------------------------------------

std::unique_ptr<TDeviceNotifier> TEmulatedHidPlatform::CreateDeviceNotifier(
    TMainThreadPort& port,
    TDeviceChangeCallback callback) {
  auto watch = Backend_->Watch(port, std::move(callback));
  if (!watch) return nullptr;
  return std::make_unique<TCountedNotifier>(std::move(watch), Notifiers_);
}

void TEmulatedHidPlatform::NameCurrentThread(std::string_view name) {
  {
    std::lock_guard lock(Lock_);
    if (std::find(ThreadNames_.begin(), ThreadNames_.end(), name) == ThreadNames_.end())
      ThreadNames_.emplace_back(name);
  }
  THidPlatform::NameCurrentThread(name);
}

}  // namespace glowstep
