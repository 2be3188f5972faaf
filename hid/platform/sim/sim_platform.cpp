#include "sim_platform.h"

#include <algorithm>
#include <cstring>

#include "main_thread_port.h"

namespace glowstep {

namespace {

thread_local std::uint32_t tLastError = 0;

constexpr std::uint32_t kErrorNoMoreItems = 259;
constexpr std::uint32_t kErrorInvalidData = 13;
constexpr std::int32_t kHidpStatusInvalidPreparsedData = static_cast<std::int32_t>(0xC0110001u);

bool Fail(std::uint32_t error) {
  tLastError = error;
  return false;
}

template <typename T>
T FailWith(std::uint32_t error, T result) {
  tLastError = error;
  return result;
}

// What the run-time loader hands out for every export it finds.
void SimulatedEntry() {}

bool HasReadAccess(TFileAccess access) {
  return access == TFileAccess::Read || access == TFileAccess::ReadWrite;
}

bool HasWriteAccess(TFileAccess access) {
  return access == TFileAccess::Write || access == TFileAccess::ReadWrite;
}

}  // namespace

// --- Notifiers ----------------------------------------------------------------------------------

// Shared with the tasks a notification posts, so a task that runs after its notifier (or the
// platform) is gone does nothing.
struct TSimPlatform::TNotifierRegistry {
  struct TEntry {
    TMainThreadPort* Port = nullptr;
    TDeviceChangeCallback Callback;
  };
  std::mutex Lock;
  std::map<std::uint64_t, TEntry> Entries;
  std::uint64_t Next = 1;
};

namespace {

class TSimNotifier final : public TDeviceNotifier {
 public:
  explicit TSimNotifier(std::function<void()> unregister) : Unregister_(std::move(unregister)) {}
  TSimNotifier(const TSimNotifier&) = delete;
  TSimNotifier& operator=(const TSimNotifier&) = delete;
  ~TSimNotifier() override { Unregister_(); }

 private:
  std::function<void()> Unregister_;
};

}  // namespace

// --- Reads --------------------------------------------------------------------------------------

class TSimRead final : public TPlatformRead {
 public:
  explicit TSimRead(TSimPlatform& platform) : Platform_(platform) {
    std::lock_guard lock(Platform_.Lock_);
    ++Platform_.Counters_.Reads;
  }

  ~TSimRead() override {
    std::lock_guard lock(Platform_.Lock_);
    if (Pending_) {
      ++Platform_.Counters_.ReadsAbandoned;
      auto it = Platform_.Open_.find(Handle_);
      if (it != Platform_.Open_.end()) it->second.PendingRead = nullptr;
    }
    --Platform_.Counters_.Reads;
  }

  bool Begin(THidHandle handle, std::uint8_t* buffer, std::uint32_t length) override {
    std::lock_guard lock(Platform_.Lock_);
    TSimPlatform::TOpenFile* open = Platform_.FindOpen(handle);
    if (open == nullptr) return Fail(kErrorInvalidHandle);
    const auto* iface = Platform_.FindInterface(open->Interface);
    if (iface == nullptr) return Fail(kErrorDeviceNotConnected);
    if (!HasReadAccess(open->Access) || !open->Overlapped || buffer == nullptr || length == 0 ||
        Pending_ || open->PendingRead != nullptr)
      return Fail(kErrorInvalidParameter);
    if (iface->Setup.Faults.FailReadStart) return Fail(iface->Setup.Faults.ReadStartError);
    ++Platform_.Counters_.ReadsBegun;
    Handle_ = handle;
    Buffer_ = buffer;
    Length_ = length;
    Pending_ = true;
    Completed_ = false;
    Count_ = 0;
    open->PendingRead = this;
    Platform_.TryComplete(*open);
    return true;
  }

