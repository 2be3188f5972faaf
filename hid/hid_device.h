// One HID interface that the device controller found.
//
// The controller makes and owns every device object. The application gets one by checking it
// out (THidDeviceController::CheckOutAt) and uses three things of it: the product name, the
// report write, and the data and data-error events, which a read thread of the device raises on
// the main thread while the device is checked out and has a data handler. The application gives
// the device back by destroying it (Destroy): the controller then holds a fresh, checked-in
// object for the same interface at the same list index.
//
// Errors are values here: an object that cannot be made (the interface cannot be opened or
// identified) is none, with the reason in its place (Create); a failed open, read or write says
// so in its result, and a read that fails goes to the data-error event. None is thrown.
//
// Threads: everything here runs on the main thread, except what the reader does through its
// own private entry points. The read connection belongs to the reader while one runs: the main
// thread then only asks it to close the connection (on an unplug) and never closes it itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "hid/hid_backend.h"
#include "hid/hid_events.h"
#include "hid/hid_pnp_info.h"

namespace glowstep {

class THidDeviceReadThread;

inline constexpr TMessageText kDeviceCannotBeOpened =
    CatalogueText("hid", "Device cannot be opened");
inline constexpr TMessageText kDeviceCannotBeIdentified =
    CatalogueText("hid", "Device cannot be identified");

// The two connections a checked-out device may hold besides its general one.
enum class TChannel { Read, Write };

class THidDevice {
 public:
  static constexpr std::int32_t kMinSleepTime = 10;
  static constexpr std::int32_t kMaxSleepTime = 10000;
  static constexpr std::int32_t kDefaultSleepTime = 100;
  static constexpr std::size_t kProductStringChars = 254;

  // A device object, or why none could be made: kDeviceCannotBeOpened or
  // kDeviceCannotBeIdentified.
  using TCreated = std::variant<std::unique_ptr<THidDevice>, TMessage>;

  THidDevice(const THidDevice&) = delete;
  THidDevice& operator=(const THidDevice&) = delete;
  ~THidDevice();

  // Destroys this object: the way the application gives a checked-out device back. When the
  // interface is still plugged in, a fresh, checked-in object with this one's data handler,
  // unplug handler and sleep time takes its place in the controller's list; otherwise the entry
  // goes. Pointers to this object are invalid afterwards.
  void Destroy();

  // --- What the application uses -------------------------------------------------------------
  // The product string, fetched once and cached (a read that fails is tried once more); empty
  // when it cannot be read now and nothing was cached.
  std::u16string QueryProductName();
  // Writes one output report synchronously: `buffer` starts with the report ID and `length`
  // should be the device's output report length. Nothing is checked, padded or cut. The error
  // says why nothing (or not all) was sent: the general connection cannot be opened, or the
  // write failed (kErrorTimeout: the device did not take the report in time).
  THidError WriteReport(const std::uint8_t* buffer,
                        std::uint32_t length,
                        std::uint32_t& bytesWritten);

  // --- Handlers and settings -----------------------------------------------------------------
  // Stops the reader first when `handler` is none; starts one when the conditions now hold.
  void AssignDataHandler(THidDataEvent handler);
  const THidDataEvent& DataHandler() const { return DataHandler_; }
  void SetDataErrorHandler(THidDataErrorEvent handler) { DataErrorHandler_ = std::move(handler); }
  const THidDataErrorEvent& DataErrorHandler() const { return DataErrorHandler_; }
  void SetUnplugHandler(THidPlugEvent handler) { UnplugHandler_ = std::move(handler); }
  const THidPlugEvent& UnplugHandler() const { return UnplugHandler_; }
  // How long the reader waits before it tries again after a read that cannot start or failed,
  // in ms; values outside 10 to 10000 are ignored.
  void SetSleepTime(std::int32_t value);
  std::int32_t SleepTime() const { return SleepTime_.load(); }

