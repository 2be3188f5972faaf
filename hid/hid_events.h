// Event handlers of the HID layer and the event types the controller and its devices raise.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

namespace glowstep {

class TMessage;
class THidDevice;
class THidDeviceController;
class THidPnPInfo;

template <typename Signature>
class THandler;

// An event handler: the code to run and the context it runs in, or none. A handler that is none
// is never called; the caller tests it first (`if (handler) handler(...)`).
//
// The controller passes its data, data-error and unplug handlers on to its devices, and a device
// follows a new controller handler only while it still holds the previous one, judged by the code
// alone: the same member function bound to two different objects counts as the same handler.
// A C++ callable has no such identity, so a handler carries an explicit code key beside it:
//  - `THandler<...>::Bind<&TClass::Method>(object)` takes a key unique to the member function, so
//    every binding of that function compares equal, whatever the object;
//  - `THandler(key, callable)` takes a key the caller chooses (the address of anything the caller
//    owns, a static tag for instance), for callables that stand for the same code;
//  - `THandler(callable)` makes a fresh key that only its own copies share.
// Copies share the key; assignment replaces both parts.
template <typename R, typename... Args>
class THandler<R(Args...)> {
 public:
  using TCode = const void*;

  THandler() = default;
  THandler(std::nullptr_t) {}  // NOLINT(google-explicit-constructor): "none"

  template <typename F>
  requires std::invocable<F&, Args...> THandler(TCode code, F&& function)
      : Code_(code), Function_(std::forward<F>(function)) {
    if (!Function_) Code_ = nullptr;
  }

  // Constrained so that it never stands in for the copy and move constructors.
  // NOLINTBEGIN(bugprone-forwarding-reference-overload)
  template <typename F>
  requires(std::invocable<F&, Args...> &&
           !std::same_as<std::remove_cvref_t<F>, THandler>) explicit THandler(F&& function)
      : Key_(std::make_shared<char>()), Code_(Key_.get()), Function_(std::forward<F>(function)) {}
  // NOLINTEND(bugprone-forwarding-reference-overload)

  template <auto Method, typename C>
  static THandler Bind(C* object) {
    return THandler(&kMethodKey<Method>, [object](Args... args) -> R {
      return (object->*Method)(std::forward<Args>(args)...);
    });
  }

  TCode Code() const { return Code_; }
  bool Assigned() const { return Code_ != nullptr; }
  explicit operator bool() const { return Assigned(); }
  bool SameCode(const THandler& other) const { return Code_ == other.Code_; }

  R operator()(Args... args) const { return Function_(std::forward<Args>(args)...); }

 private:
  // One distinct object per member function: its address is that function's code key.
  template <auto Method>
  static inline char kMethodKey = 0;

  std::shared_ptr<char> Key_;  // keeps a fresh key's address unique while any copy lives
  TCode Code_ = nullptr;
  std::function<R(Args...)> Function_;
};

// Sender-only notification (the controller's `OnDeviceChange`).
using TNotifyEvent = THandler<void(THidDeviceController* Sender)>;
// `OnArrival`, `OnRemoval`, `OnDeviceUnplug`.
using THidPlugEvent = THandler<void(THidDevice* HidDev)>;
// `OnEnumerate`: Idx is the device's index in the controller's list; true goes on.
using THidEnumerateEvent = THandler<bool(THidDevice* HidDev, std::int32_t Idx)>;
// `OnDeviceData`: Data points at the report's second byte and is valid during the call only.
using THidDataEvent = THandler<
    void(THidDevice* HidDev, std::uint8_t ReportID, const std::uint8_t* Data, std::uint16_t Size)>;
// `OnDeviceDataError`: Error is the platform error code of the read that could not be started.
using THidDataErrorEvent = THandler<void(THidDevice* HidDev, std::uint32_t Error)>;
// `OnDeviceCreateError`: set Handled to skip the interface, and RetryCreate too to try again.
using THidDeviceCreateError = THandler<void(THidDeviceController* Controller,
                                            const THidPnPInfo& PnPInfo,
                                            bool& Handled,
                                            bool& RetryCreate)>;
// `OnError`: a failure of the controller's own, worded for the user (the list could not be
// read, a device object could not be made, device changes cannot be followed).
using THidErrorEvent = THandler<void(THidDeviceController* Sender, const TMessage& message)>;

}  // namespace glowstep