  std::uint32_t Wait(std::int32_t milliseconds) override {
    std::unique_lock lock(Platform_.Lock_);
    const auto deadline = TSimPlatform::TClock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
      if (CompletionUnseen_) {
        CompletionUnseen_ = false;
        return kWaitIoCompletion;
      }
      if (Woken_) {
        Woken_ = false;
        return kWaitTimeout;
      }
      auto wakeAt = deadline;
      if (Pending_) {
        auto it = Platform_.Open_.find(Handle_);
        if (it != Platform_.Open_.end()) {
          Platform_.TryComplete(it->second);
          if (CompletionUnseen_) continue;
          if (!it->second.Input.empty()) wakeAt = std::min(wakeAt, it->second.Input.front().Due);
        }
      }
      if (TSimPlatform::TClock::now() >= deadline) return kWaitTimeout;
      Changed_.wait_until(lock, wakeAt);
    }
  }

  std::uint32_t Result(THidHandle handle) override {
    std::lock_guard lock(Platform_.Lock_);
    if (handle != Handle_ || !Completed_) return FailWith(kErrorInvalidParameter, 0u);
    if (Error_ != 0) {
      tLastError = Error_;
      return 0;
    }
    return Count_;
  }

  bool Cancel(THidHandle handle) override {
    std::lock_guard lock(Platform_.Lock_);
    if (!Pending_ || handle != Handle_) return Fail(kErrorInvalidParameter);
    auto it = Platform_.Open_.find(Handle_);
    if (it != Platform_.Open_.end()) it->second.PendingRead = nullptr;
    Pending_ = false;
    Completed_ = true;
    Error_ = kErrorOperationAborted;
    Count_ = 0;
    Buffer_ = nullptr;
    return true;
  }

  // With the platform's lock held: makes a waiting read look at its queue again.
  void Poke() { Changed_.notify_all(); }

  void Wake() override {
    {
      std::lock_guard lock(Platform_.Lock_);
      Woken_ = true;
    }
    Changed_.notify_all();
  }

  // With the platform's lock held: the read ends, with a report or with an error.
  void Complete(const std::vector<std::uint8_t>* report, std::uint32_t error) {
    if (report != nullptr) {
      Count_ = std::min<std::uint32_t>(Length_, static_cast<std::uint32_t>(report->size()));
      if (Count_ > 0) std::memcpy(Buffer_, report->data(), Count_);
    } else {
      Count_ = 0;
    }
    Error_ = error;
    Pending_ = false;
    Completed_ = true;
    CompletionUnseen_ = true;
    Buffer_ = nullptr;
    Changed_.notify_all();
  }

 private:
  TSimPlatform& Platform_;
  std::condition_variable Changed_;
  THidHandle Handle_ = kInvalidHandle;
  std::uint8_t* Buffer_ = nullptr;
  std::uint32_t Length_ = 0;
  std::uint32_t Count_ = 0;
  std::uint32_t Error_ = 0;
  bool Pending_ = false;
  bool Completed_ = false;
  bool CompletionUnseen_ = false;
  bool Woken_ = false;
};

// --- The platform -------------------------------------------------------------------------------

TSimPlatform::TSimPlatform() : Notifiers_(std::make_shared<TNotifierRegistry>()) {
  Libraries_[std::string(kSetupLibraryName)] = TLibrary{};
  Libraries_[std::string(kHidLibraryName)] = TLibrary{};
}

TSimPlatform::~TSimPlatform() {
  Bindings().ReleaseAll();
  std::lock_guard lock(Notifiers_->Lock);
  Notifiers_->Entries.clear();
}

TSimPlatform::TOpenFile* TSimPlatform::FindOpen(THidHandle handle) {
  auto it = Open_.find(handle);
  if (it != Open_.end()) return &it->second;
  ++Counters_.HandleMisuse;
  return nullptr;
}

const TSimPlatform::TInterface* TSimPlatform::FindInterface(TInterfaceId id) const {
  auto it = Interfaces_.find(id);
  return it != Interfaces_.end() ? &it->second : nullptr;
}

TSimPlatform::TOpenFile* TSimPlatform::FindLiveOpen(THidHandle handle) {
  TOpenFile* open = FindOpen(handle);
  if (open == nullptr) {
    tLastError = kErrorInvalidHandle;
    return nullptr;
  }
  if (FindInterface(open->Interface) == nullptr) {
    tLastError = kErrorDeviceNotConnected;
    return nullptr;
  }
  return open;
}

