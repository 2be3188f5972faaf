#include "hid/platform/sim/sim_platform.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>

#include "base/scope_guard.h"
#include "hid/main_thread_port.h"

namespace glowstep {

namespace {

using TClock = std::chrono::steady_clock;

bool HasReadAccess(TFileAccess access) {
  return access == TFileAccess::Read || access == TFileAccess::ReadWrite;
}

// The interface as a connection sees it, with the faults that make its queries fail.
THidInterfaceRecord RecordOf(const TSimInterfaceSpec& setup) {
  THidInterfaceRecord record;
  record.Path = setup.Path;
  record.Identity = setup.DeviceInstance;
  record.PortName = setup.PortName;
  record.SerialNumber = setup.SerialNumber;
  record.VendorId = setup.Attributes.VendorID;
  record.ProductId = setup.Attributes.ProductID;
  record.Version = setup.Attributes.VersionNumber;
  record.IdentityError = setup.Faults.FailAttributes ? kErrorGenFailure : 0;
  record.ProductString = setup.ProductString;
  record.ProductStringError = setup.Faults.FailProductString ? kErrorGenFailure : 0;
  record.InputReportLength = setup.InputReportLength;
  record.OutputReportLength = setup.OutputReportLength;
  record.UsagePage = 0xFF00;
  record.Usage = 1;
  record.Collections = 1;
  record.AccessReason = setup.Faults.AccessReason;
  record.Properties = setup.Properties;
  return record;
}

}  // namespace

// The device tree behind the backend.
class TSimPlatform::TTree final {
 public:
  class TConnection;

  std::vector<THidInterfaceRecord> List(THidError& error) {
    if ((error = Ask("List"))) return {};
    std::lock_guard lock(Lock_);
    std::vector<THidInterfaceRecord> found;
    for (const auto& [id, setup] : Interfaces_) found.push_back(RecordOf(setup));
    return found;
  }

  std::shared_ptr<THidConnection> Open(const std::string& path,
                                       TFileAccess access,
                                       THidError& error);

  std::unique_ptr<TDeviceNotifier> Watch(TMainThreadPort& port, TDeviceChangeCallback callback);

  // What the call filter makes of one operation; nothing without a filter. Without the lock.
  TCallOutcome Outcome(std::string_view operation) {
    std::shared_ptr<const TCallFilter> filter;
    {
      std::lock_guard lock(Lock_);
      filter = Filter_;
    }
    return filter ? (*filter)(operation) : TCallOutcome{};
  }
  THidError Ask(std::string_view operation) { return Outcome(operation).Error; }

  // All below with Lock_ held.
  const TSimInterfaceSpec* Find(TInterfaceId id) const {
    const auto it = Interfaces_.find(id);
    return it != Interfaces_.end() ? &it->second : nullptr;
  }
  void Queue(TInterfaceId id, const std::vector<std::uint8_t>& report, TClock::time_point due);
  // Without the lock: the interface goes, and its connections' reads fail.
  bool Unplug(TInterfaceId id);
  void Notify(std::uintptr_t wParam, std::intptr_t lParam);

  // Shared with the tasks a notification posts, so a task that runs after its notifier (or the
  // platform) is gone does nothing.
  struct TNotifierRegistry {
    std::mutex Lock;
    std::map<std::uint64_t, std::pair<TMainThreadPort*, TDeviceChangeCallback>> Entries;
    std::uint64_t Next = 1;
  };

 private:
  friend class TSimPlatform;

  mutable std::mutex Lock_;
  std::map<TInterfaceId, TSimInterfaceSpec> Interfaces_;  // plugged, in plug order by id
  TInterfaceId NextInterface_ = 1;
  std::uint32_t NextInstance_ = 0x1000;
  std::vector<TConnection*> Connections_;
  TSimCounters Counters_;
  std::vector<std::string> ThreadNames_;
  bool AutoNotify_ = true;
  std::int64_t ReportsDropped_ = 0;
  std::shared_ptr<const TCallFilter> Filter_;
  std::shared_ptr<TNotifierRegistry> Notifiers_ = std::make_shared<TNotifierRegistry>();
};

// One open connection's view of an interface: its own queue of input reports, as a HID class driver
// keeps one per open handle.
class TSimPlatform::TTree::TConnection final : public THidConnection {
 public:
  struct TQueuedReport {
    std::vector<std::uint8_t> Bytes;
    TClock::time_point Due;
  };

