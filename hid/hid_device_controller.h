// The list of HID interfaces present, kept up to date from the device-change notification.
//
// The controller announces each device that arrived or was removed, lets the application
// enumerate the present devices and check one out, and hands its device-level settings (data,
// data-error and unplug handlers, the readers' wait slice) to every device object it makes. It
// owns every device object, checked out or not.
//
// Everything here runs on the main thread. Construction starts the backend and, when it starts,
// posts the first refresh to the main loop: by the time it runs, the application has set its
// handlers, and every device already present is announced as an arrival. A backend that does not
// start (the system has no HID support) lists nothing and raises nothing.
//
// The controller's own failures are values: it raises them through OnError, on the main thread,
// once the refresh that failed has ended (or, for a refresh the system's notification ran inside
// its own dispatch, from the main loop afterwards), and throws nothing. Without an error handler
// they go unsaid. What the application's handlers throw passes on to whoever called in.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "hid/hid_backend.h"
#include "hid/hid_device.h"
#include "hid/hid_events.h"

namespace glowstep {

class TMainThreadPort;

class THidDeviceController {
 public:
  static constexpr std::string_view kVersion = "1.0.35";
  static constexpr std::int32_t kDefaultDevThreadSleepTime = 100;
  // The parameter of the first, posted notification: it makes that refresh count as a change.
  static constexpr std::intptr_t kInitialChangeParam = -1;
  // Raised through OnError by a refresh whose listing of the devices present failed, followed by
  // the system's reason. The list stays as it was: no device is taken for unplugged, or a new one
  // for absent, because the system could not say.
  static constexpr TMessageText kDevicesNotListed =
      CatalogueText("hid", "The HID devices present cannot be listed: %1");
  // Raised through OnError after the first refresh when the system's device-change notification
  // could not be set up.
  static constexpr TMessageText kDeviceChangesNotFollowed =
      CatalogueText("hid",
                    "Devices plugged in or unplugged from now on cannot be noticed on this "
                    "system: plug the controller in and start the program again");

  THidDeviceController(THidBackend& backend, TMainThreadPort& port);
  THidDeviceController(const THidDeviceController&) = delete;
  THidDeviceController& operator=(const THidDeviceController&) = delete;
  // Destroys every device object, including those the application holds.
  ~THidDeviceController();

  // Calls OnEnumerate for each plugged-in device in list order until it answers false (no
  // handler answers false). Returns the number of devices offered, the last one included.
  std::int32_t EnumerateDevices();
  // Checks out the device at `index`; false (and none) for a bad index or a device already out.
  bool CheckOutAt(THidDevice*& device, std::int32_t index);
  // Refreshes the list: removals first (from the end of the list), then arrivals in scan
  // order, then one OnDeviceChange if anything changed. Asked for while a refresh runs (from one
  // of its handlers), it runs once more after the current one, however often it was asked.
  // A device that only now lets itself be opened for reading and writing is announced as
  // removed and arrived again, unless the application holds it. When the system cannot list
  // the devices present, the list stays as it was and OnError gets kDevicesNotListed once the
  // refresh has ended. A device object that cannot be made, and that no create-error handler
  // takes, ends the refresh the same way, with its reason.
  void DeviceChange();
  // The device-change notification's procedure: one refresh per device-tree-changed message,
  // never nested: a message that comes while a refresh runs makes it run once more afterwards.
  // The refresh's failure goes to OnError, and later messages refresh again.
  void NotifyMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);

  const std::vector<std::unique_ptr<THidDevice>>& Devices() const { return Devices_; }
  std::int32_t CheckedInCount() const { return CheckedInCount_; }
  std::int32_t CheckedOutCount() const { return CheckedOutCount_; }
  std::int32_t UnpluggedCount() const { return UnpluggedCount_; }
  std::string_view Version() const { return kVersion; }
  bool InRefresh() const { return InRefresh_; }
  std::intptr_t LastChangeParam() const { return LastChangeParam_; }
  // Whether the system's device-change notification was set up: without it, devices plugged in
  // or unplugged after the first refresh go unseen.
  bool WatchesDeviceChanges() const { return ChangeWatch_ != nullptr; }

  // While loading, setting OnDeviceChange does not refresh (the form is still being read).
  bool Loading() const { return Loading_; }
  void SetLoading(bool loading) { Loading_ = loading; }

  std::int32_t DevThreadSleepTime() const { return DevThreadSleepTime_; }
  // Devices still at the previous value follow; each device accepts 10 to 10000 only.
  void SetDevThreadSleepTime(std::int32_t value);