TSimPlatform::TInterfaceId TSimPlatform::Plug(TSimInterfaceSpec setup) {
  TInterfaceId id = 0;
  bool notify = false;
  {
    std::lock_guard lock(Lock_);
    id = NextInterface_++;
    if (setup.Path.empty()) setup.Path = "sim:hid#" + std::to_string(id);
    if (setup.DeviceInstance == 0) setup.DeviceInstance = NextInstance_++;
    Interfaces_[id] = TInterface{std::move(setup)};
    notify = AutoNotify_;
  }
  if (notify) NotifyDeviceChange();
  return id;
}

void TSimPlatform::UnplugLocked(TInterfaceId id) {
  Interfaces_.erase(id);
  for (auto& [handle, open] : Open_) {
    if (open.Interface != id) continue;
    open.Input.clear();
    if (open.PendingRead != nullptr) {
      open.PendingRead->Complete(nullptr, kErrorDeviceNotConnected);
      open.PendingRead = nullptr;
    }
  }
}

bool TSimPlatform::Unplug(TInterfaceId id) {
  bool notify = false;
  {
    std::lock_guard lock(Lock_);
    if (FindInterface(id) == nullptr) return false;
    UnplugLocked(id);
    notify = AutoNotify_;
  }
  if (notify) NotifyDeviceChange();
  return true;
}

bool TSimPlatform::IsPlugged(TInterfaceId id) const {
  std::lock_guard lock(Lock_);
  return FindInterface(id) != nullptr;
}

std::string TSimPlatform::PathOf(TInterfaceId id) const {
  std::lock_guard lock(Lock_);
  const TInterface* iface = FindInterface(id);
  return iface != nullptr ? iface->Setup.Path : std::string();
}

std::uint32_t TSimPlatform::DeviceInstanceOf(TInterfaceId id) const {
  std::lock_guard lock(Lock_);
  const TInterface* iface = FindInterface(id);
  return iface != nullptr ? iface->Setup.DeviceInstance : 0;
}

void TSimPlatform::SetFaults(TInterfaceId id, const TSimFaults& faults) {
  std::lock_guard lock(Lock_);
  auto it = Interfaces_.find(id);
  if (it != Interfaces_.end()) it->second.Setup.Faults = faults;
}

void TSimPlatform::SetAutoNotify(bool autoNotify) {
  std::lock_guard lock(Lock_);
  AutoNotify_ = autoNotify;
}

void TSimPlatform::TryComplete(TOpenFile& open) {
  if (open.PendingRead == nullptr || open.Input.empty()) return;
  if (open.Input.front().Due > TClock::now()) return;
  const TQueuedReport report = std::move(open.Input.front());
  open.Input.pop_front();
  open.PendingRead->Complete(&report.Bytes, 0);
  open.PendingRead = nullptr;
}

void TSimPlatform::Queue(TInterfaceId id,
                         const std::vector<std::uint8_t>& report,
                         TClock::time_point due) {
  for (auto& [handle, open] : Open_) {
    if (open.Interface != id || !HasReadAccess(open.Access)) continue;
    if (open.Input.size() >= std::max<std::uint32_t>(open.InputBuffers, 1)) {
      open.Input.pop_front();
      ++Counters_.ReportsDropped;
    }
    open.Input.push_back(TQueuedReport{report, due});
    if (open.PendingRead != nullptr) {
      TryComplete(open);
      // A report due later: the waiting read recomputes when to look again.
      if (open.PendingRead != nullptr) open.PendingRead->Poke();
    }
  }
}

bool TSimPlatform::SendInputReport(TInterfaceId id,
                                   const std::vector<std::uint8_t>& report,
                                   std::chrono::milliseconds delay) {
  std::lock_guard lock(Lock_);
  if (FindInterface(id) == nullptr) return false;
  Queue(id, report, TClock::now() + delay);
  return true;
}