  // With the tree's lock held.
  TConnection(TTree& tree, TInterfaceId id, TFileAccess access, THidInterfaceRecord record)
      : Tree_(tree), Id_(id), Access_(access), Record_(std::move(record)) {
    ++Tree_.Counters_.OpenConnections;
    if (Reads()) ++Tree_.Counters_.ReadConnections;
  }
  TConnection(const TConnection&) = delete;
  TConnection& operator=(const TConnection&) = delete;
  ~TConnection() override {
    std::lock_guard lock(Tree_.Lock_);
    std::erase(Tree_.Connections_, this);
    --Tree_.Counters_.OpenConnections;
    if (Reads()) --Tree_.Counters_.ReadConnections;
  }

  const THidInterfaceRecord& Interface() const override { return Record_; }

  THidError Status() override {
    if (const THidError error = Tree_.Ask("Status")) return error;
    std::lock_guard lock(Tree_.Lock_);
    if (Tree_.Find(Id_) != nullptr) return {};
    return THidError{kErrorDeviceNotConnected, 0};
  }

  THidAccessReason AccessReason() override {
    if (Tree_.Ask("AccessReason")) return THidAccessReason::Unknown;
    return Record_.AccessReason;
  }

  // The simulated devices take every report at once: the time limit never comes into play.
  THidError Write(std::span<const std::uint8_t> report,
                  std::uint32_t& written,
                  std::chrono::milliseconds limit) override;

  THidError ReadStartError() override {
    if (const THidError error = Tree_.Ask("ReadStartError")) return error;
    std::lock_guard lock(Tree_.Lock_);
    const TSimInterfaceSpec* setup = Tree_.Find(Id_);
    if (setup == nullptr) return THidError{kErrorDeviceNotConnected, 0};
    if (setup->Faults.FailReadStart) return THidError{setup->Faults.ReadStartError, 0};
    return {};
  }

  // Waits for a report that is due: a report due later is waited for until then, and an empty
  // queue until a report, an unplug or a wake comes.
  THidReadResult Read(std::span<std::uint8_t> buffer) override {
    const TCallOutcome outcome = Tree_.Outcome("Read");
    if (outcome.Error) return THidReadResult{0, outcome.Error};
    std::unique_lock lock(Tree_.Lock_);
    if (!Reads() || buffer.empty() || Reading_) {
      ++Tree_.Counters_.Misuse;
      return THidReadResult{0, {kErrorInvalidParameter, 0}};
    }
    ++Tree_.Counters_.ReadsBegun;
    ++Tree_.Counters_.ReadsUnderWay;
    Reading_ = true;
    const TScopeExit done([this] {
      Reading_ = false;
      --Tree_.Counters_.ReadsUnderWay;
    });
    for (;;) {
      const bool due = !Input_.empty() && Input_.front().Due <= TClock::now();
      if (due) {
        const TQueuedReport report = std::move(Input_.front());
        Input_.pop_front();
        std::size_t count = std::min(buffer.size(), report.Bytes.size());
        std::copy_n(report.Bytes.begin(), count, buffer.begin());
        if (outcome.Spoil == TSpoilKind::Short)
          count = std::min<std::size_t>(count, kSpoiledReportLength);
        if (outcome.Spoil == TSpoilKind::Garbage)
          for (std::size_t i = 1; i < count; ++i) buffer[i] = GarbageByte(i);
        return THidReadResult{static_cast<std::uint32_t>(count), {}};
      }
      if (Tree_.Find(Id_) == nullptr) return THidReadResult{0, {kErrorDeviceNotConnected, 0}};
      if (Woken_) {
        Woken_ = false;
        return THidReadResult{0, {}, true};
      }
      if (Input_.empty())
        Changed_.wait(lock);
      else
        Changed_.wait_until(lock, Input_.front().Due);
    }
  }

  void Wake() override {
    std::lock_guard lock(Tree_.Lock_);
    Woken_ = true;
    Changed_.notify_all();
  }

