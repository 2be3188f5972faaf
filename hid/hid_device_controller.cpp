#include "hid/hid_device_controller.h"

#include <algorithm>
#include <utility>
#include <variant>

#include "base/scope_guard.h"
#include "hid/main_thread_port.h"

namespace glowstep {

namespace {

// Holds a device's InControllerEvent while a controller event runs for it, and drops it again
// only if the device still stands in the list afterwards.
template <typename TLookup>
class TControllerEventScope {
 public:
  TControllerEventScope(THidDevice* device, std::atomic<bool>& flag, TLookup stillListed)
      : Device_(device), Flag_(flag), StillListed_(std::move(stillListed)) {
    Flag_ = true;
  }
  TControllerEventScope(const TControllerEventScope&) = delete;
  TControllerEventScope& operator=(const TControllerEventScope&) = delete;
  ~TControllerEventScope() {
    if (StillListed_(Device_)) Flag_ = false;
  }

 private:
  THidDevice* Device_;
  std::atomic<bool>& Flag_;
  TLookup StillListed_;
};

}  // namespace

THidDeviceController::THidDeviceController(THidBackend& backend, TMainThreadPort& port)
    : Backend_(backend), Port_(port), Alive_(std::make_shared<THidDeviceController*>(this)) {
  Started_ = !Backend_.Start();
  if (!Started_) return;  // never refreshes; the list stays empty

  ChangeWatch_ = Backend_.Watch(
      Port_, [this](std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
        return WatchMessage(message, wParam, lParam);
      });
  std::weak_ptr<THidDeviceController*> alive = Alive_;
  Port_.Post([alive] {
    if (const auto controller = alive.lock()) (*controller)->FirstRefresh();
  });
}

void THidDeviceController::FirstRefresh() {
  if (ChangeWatch_ != nullptr) {
    NotifyMessage(kWmDeviceChange, kDbtDevNodesChanged, kInitialChangeParam);
    return;
  }
  // Without the notification the devices present now are still announced, and the notice that
  // later ones will not be comes once after them. What the refresh has to tell (its failure, or
  // a handler's exception) comes first, and the notice after it, on its own.
  std::optional<TMessage> failure;
  try {
    failure = RefreshForMessage(kWmDeviceChange, kDbtDevNodesChanged, kInitialChangeParam);
  } catch (...) {
    Port_.Post(LaterError(kDeviceChangesNotFollowed));
    throw;
  }
  if (!failure) {
    RaiseError(kDeviceChangesNotFollowed);
    return;
  }
  Port_.Post(LaterError(kDeviceChangesNotFollowed));
  RaiseError(*failure);
}

THidDeviceController::~THidDeviceController() {
  Destroying_ = true;
  Alive_.reset();
  OnDeviceChange_ = nullptr;
  OnDeviceUnplug_ = nullptr;
  OnEnumerate_ = nullptr;
  ChangeWatch_.reset();
  for (auto& device : Devices_) {
    device->Controller_ = nullptr;
    if (device->CheckedOut()) {
      // The reader stops first: woken by the unplug, it would only report the failure of its
      // next read to handlers whose owners may be going away as well.
      device->StopReader();
      device->MarkUnplugged();
    }
    device.reset();
  }
  Devices_.clear();
  if (Started_) Backend_.Stop();
}

void THidDeviceController::NotifyMessage(std::uint32_t message,
                                         std::uintptr_t wParam,
                                         std::intptr_t lParam) {
  if (const auto failure = RefreshForMessage(message, wParam, lParam)) RaiseError(*failure);
}

TDeviceChangeReport THidDeviceController::WatchMessage(std::uint32_t message,
                                                       std::uintptr_t wParam,
                                                       std::intptr_t lParam) {
  auto failure = RefreshForMessage(message, wParam, lParam);
  if (!failure) return nullptr;
  return LaterError(std::move(*failure));
}

std::optional<TMessage> THidDeviceController::RefreshForMessage(std::uint32_t message,
                                                                std::uintptr_t wParam,
                                                                std::intptr_t lParam) {
  if (Destroying_ || message != kWmDeviceChange || wParam != kDbtDevNodesChanged) return {};
  if (Refreshing_) {
    // From a nested event loop inside a handler: the message is taken up after this refresh.
    PendingChangeParam_ = lParam;
    RefreshPending_ = true;
    return {};
  }
  LastChangeParam_ = lParam;
  // A handler that raises must not leave the guard set, or the list would never change again.
  const TScopeValue inRefresh(InRefresh_, true);
  return RunRefresh();
}

THidDevice::TCreated THidDeviceController::MakeDevice(std::unique_ptr<THidPnPInfo>& pnpInfo) {
  for (;;) {
    THidDevice::TCreated created = THidDevice::Create(pnpInfo, this);
    if (std::holds_alternative<std::unique_ptr<THidDevice>>(created)) return created;
    if (!OnDeviceCreateError_) return created;
    bool handled = false;
    bool retryCreate = false;
    OnDeviceCreateError_(this, *pnpInfo, handled, retryCreate);
    if (!handled) return created;
    if (!retryCreate) return std::unique_ptr<THidDevice>();
  }
}

TMessage THidDeviceController::ListingFailed(const THidError& error) {
  return {kDevicesNotListed, {HidErrorMessage(error)}};
}

void THidDeviceController::RaiseError(const TMessage& message) {
  if (!OnError_) return;
  // The handler may replace itself, or destroy the controller, while it runs.
  const THidErrorEvent handler = OnError_;
  handler(this, message);
}

std::function<void()> THidDeviceController::LaterError(TMessage message) {
  std::weak_ptr<THidDeviceController*> alive = Alive_;
  return [alive, message = std::move(message)] {
    if (const auto controller = alive.lock()) (*controller)->RaiseError(message);
  };
}

std::optional<TMessage> THidDeviceController::Scan(TDeviceList& found) {
  // A scan that fails leaves what it found so far for its caller to drop. A listing that fails
  // is such a failure: taken for a complete one, it would have every device it missed taken for
  // unplugged. Each device object is made as its interface comes, before the next one is listed.
  if (!Started_) return {};
  std::optional<TMessage> failure;
  const THidError error = Backend_.Scan([&](THidInterfaceRecord record) {
    auto pnpInfo = std::make_unique<THidPnPInfo>();
    static_cast<THidPnPProperties&>(*pnpInfo) = std::move(record.Properties);
    pnpInfo->DeviceInstance = record.Identity;
    pnpInfo->DevicePath = std::move(record.Path);
    pnpInfo->PortName = std::move(record.PortName);
    pnpInfo->SerialNumber = std::move(record.SerialNumber);
    THidDevice::TCreated created = MakeDevice(pnpInfo);
    if (auto* message = std::get_if<TMessage>(&created)) {
      failure = std::move(*message);
      return false;
    }
    auto& device = std::get<std::unique_ptr<THidDevice>>(created);
    if (!device) return true;
    // A device that went away between the list and its open is left out, as if the list had
    // not seen it: it is not a device the user may not open. Its going asks for another refresh.
    if (!device->ReadWriteAccess() && IsDeviceGoneError(device->ReadWriteError())) {
      device->Controller_ = nullptr;
      return true;
    }
    found.push_back(std::move(device));
    return true;
  });
  if (failure) return failure;
  if (error) return ListingFailed(error);
  return {};
}

std::int32_t THidDeviceController::IndexOf(const THidDevice* device) const {
  for (std::size_t i = 0; i < Devices_.size(); ++i)
    if (Devices_[i].get() == device) return static_cast<std::int32_t>(i);
  return -1;
}

template <typename THandlerType, typename... TArgs>
auto THidDeviceController::RaiseDeviceEvent(const THandlerType& handler,
                                            THidDevice* device,
                                            TArgs... args) {
  TControllerEventScope scope(device, device->InControllerEvent_,
                              [this](THidDevice* d) { return IndexOf(d) >= 0; });
  // The handler may replace itself while it runs.
  const THandlerType call = handler;  // NOLINT(performance-unnecessary-copy-initialization)
  return call(device, args...);
}

void THidDeviceController::DeviceChange() {
  if (const auto failure = RunRefresh()) RaiseError(*failure);
}

std::optional<TMessage> THidDeviceController::RunRefresh() {
  if (Refreshing_) {
    RefreshPending_ = true;
    return {};
  }
  Refreshing_ = true;
  struct TRefreshEnd {
    THidDeviceController& Controller;
    ~TRefreshEnd() {
      Controller.Refreshing_ = false;
      Controller.Released_.clear();
      // Only when the refresh failed or a handler raised: the one asked for meanwhile still
      // runs, from the loop.
      if (!Controller.RefreshPending_) return;
      Controller.RefreshPending_ = false;
      std::weak_ptr<THidDeviceController*> alive = Controller.Alive_;
      Controller.Port_.Post([alive] {
        if (const auto controller = alive.lock()) (*controller)->DeviceChange();
      });
    }
  } refreshEnd{*this};
  do {
    RefreshPending_ = false;
    if (PendingChangeParam_) {
      LastChangeParam_ = *PendingChangeParam_;
      PendingChangeParam_.reset();
    }
    if (auto failure = Refresh()) return failure;
  } while (RefreshPending_);
  return {};
}

bool THidDeviceController::RemoveAbsent(const TDeviceList& fresh) {
  bool changed = false;
  for (std::size_t i = Devices_.size(); i-- > 0;) {
    if (i >= Devices_.size()) continue;
    THidDevice* device = Devices_[i].get();
    const std::uint32_t instance = device->PnPInfo().DeviceInstance;
    const auto found = std::find_if(fresh.rbegin(), fresh.rend(), [&](const auto& d) {
      return d->PnPInfo().DeviceInstance == instance;
    });
    // A device that could be opened for queries only and can be opened for reading and writing
    // now (the system changed its access) is taken for a new one: nobody can use the old object.
    const bool accessGained = found != fresh.rend() && !device->CheckedOut() &&
                              !device->ReadWriteAccess() && (*found)->ReadWriteAccess();
    if (device->PluggedIn() && found != fresh.rend() && !accessGained) continue;
    device->MarkUnplugged();
    changed = true;
    // The unplug handler may have given the object back: then it is no longer listed, and
    // nothing more is raised for it.
    if (IndexOf(device) < 0) continue;
    if (OnRemoval_) RaiseDeviceEvent(OnRemoval_, device);
    const std::int32_t index = IndexOf(device);
    if (index >= 0 && !device->CheckedOut()) {
      Release(std::move(Devices_[static_cast<std::size_t>(index)]));
      Devices_.erase(Devices_.begin() + index);
    }
  }
  return changed;
}

std::optional<TMessage> THidDeviceController::Refresh() {
  bool changed = LastChangeParam_ == kInitialChangeParam;
  TDeviceList fresh;
  if (auto failure = Scan(fresh)) return failure;
  // Whatever a handler raises below, the counts describe the list as it is then.
  const TScopeExit recount([this] { Recount(); });

  if (RemoveAbsent(fresh)) changed = true;

  // New objects for interfaces that are still listed are dropped.
  for (auto& candidate : fresh) {
    const std::uint32_t instance = candidate->PnPInfo().DeviceInstance;
    const bool listed = std::any_of(Devices_.begin(), Devices_.end(), [&](const auto& d) {
      return d->PnPInfo().DeviceInstance == instance && d->PluggedIn();
    });
    if (listed) {
      candidate->Controller_ = nullptr;
      candidate.reset();
    }
  }

  // Arrivals, in scan order; each is announced before the next one is listed.
  for (auto& candidate : fresh) {
    if (!candidate) continue;
    THidDevice* device = candidate.get();
    Devices_.push_back(std::move(candidate));
    changed = true;
    if (OnArrival_) RaiseDeviceEvent(OnArrival_, device);
  }
  fresh.clear();
  Recount();
  if (changed && OnDeviceChange_) {
    const TNotifyEvent handler = OnDeviceChange_;
    handler(this);
  }
  return {};
}

void THidDeviceController::Recount() {
  std::int32_t checkedIn = 0;
  std::int32_t checkedOut = 0;
  std::int32_t unplugged = 0;
  for (const auto& device : Devices_) {
    if (device->CheckedOut())
      ++checkedOut;
    else
      ++checkedIn;
    if (!device->PluggedIn()) ++unplugged;
  }
  CheckedInCount_ = checkedIn;
  CheckedOutCount_ = checkedOut - unplugged;
  UnpluggedCount_ = unplugged;
}

bool THidDeviceController::CallEnumerate(THidDevice* device, std::int32_t index) {
  if (!OnEnumerate_) return false;
  const bool result = RaiseDeviceEvent(OnEnumerate_, device, index);
  // Close whatever the handler opened on a device it did not keep.
  if (IndexOf(device) >= 0 && !device->CheckedOut()) {
    device->CloseGeneral();
    device->CloseChannel(TChannel::Read);
    device->CloseChannel(TChannel::Write);
  }
  return result;
}

std::int32_t THidDeviceController::EnumerateDevices() {
  std::int32_t count = 0;
  const std::size_t length = Devices_.size();
  for (std::size_t i = 0; i < length && i < Devices_.size(); ++i) {
    THidDevice* device = Devices_[i].get();
    if (!device->PluggedIn()) continue;
    ++count;
    if (!CallEnumerate(device, static_cast<std::int32_t>(i))) break;
  }
  return count;
}

bool THidDeviceController::CheckOutAt(THidDevice*& device, std::int32_t index) {
  device = nullptr;
  if (index < 0 || static_cast<std::size_t>(index) >= Devices_.size()) return false;
  THidDevice* candidate = Devices_[static_cast<std::size_t>(index)].get();
  if (candidate->CheckedOut()) return false;
  device = candidate;
  device->CheckedOut_ = true;
  ++CheckedOutCount_;
  --CheckedInCount_;
  device->StartReader();
  return true;
}

void THidDeviceController::GiveBack(THidDevice* device,
                                    THidDataEvent dataHandler,
                                    THidPlugEvent unplugHandler) {
  const std::int32_t found = IndexOf(device);
  if (found < 0) return;
  const auto index = static_cast<std::size_t>(found);
  if (!device->PluggedIn()) {
    std::unique_ptr<THidDevice> old = std::move(Devices_[index]);
    Devices_.erase(Devices_.begin() + found);
    --UnpluggedCount_;
    Release(std::move(old));
    return;
  }
  THidDevice::TCreated created = THidDevice::Create(device->PnPInfo_, this);
  auto* made = std::get_if<std::unique_ptr<THidDevice>>(&created);
  if (made == nullptr) {
    // The interface cannot be opened any more: the entry goes.
    std::unique_ptr<THidDevice> old = std::move(Devices_[index]);
    Devices_.erase(Devices_.begin() + found);
    Recount();
    Release(std::move(old));
    return;
  }
  std::unique_ptr<THidDevice> replacement = std::move(*made);
  replacement->AssignDataHandler(std::move(dataHandler));
  replacement->UnplugHandler_ = std::move(unplugHandler);
  replacement->SetSleepTime(device->SleepTime());
  const bool wasCheckedOut = device->CheckedOut();
  std::unique_ptr<THidDevice> old = std::move(Devices_[index]);
  Devices_[index] = std::move(replacement);
  if (wasCheckedOut) {
    --CheckedOutCount_;
    ++CheckedInCount_;
  }
  Release(std::move(old));
}

void THidDeviceController::Release(std::unique_ptr<THidDevice> device) {
  if (Refreshing_) Released_.push_back(std::move(device));
}

void THidDeviceController::SetDevThreadSleepTime(std::int32_t value) {
  if (value == DevThreadSleepTime_) return;
  for (std::size_t i = 0; i < Devices_.size(); ++i)
    if (Devices_[i]->SleepTime() == DevThreadSleepTime_) Devices_[i]->SetSleepTime(value);
  DevThreadSleepTime_ = value;
}

void THidDeviceController::SetOnDeviceData(THidDataEvent handler) {
  if (handler.SameCode(OnDeviceData_)) return;
  // Index by index: a handler run while a reader stops may give a device back, which puts its
  // replacement at the same index.
  for (std::size_t i = 0; i < Devices_.size(); ++i)
    if (Devices_[i]->DataHandler().SameCode(OnDeviceData_)) Devices_[i]->AssignDataHandler(handler);
  OnDeviceData_ = std::move(handler);
}

void THidDeviceController::SetOnDeviceDataError(THidDataErrorEvent handler) {
  if (handler.SameCode(OnDeviceDataError_)) return;
  for (auto& device : Devices_)
    if (device->DataErrorHandler().SameCode(OnDeviceDataError_))
      device->SetDataErrorHandler(handler);
  OnDeviceDataError_ = std::move(handler);
}

void THidDeviceController::SetOnDeviceUnplug(THidPlugEvent handler) {
  if (handler.SameCode(OnDeviceUnplug_)) return;
  for (auto& device : Devices_)
    if (device->UnplugHandler().SameCode(OnDeviceUnplug_)) device->SetUnplugHandler(handler);
  OnDeviceUnplug_ = std::move(handler);
}

void THidDeviceController::SetOnDeviceChange(TNotifyEvent handler) {
  if (!handler.SameCode(OnDeviceChange_)) OnDeviceChange_ = std::move(handler);
  if (!Loading_) DeviceChange();
}

}  // namespace glowstep