void TSimPlatform::NotifyDeviceChange(std::uintptr_t wParam, std::intptr_t lParam) {
  std::weak_ptr<TNotifierRegistry> weak = Notifiers_;
  std::lock_guard lock(Notifiers_->Lock);
  for (const auto& [id, entry] : Notifiers_->Entries) {
    entry.Port->Post([weak, id = id, wParam, lParam] {
      const auto registry = weak.lock();
      if (!registry) return;
      TDeviceChangeCallback callback;
      {
        std::lock_guard registryLock(registry->Lock);
        auto it = registry->Entries.find(id);
        if (it == registry->Entries.end()) return;
        callback = it->second.Callback;
      }
      callback(kWmDeviceChange, wParam, lParam);
    });
  }
}

std::unique_ptr<TDeviceNotifier> TSimPlatform::CreateDeviceNotifier(
    TMainThreadPort& port,
    TDeviceChangeCallback callback) {
  std::uint64_t id = 0;
  {
    std::lock_guard lock(Notifiers_->Lock);
    id = Notifiers_->Next++;
    Notifiers_->Entries[id] = TNotifierRegistry::TEntry{&port, std::move(callback)};
  }
  std::weak_ptr<TNotifierRegistry> weak = Notifiers_;
  return std::make_unique<TSimNotifier>([weak, id] {
    if (const auto registry = weak.lock()) {
      std::lock_guard lock(registry->Lock);
      registry->Entries.erase(id);
    }
  });
}

// --- Libraries ----------------------------------------------------------------------------------

void TSimPlatform::RemoveLibrary(const std::string& name) {
  std::lock_guard lock(Lock_);
  Libraries_[name].Present = false;
}

void TSimPlatform::RemoveExport(const std::string& library, const std::string& name) {
  std::lock_guard lock(Lock_);
  Libraries_[library].RemovedExports.insert(name);
}

void TSimPlatform::SetNtVersion(int major, int minor) {
  std::lock_guard lock(Lock_);
  NtMajor_ = major;
  NtMinor_ = minor;
}

int TSimPlatform::LibraryReferences(const std::string& name) const {
  std::lock_guard lock(Lock_);
  auto it = Libraries_.find(name);
  return it != Libraries_.end() ? it->second.References : 0;
}

TLibraryHandle TSimPlatform::LoadLibraryByName(std::string_view name) {
  std::lock_guard lock(Lock_);
  std::size_t index = 1;
  for (auto& [libraryName, library] : Libraries_) {
    if (libraryName == name) {
      if (!library.Present) return FailWith<TLibraryHandle>(kErrorFileNotFound, 0);
      ++library.References;
      return index;
    }
    ++index;
  }
  return FailWith<TLibraryHandle>(kErrorFileNotFound, 0);
}

void TSimPlatform::FreeLibraryHandle(TLibraryHandle handle) {
  std::lock_guard lock(Lock_);
  std::size_t index = 1;
  for (auto& [libraryName, library] : Libraries_) {
    if (index++ == handle && library.References > 0) --library.References;
  }
}

TEntryAddress TSimPlatform::ResolveExport(TLibraryHandle handle, std::string_view name) {
  std::lock_guard lock(Lock_);
  std::size_t index = 1;
  for (const auto& [libraryName, library] : Libraries_) {
    if (index++ != handle) continue;
    if (library.References == 0 || library.RemovedExports.contains(name)) return nullptr;
    return &SimulatedEntry;
  }
  return nullptr;
}

bool TSimPlatform::IsNtVersionAtLeast(int major, int minor) {
  std::lock_guard lock(Lock_);
  return NtMajor_ > major || (NtMajor_ == major && NtMinor_ >= minor);
}

// --- Setup service ------------------------------------------------------------------------------

TGuid TSimPlatform::GetHidGuid() { return kHidInterfaceClassGuid; }

TDeviceInfoSet TSimPlatform::GetClassDevs(const TGuid& interfaceClass) {
  std::lock_guard lock(Lock_);
  std::vector<TSetEntry> entries;
  if (interfaceClass == kHidInterfaceClassGuid) {
    for (const auto& [id, iface] : Interfaces_)
      entries.push_back(TSetEntry{id, iface.Setup.Path, iface.Setup.DeviceInstance,
                                  iface.Setup.RegistryProperties});
  }
  const TDeviceInfoSet set = NextSet_++;
  Sets_[set] = std::move(entries);
  ++Counters_.DeviceInfoSets;
  return set;
}