  THidError SetInputBuffers(std::uint32_t count) override {
    if (const THidError error = Tree_.Ask("SetInputBuffers")) return error;
    if (count < 2 || count > 512) return THidError{kErrorInvalidParameter, 0};
    std::lock_guard lock(Tree_.Lock_);
    InputBuffers_ = count;
    return {};
  }

  std::uint32_t InputBuffers() override {
    std::lock_guard lock(Tree_.Lock_);
    return InputBuffers_;
  }

  // With the tree's lock held.
  TInterfaceId Id() const { return Id_; }
  bool Reads() const { return HasReadAccess(Access_); }
  void Push(std::vector<std::uint8_t> report, TClock::time_point due) {
    if (Input_.size() >= std::max<std::uint32_t>(InputBuffers_, 1)) {
      Input_.pop_front();
      ++Tree_.ReportsDropped_;
    }
    Input_.push_back(TQueuedReport{std::move(report), due});
    Changed_.notify_all();
  }
  void Unplugged() {
    Input_.clear();
    Changed_.notify_all();
  }

 private:
  TTree& Tree_;
  const TInterfaceId Id_;
  const TFileAccess Access_;
  const THidInterfaceRecord Record_;
  std::condition_variable Changed_;
  std::deque<TQueuedReport> Input_;
  std::uint32_t InputBuffers_ = kInputQueueLength;
  bool Woken_ = false;
  bool Reading_ = false;
};

std::shared_ptr<THidConnection> TSimPlatform::TTree::Open(const std::string& path,
                                                          TFileAccess access,
                                                          THidError& error) {
  if ((error = Ask("Open"))) return nullptr;
  std::lock_guard lock(Lock_);
  const auto it = std::find_if(Interfaces_.begin(), Interfaces_.end(),
                               [&](const auto& entry) { return entry.second.Path == path; });
  if (it == Interfaces_.end()) {
    error = THidError{kErrorFileNotFound, 0};
    return nullptr;
  }
  const TSimFaults& faults = it->second.Faults;
  if (faults.FailOpen || (access != TFileAccess::None && faults.RefuseReadWrite)) {
    error = THidError{kErrorAccessDenied, 0};
    return nullptr;
  }
  auto connection = std::make_shared<TConnection>(*this, it->first, access, RecordOf(it->second));
  Connections_.push_back(connection.get());
  return connection;
}

THidError TSimPlatform::TTree::TConnection::Write(std::span<const std::uint8_t> report,
                                                  std::uint32_t& written,
                                                  std::chrono::milliseconds /*limit*/) {
  const TCallOutcome outcome = Tree_.Outcome("Write");
  if (outcome.Error) return outcome.Error;
  if (Access_ != TFileAccess::Write && Access_ != TFileAccess::ReadWrite)
    return THidError{kErrorAccessDenied, 0};
  std::shared_ptr<TSimBehaviour> behaviour;
  TSimFaults faults;
  {
    std::lock_guard lock(Tree_.Lock_);
    const TSimInterfaceSpec* setup = Tree_.Find(Id_);
    if (setup == nullptr) return THidError{kErrorDeviceNotConnected, 0};
    // A HID class driver takes output reports of exactly the output report length.
    if (report.data() == nullptr || report.size() != setup->OutputReportLength)
      return THidError{kErrorInvalidParameter, 0};
    if (setup->Faults.FailWrite) return THidError{setup->Faults.WriteError, 0};
    behaviour = setup->Behaviour;
    faults = setup->Faults;
  }
  written = static_cast<std::uint32_t>(report.size());
  {
    std::lock_guard lock(Tree_.Lock_);
    ++Tree_.Counters_.ReportsWritten;
  }
  // A short write succeeds with fewer bytes and reaches nobody.
  if (faults.WriteLength != 0 && faults.WriteLength < written) {
    written = faults.WriteLength;
    return {};
  }
  if (outcome.Spoil != TSpoilKind::None) {
    written /= 2;
    return {};
  }
  if (!behaviour) return {};
  auto replies = behaviour->OutputReport(report);
  const bool readRequest = report.size() >= 2 && report[1] == 'r';
  std::unique_lock lock(Tree_.Lock_);
  if (faults.VanishOnRead && readRequest) {
    lock.unlock();
    Tree_.Unplug(Id_);
    return {};
  }
  const TInterfaceId target = faults.AnswerFrom != 0 ? faults.AnswerFrom : Id_;
  if (Tree_.Find(target) == nullptr) return {};
  for (auto& reply : replies) {
    if (faults.AnswerLength != 0 && reply.size() > faults.AnswerLength)
      reply.resize(faults.AnswerLength);
    Tree_.Queue(target, reply, TClock::now() + faults.AnswerDelay);
  }
  return {};
}

void TSimPlatform::TTree::Queue(TInterfaceId id,
                                const std::vector<std::uint8_t>& report,
                                TClock::time_point due) {
  for (TConnection* connection : Connections_)
    if (connection->Id() == id && connection->Reads()) connection->Push(report, due);
}

// --- Notifiers ----------------------------------------------------------------------------------

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

std::unique_ptr<TDeviceNotifier> TSimPlatform::TTree::Watch(TMainThreadPort& port,
                                                            TDeviceChangeCallback callback) {
  if (Ask("Watch")) return nullptr;
  std::uint64_t id = 0;
  {
    std::lock_guard lock(Notifiers_->Lock);
    id = Notifiers_->Next++;
    Notifiers_->Entries[id] = {&port, std::move(callback)};
  }
  {
    std::lock_guard lock(Lock_);
    ++Counters_.Notifiers;
  }
  std::weak_ptr<TNotifierRegistry> weak = Notifiers_;
  return std::make_unique<TSimNotifier>([this, weak, id] {
    if (const auto registry = weak.lock()) {
      {
        std::lock_guard lock(registry->Lock);
        registry->Entries.erase(id);
      }
      std::lock_guard lock(Lock_);
      --Counters_.Notifiers;
    }
  });
}

// --- The backend --------------------------------------------------------------------------------

TSimPlatform::TSimPlatform() : Tree_(std::make_unique<TTree>()) {}

TSimPlatform::~TSimPlatform() {
  std::lock_guard lock(Tree_->Notifiers_->Lock);
  Tree_->Notifiers_->Entries.clear();
}

THidError TSimPlatform::Start() {
  if (const THidError error = Tree_->Ask("Start")) return error;
  std::lock_guard lock(Tree_->Lock_);
  ++Tree_->Counters_.Starts;
  return {};
}

void TSimPlatform::Stop() {
  std::lock_guard lock(Tree_->Lock_);
  if (Tree_->Counters_.Starts == 0)
    ++Tree_->Counters_.Misuse;
  else
    --Tree_->Counters_.Starts;
}

std::vector<THidInterfaceRecord> TSimPlatform::List(THidError& error) { return Tree_->List(error); }

std::shared_ptr<THidConnection> TSimPlatform::Open(const std::string& path,
                                                   TFileAccess access,
                                                   THidError& error) {
  return Tree_->Open(path, access, error);
}

std::unique_ptr<TDeviceNotifier> TSimPlatform::Watch(TMainThreadPort& port,
                                                     TDeviceChangeCallback callback) {
  return Tree_->Watch(port, std::move(callback));
}

void TSimPlatform::NameCurrentThread(std::string_view name) {
  THidBackend::NameCurrentThread(name);
  std::lock_guard lock(Tree_->Lock_);
  auto& names = Tree_->ThreadNames_;
  if (std::find(names.begin(), names.end(), name) == names.end()) names.emplace_back(name);
}

std::vector<std::string> TSimPlatform::ThreadNames() const {
  std::lock_guard lock(Tree_->Lock_);
  return Tree_->ThreadNames_;
}

TSimPlatform::TInterfaceId TSimPlatform::Plug(TSimInterfaceSpec setup) {
  TInterfaceId id = 0;
  bool notify = false;
  {
    std::lock_guard lock(Tree_->Lock_);
    id = Tree_->NextInterface_++;
    if (setup.Path.empty()) setup.Path = "sim:hid#" + std::to_string(id);
    if (setup.DeviceInstance == 0) setup.DeviceInstance = Tree_->NextInstance_++;
    Tree_->Interfaces_[id] = std::move(setup);
    notify = Tree_->AutoNotify_;
  }
  if (notify) Tree_->Notify(kDbtDevNodesChanged, 0);
  return id;
}

bool TSimPlatform::TTree::Unplug(TInterfaceId id) {
  bool notify = false;
  {
    std::lock_guard lock(Lock_);
    if (Interfaces_.erase(id) == 0) return false;
    for (TConnection* connection : Connections_)
      if (connection->Id() == id) connection->Unplugged();
    notify = AutoNotify_;
  }
  if (notify) Notify(kDbtDevNodesChanged, 0);
  return true;
}

void TSimPlatform::TTree::Notify(std::uintptr_t wParam, std::intptr_t lParam) {
  std::weak_ptr<TNotifierRegistry> weak = Notifiers_;
  std::lock_guard lock(Notifiers_->Lock);
  for (const auto& [id, entry] : Notifiers_->Entries) {
    entry.first->Post([weak, id = id, wParam, lParam] {
      const auto registry = weak.lock();
      if (!registry) return;
      TDeviceChangeCallback callback;
      {
        std::lock_guard registryLock(registry->Lock);
        auto it = registry->Entries.find(id);
        if (it == registry->Entries.end()) return;
        callback = it->second.second;
      }
      if (const auto report = callback(kWmDeviceChange, wParam, lParam)) report();
    });
  }
}

bool TSimPlatform::Unplug(TInterfaceId id) { return Tree_->Unplug(id); }

bool TSimPlatform::IsPlugged(TInterfaceId id) const {
  std::lock_guard lock(Tree_->Lock_);
  return Tree_->Find(id) != nullptr;
}

std::string TSimPlatform::PathOf(TInterfaceId id) const {
  std::lock_guard lock(Tree_->Lock_);
  const TSimInterfaceSpec* setup = Tree_->Find(id);
  return setup != nullptr ? setup->Path : std::string();
}

std::uint32_t TSimPlatform::DeviceInstanceOf(TInterfaceId id) const {
  std::lock_guard lock(Tree_->Lock_);
  const TSimInterfaceSpec* setup = Tree_->Find(id);
  return setup != nullptr ? setup->DeviceInstance : 0;
}

void TSimPlatform::SetFaults(TInterfaceId id, const TSimFaults& faults) {
  std::lock_guard lock(Tree_->Lock_);
  auto it = Tree_->Interfaces_.find(id);
  if (it != Tree_->Interfaces_.end()) it->second.Faults = faults;
}

void TSimPlatform::SetAutoNotify(bool autoNotify) {
  std::lock_guard lock(Tree_->Lock_);
  Tree_->AutoNotify_ = autoNotify;
}

bool TSimPlatform::SendInputReport(TInterfaceId id,
                                   const std::vector<std::uint8_t>& report,
                                   std::chrono::milliseconds delay) {
  std::lock_guard lock(Tree_->Lock_);
  if (Tree_->Find(id) == nullptr) return false;
  Tree_->Queue(id, report, TClock::now() + delay);
  return true;
}

void TSimPlatform::NotifyDeviceChange(std::uintptr_t wParam, std::intptr_t lParam) {
  Tree_->Notify(wParam, lParam);
}

std::uint8_t TSimPlatform::GarbageByte(std::size_t index) {
  return static_cast<std::uint8_t>(index * 37 + 0xA5);
}

void TSimPlatform::SetCallFilter(TCallFilter filter) {
  std::lock_guard lock(Tree_->Lock_);
  Tree_->Filter_ = filter ? std::make_shared<const TCallFilter>(std::move(filter)) : nullptr;
}

TSimCounters TSimPlatform::Counters() const {
  std::lock_guard lock(Tree_->Lock_);
  TSimCounters counters = Tree_->Counters_;
  counters.ReportsDropped = Tree_->ReportsDropped_;
  return counters;
}

std::int64_t TSimPlatform::OpenConnectionsOf(TInterfaceId id) const {
  std::lock_guard lock(Tree_->Lock_);
  return std::count_if(Tree_->Connections_.begin(), Tree_->Connections_.end(),
                       [id](const TTree::TConnection* c) { return c->Id() == id; });
}

}  // namespace glowstep