  const THidPlugEvent& OnArrival() const { return OnArrival_; }
  void SetOnArrival(THidPlugEvent handler) { OnArrival_ = std::move(handler); }
  const THidPlugEvent& OnRemoval() const { return OnRemoval_; }
  void SetOnRemoval(THidPlugEvent handler) { OnRemoval_ = std::move(handler); }
  const THidEnumerateEvent& OnEnumerate() const { return OnEnumerate_; }
  void SetOnEnumerate(THidEnumerateEvent handler) { OnEnumerate_ = std::move(handler); }
  const THidDeviceCreateError& OnDeviceCreateError() const { return OnDeviceCreateError_; }
  void SetOnDeviceCreateError(THidDeviceCreateError handler) {
    OnDeviceCreateError_ = std::move(handler);
  }
  // The controller's own failures (kDevicesNotListed, a device object that cannot be made,
  // kDeviceChangesNotFollowed), each raised once, on its own.
  const THidErrorEvent& OnError() const { return OnError_; }
  void SetOnError(THidErrorEvent handler) { OnError_ = std::move(handler); }
  const TNotifyEvent& OnDeviceChange() const { return OnDeviceChange_; }
  // A new handler (by code) is stored and, unless loading, a refresh runs at once.
  void SetOnDeviceChange(TNotifyEvent handler);
  // The three device handlers pass on to every device that still holds the previous handler
  // (compared by code); a new data handler starts or stops those devices' readers.
  const THidDataEvent& OnDeviceData() const { return OnDeviceData_; }
  void SetOnDeviceData(THidDataEvent handler);
  const THidDataErrorEvent& OnDeviceDataError() const { return OnDeviceDataError_; }
  void SetOnDeviceDataError(THidDataErrorEvent handler);
  const THidPlugEvent& OnDeviceUnplug() const { return OnDeviceUnplug_; }
  void SetOnDeviceUnplug(THidPlugEvent handler);

  THidBackend& Backend() { return Backend_; }
  // Whether the backend started: without it nothing is listed.
  bool Started() const { return Started_; }
  TMainThreadPort& Port() { return Port_; }

 private:
  friend class THidDevice;
  using TDeviceList = std::vector<std::unique_ptr<THidDevice>>;

  // The refreshes below return their failure, if any; the list is as it was then.
  // Lists the interfaces present into `found`, a device object for each.
  std::optional<TMessage> Scan(TDeviceList& found);
  // kDevicesNotListed with the system's words for `error`.
  static TMessage ListingFailed(const THidError& error);
  std::optional<TMessage> Refresh();
  // DeviceChange without raising the failure.
  std::optional<TMessage> RunRefresh();
  // NotifyMessage without raising the failure.
  std::optional<TMessage> RefreshForMessage(std::uint32_t message,
                                            std::uintptr_t wParam,
                                            std::intptr_t lParam);
  // The notification's callback: NotifyMessage, with the failure left for the notifier to raise.
  TDeviceChangeReport WatchMessage(std::uint32_t message,
                                   std::uintptr_t wParam,
                                   std::intptr_t lParam);
  // The posted first refresh, and the notice when device changes cannot be followed.
  void FirstRefresh();
  void RaiseError(const TMessage& message);
  // A task that raises `message` if the controller is still there.
  std::function<void()> LaterError(TMessage message);
  // Removals of the refresh, from the end of the list; `fresh` is what the scan found.
  bool RemoveAbsent(const TDeviceList& fresh);
  // The device object, none when the create-error handler skips the interface, or the failure
  // when no handler takes it.
  THidDevice::TCreated MakeDevice(std::unique_ptr<THidPnPInfo>& pnpInfo);
  void Recount();
  std::int32_t IndexOf(const THidDevice* device) const;
  // Raises a device event with the device's InControllerEvent held, if the handler is set.
  template <typename THandlerType, typename... TArgs>
  auto RaiseDeviceEvent(const THandlerType& handler, THidDevice* device, TArgs... args);
  bool CallEnumerate(THidDevice* device, std::int32_t index);
  // Called by THidDevice::Destroy once the device is torn down.
  void GiveBack(THidDevice* device, THidDataEvent dataHandler, THidPlugEvent unplugHandler);
  // Frees an object that left the list; during a refresh only once it ends, since the
  // refresh's loops may still hold it.
  void Release(std::unique_ptr<THidDevice> device);

  THidBackend& Backend_;
  TMainThreadPort& Port_;
  THidPlugEvent OnArrival_;
  TNotifyEvent OnDeviceChange_;
  THidEnumerateEvent OnEnumerate_;
  THidDataEvent OnDeviceData_;
  THidDataErrorEvent OnDeviceDataError_;
  THidPlugEvent OnDeviceUnplug_;
  THidPlugEvent OnRemoval_;
  THidDeviceCreateError OnDeviceCreateError_;
  THidErrorEvent OnError_;
  std::int32_t DevThreadSleepTime_ = kDefaultDevThreadSleepTime;
  TDeviceList Devices_;
  std::int32_t CheckedInCount_ = 0;
  std::int32_t CheckedOutCount_ = 0;
  std::int32_t UnpluggedCount_ = 0;
  bool InRefresh_ = false;
  bool Refreshing_ = false;      // DeviceChange runs, whoever asked
  bool RefreshPending_ = false;  // asked for again meanwhile
  std::optional<std::intptr_t> PendingChangeParam_;
  bool Loading_ = false;
  bool Destroying_ = false;
  bool Started_ = false;
  std::intptr_t LastChangeParam_ = 0;
  std::unique_ptr<TDeviceNotifier> ChangeWatch_;
  std::shared_ptr<THidDeviceController*> Alive_;  // posted tasks hold it weakly
  TDeviceList Released_;                          // left the list during the refresh that runs
};

}  // namespace glowstep