bool TSimPlatform::EnumDeviceInterfaces(TDeviceInfoSet set,
                                        const TGuid& interfaceClass,
                                        std::uint32_t index,
                                        TDeviceInterfaceRecord& record) {
  std::lock_guard lock(Lock_);
  auto it = Sets_.find(set);
  if (it == Sets_.end()) {
    ++Counters_.HandleMisuse;
    return Fail(kErrorInvalidHandle);
  }
  if (index >= it->second.size()) return Fail(kErrorNoMoreItems);
  record.InterfaceClassGuid = interfaceClass;
  record.Reserved = index;
  return true;
}

bool TSimPlatform::GetDeviceInterfaceDetail(TDeviceInfoSet set,
                                            const TDeviceInterfaceRecord& record,
                                            char* pathBuffer,
                                            std::uint32_t bufferSize,
                                            std::uint32_t& required,
                                            TDeviceInfoRecord& info) {
  std::lock_guard lock(Lock_);
  auto it = Sets_.find(set);
  if (it == Sets_.end() || record.Reserved >= it->second.size()) {
    ++Counters_.HandleMisuse;
    return Fail(kErrorInvalidParameter);
  }
  const TSetEntry& entry = it->second[record.Reserved];
  required = static_cast<std::uint32_t>(entry.Path.size() + 1);
  if (pathBuffer == nullptr || bufferSize < required) return Fail(kErrorInsufficientBuffer);
  std::memcpy(pathBuffer, entry.Path.c_str(), required);
  info.DevInst = entry.DeviceInstance;
  info.Reserved = record.Reserved;
  return true;
}

bool TSimPlatform::GetDeviceRegistryProperty(TDeviceInfoSet set,
                                             const TDeviceInfoRecord& info,
                                             std::uint32_t property,
                                             std::uint8_t* buffer,
                                             std::uint32_t bufferSize) {
  std::lock_guard lock(Lock_);
  auto it = Sets_.find(set);
  if (it == Sets_.end() || info.Reserved >= it->second.size()) {
    ++Counters_.HandleMisuse;
    return Fail(kErrorInvalidParameter);
  }
  const auto& properties = it->second[info.Reserved].RegistryProperties;
  auto found = properties.find(property);
  if (found == properties.end()) return Fail(kErrorInvalidData);
  if (found->second.size() > bufferSize) return Fail(kErrorInsufficientBuffer);
  std::memcpy(buffer, found->second.data(), found->second.size());
  return true;
}

void TSimPlatform::DestroyDeviceInfoList(TDeviceInfoSet set) {
  std::lock_guard lock(Lock_);
  if (Sets_.erase(set) == 0) {
    ++Counters_.HandleMisuse;
    return;
  }
  --Counters_.DeviceInfoSets;
}

// --- Files --------------------------------------------------------------------------------------

THidHandle TSimPlatform::OpenFile(const std::string& path, TFileAccess access, bool overlapped) {
  std::lock_guard lock(Lock_);
  auto it = std::find_if(Interfaces_.begin(), Interfaces_.end(),
                         [&](const auto& entry) { return entry.second.Setup.Path == path; });
  if (it == Interfaces_.end()) return FailWith(kErrorFileNotFound, kInvalidHandle);
  const TSimFaults& faults = it->second.Setup.Faults;
  if (faults.FailOpen || (access != TFileAccess::None && faults.RefuseReadWrite))
    return FailWith(kErrorAccessDenied, kInvalidHandle);
  const THidHandle handle = NextHandle_++;
  TOpenFile& open = Open_[handle];
  open.Interface = it->first;
  open.Access = access;
  open.Overlapped = overlapped;
  ++Counters_.OpenHandles;
  return handle;
}