  // --- State -----------------------------------------------------------------------------------
  THidDeviceController* Controller() const { return Controller_; }
  bool PluggedIn() const { return PluggedIn_.load(); }
  bool CheckedOut() const { return CheckedOut_.load(); }
  bool InControllerEvent() const { return InControllerEvent_.load(); }
  bool ReadWriteAccess() const { return ReadWriteAccess_; }
  // Without read/write access because the system refused it: why, as the system told it at the
  // last open (Unknown when the open failed otherwise).
  THidAccessReason AccessReason() const { return AccessReason_; }
  // Without read/write access: the error of the last open for reading and writing.
  std::uint32_t ReadWriteError() const { return ReadWriteError_; }
  const THidAttributes& HidAttributes() const { return HidAttributes_; }
  const THidPnPInfo& PnPInfo() const { return *PnPInfo_; }
  const std::u16string& ProductText() const { return ProductText_; }
  bool GeneralOpen() const { return General_ != nullptr; }
  bool WriteChannelOpen() const { return WriteChannel_ != nullptr; }
  std::uint32_t GeneralInputBuffers() const { return GeneralInputBuffers_; }
  bool HasReader() const { return Reader_ != nullptr; }
  // Whether the reader, if there is one, waits now (for a report, or before it tries again).
  bool ReaderWaiting() const;
  // Whether input reports reach the reader now: it has its read connection open. A report that
  // comes while it has none (it could not open one, and tries again after SleepTime) is lost.
  bool Listening() const { return Reader_ != nullptr && ReadSideOpen_.load(); }

  // --- Used by the controller (and available to handlers) ------------------------------------
  bool CanOpen() const;
  bool OpenGeneral();
  void CloseGeneral();
  // The read channel belongs to a running reader: opening it then fails, and closing it asks the
  // reader to close it.
  bool OpenChannel(TChannel channel);
  void CloseChannel(TChannel channel);
  // The device's capabilities, asked once and kept; empty when they cannot be had.
  void QueryCaps(THidCaps& caps);
  void StartReader();
  void StopReader();
  void MarkUnplugged();

 private:
  friend class THidDeviceController;
  friend class THidDeviceReadThread;

  // A device object for the interface `pnpInfo` describes, with the controller's handlers and
  // wait slice. Takes `pnpInfo` only when it succeeds; otherwise the info stays with the caller.
  static TCreated Create(std::unique_ptr<THidPnPInfo>& pnpInfo, THidDeviceController* controller);
  THidDevice(const THidPnPInfo& pnpInfo, THidDeviceController* controller);
  // Opens the interface once to read its attributes; the reason when that fails.
  std::optional<TMessage> Identify();
  std::shared_ptr<THidConnection> OpenPath(TFileAccess access, THidError& error);
  // Opens the general connection for reading and writing, else for queries only, and notes which.
  void OpenGeneralConnection();
  static void ApplyInputBuffers(THidConnection& connection, std::uint32_t& count);
  void CloseConnections();
  // Steps of the teardown that come before giving the interface back.
  void Teardown();

  // Reader thread only (and the main thread before the reader starts). OpenReadSide returns
  // the read connection, or none with the reason.
  std::shared_ptr<THidConnection> OpenReadSide(THidError& error);
  void CloseReadSide();

  THidDeviceController* Controller_ = nullptr;
  THidBackend& Backend_;
  std::atomic<bool> PluggedIn_{true};
  std::atomic<bool> CheckedOut_{false};
  std::atomic<bool> InControllerEvent_{false};
  std::shared_ptr<THidConnection> General_;
  std::shared_ptr<THidConnection> ReadChannel_;  // the reader's while one runs
  std::atomic<bool> ReadSideOpen_{false};        // ReadChannel_ is open; read on any thread
  std::shared_ptr<THidConnection> WriteChannel_;
  THidAttributes HidAttributes_;
  std::unique_ptr<THidPnPInfo> PnPInfo_;
  const THidPnPInfo* PnPInfoInUse_ = nullptr;  // during Create, before the info is taken
  std::u16string ProductText_;
  std::optional<THidCaps> Caps_;
  std::uint32_t GeneralInputBuffers_ = 0;
  std::uint32_t ReadInputBuffers_ = 0;  // the reader's while one runs
  std::atomic<std::int32_t> SleepTime_{kDefaultSleepTime};
  THidDataEvent DataHandler_;
  THidDataErrorEvent DataErrorHandler_;
  THidPlugEvent UnplugHandler_;
  bool ReadWriteAccess_ = false;
  THidAccessReason AccessReason_ = THidAccessReason::Unknown;
  std::uint32_t ReadWriteError_ = 0;
  std::unique_ptr<THidDeviceReadThread> Reader_;
};

}  // namespace glowstep