bool TSimPlatform::CloseFile(THidHandle handle) {
  std::lock_guard lock(Lock_);
  TOpenFile* open = FindOpen(handle);
  if (open == nullptr) return Fail(kErrorInvalidHandle);
  if (open->PendingRead != nullptr) {
    ++Counters_.ClosedWithPendingRead;
    open->PendingRead->Complete(nullptr, kErrorOperationAborted);
  }
  Open_.erase(handle);
  --Counters_.OpenHandles;
  return true;
}

bool TSimPlatform::WriteFile(THidHandle handle,
                             const std::uint8_t* buffer,
                             std::uint32_t length,
                             std::uint32_t& written) {
  written = 0;
  std::shared_ptr<TSimBehaviour> behaviour;
  TSimFaults faults;
  TInterfaceId id = 0;
  {
    std::lock_guard lock(Lock_);
    TOpenFile* open = FindLiveOpen(handle);
    if (open == nullptr) return false;
    if (!HasWriteAccess(open->Access)) return Fail(kErrorAccessDenied);
    const TInterface& iface = Interfaces_.at(open->Interface);
    // A HID class driver takes output reports of exactly the output report length.
    if (buffer == nullptr || length != iface.Setup.OutputReportLength)
      return Fail(kErrorInvalidParameter);
    if (iface.Setup.Faults.FailWrite) return Fail(iface.Setup.Faults.WriteError);
    id = open->Interface;
    behaviour = iface.Setup.Behaviour;
    faults = iface.Setup.Faults;
    ++Counters_.ReportsWritten;
  }
  written = length;
  if (!behaviour) return true;
  auto replies = behaviour->OutputReport(std::span<const std::uint8_t>(buffer, length));
  const bool readRequest = length >= 2 && buffer[1] == 'r';
  if (faults.VanishOnRead && readRequest) {
    Unplug(id);
    return true;
  }
  std::lock_guard lock(Lock_);
  const TInterfaceId target = faults.AnswerFrom != 0 ? faults.AnswerFrom : id;
  if (FindInterface(target) == nullptr) return true;
  for (auto& reply : replies) {
    if (faults.AnswerLength != 0 && reply.size() > faults.AnswerLength)
      reply.resize(faults.AnswerLength);
    Queue(target, reply, TClock::now() + faults.AnswerDelay);
  }
  return true;
}

std::unique_ptr<TPlatformRead> TSimPlatform::CreateRead() {
  return std::make_unique<TSimRead>(*this);
}

std::uint32_t TSimPlatform::LastError() { return tLastError; }

// --- HID class library --------------------------------------------------------------------------

bool TSimPlatform::GetAttributes(THidHandle handle, THidAttributes& attributes) {
  std::lock_guard lock(Lock_);
  const TOpenFile* open = FindLiveOpen(handle);
  if (open == nullptr) return false;
  const TInterface& iface = Interfaces_.at(open->Interface);
  if (iface.Setup.Faults.FailAttributes) return Fail(kErrorGenFailure);
  const std::uint32_t size = attributes.Size;
  attributes = iface.Setup.Attributes;
  attributes.Size = size;
  return true;
}

bool TSimPlatform::GetProductString(THidHandle handle,
                                    char16_t* buffer,
                                    std::uint32_t bufferBytes) {
  std::lock_guard lock(Lock_);
  const TOpenFile* open = FindLiveOpen(handle);
  if (open == nullptr) return false;
  const TInterface& iface = Interfaces_.at(open->Interface);
  if (iface.Setup.Faults.FailProductString) return Fail(kErrorGenFailure);
  const std::size_t capacity = bufferBytes / 2;
  if (capacity == 0) return Fail(kErrorInsufficientBuffer);
  const std::size_t count = std::min(iface.Setup.ProductString.size(), capacity - 1);
  std::copy_n(iface.Setup.ProductString.begin(), count, buffer);
  buffer[count] = u'\0';
  return true;
}

bool TSimPlatform::GetPreparsedData(THidHandle handle, TPreparsedData& preparsed) {
  std::lock_guard lock(Lock_);
  const TOpenFile* open = FindLiveOpen(handle);
  if (open == nullptr) return false;
  const TInterface& iface = Interfaces_.at(open->Interface);
  THidCaps caps;
  caps.UsagePage = 0xFF00;
  caps.Usage = 1;
  caps.InputReportByteLength = iface.Setup.InputReportLength;
  caps.OutputReportByteLength = iface.Setup.OutputReportLength;
  caps.NumberLinkCollectionNodes = 1;
  preparsed = NextPreparsed_++;
  Preparsed_[preparsed] = caps;
  ++Counters_.PreparsedData;
  return true;
}

bool TSimPlatform::FreePreparsedData(TPreparsedData preparsed) {
  std::lock_guard lock(Lock_);
  if (Preparsed_.erase(preparsed) == 0) {
    ++Counters_.HandleMisuse;
    return Fail(kErrorInvalidParameter);
  }
  --Counters_.PreparsedData;
  return true;
}

std::int32_t TSimPlatform::GetCaps(TPreparsedData preparsed, THidCaps& caps) {
  std::lock_guard lock(Lock_);
  auto it = Preparsed_.find(preparsed);
  if (it == Preparsed_.end()) {
    ++Counters_.HandleMisuse;
    return kHidpStatusInvalidPreparsedData;
  }
  caps = it->second;
  return kHidpStatusSuccess;
}

bool TSimPlatform::SetNumInputBuffers(THidHandle handle, std::uint32_t count) {
  std::lock_guard lock(Lock_);
  TOpenFile* open = FindLiveOpen(handle);
  if (open == nullptr) return false;
  if (count < 2 || count > 512) return Fail(kErrorInvalidParameter);
  open->InputBuffers = count;
  return true;
}

bool TSimPlatform::GetNumInputBuffers(THidHandle handle, std::uint32_t& count) {
  std::lock_guard lock(Lock_);
  const TOpenFile* open = FindLiveOpen(handle);
  if (open == nullptr) return false;
  count = open->InputBuffers;
  return true;
}

void TSimPlatform::NameCurrentThread(std::string_view name) {
  {
    std::lock_guard lock(Lock_);
    if (std::find(ThreadNames_.begin(), ThreadNames_.end(), name) == ThreadNames_.end())
      ThreadNames_.emplace_back(name);
  }
  THidPlatform::NameCurrentThread(name);
}

TSimCounters TSimPlatform::Counters() const {
  TSimCounters counters;
  {
    std::lock_guard lock(Lock_);
    counters = Counters_;
  }
  std::lock_guard lock(Notifiers_->Lock);
  counters.Notifiers = static_cast<std::int64_t>(Notifiers_->Entries.size());
  return counters;
}

std::int64_t TSimPlatform::OpenHandlesOf(TInterfaceId id) const {
  std::lock_guard lock(Lock_);
  return std::count_if(Open_.begin(), Open_.end(),
                       [id](const auto& entry) { return entry.second.Interface == id; });
}

std::vector<std::string> TSimPlatform::ThreadNames() const {
  std::lock_guard lock(Lock_);
  return ThreadNames_;
}

// --- The virtual staircase controller -----------------------------------------------------------

std::vector<std::vector<std::uint8_t>> TVirtualStaircaseController::OutputReport(
    std::span<const std::uint8_t> report) {
  std::lock_guard lock(Lock_);
  ++ReceivedCount_;
  if (Received_.size() == kReportsKept) Received_.pop_front();
  Received_.emplace_back(report.begin(), report.end());
  std::vector<std::vector<std::uint8_t>> replies;
  if (report.size() < 2) return replies;
  if (report[1] == 'r') {
    std::vector<std::uint8_t> reply(kReportSize, 0);
    reply[1] = 'r';
    std::copy(Settings_.begin(), Settings_.end(), reply.begin() + kSettingsBegin);
    replies.push_back(std::move(reply));
  } else if (report[1] == 'w' && report.size() >= kSettingsBegin + kSettingsSize) {
    std::copy_n(report.begin() + kSettingsBegin, kSettingsSize, Settings_.begin());
  }
  return replies;
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
