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
// own private entry points. The read handle belongs to the reader while one runs: the main
// thread then only asks it to close the handle (on an unplug) and never closes it itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "hid/hid_events.h"
#include "hid/hid_platform.h"
#include "hid/hid_pnp_info.h"

namespace glowstep {

class THidDeviceReadThread;

inline constexpr TMessageText kDeviceCannotBeOpened =
    CatalogueText("hid", "Device cannot be opened");
inline constexpr TMessageText kDeviceCannotBeIdentified =
    CatalogueText("hid", "Device cannot be identified");

enum class TOverlappedDirection { Read, Write };

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
  // should be the device's output report length. Nothing is checked, padded or cut.
  bool WriteReport(const std::uint8_t* buffer, std::uint32_t length, std::uint32_t& bytesWritten);

  // --- Handlers and settings -----------------------------------------------------------------
  // Stops the reader first when `handler` is none; starts one when the conditions now hold.
  void AssignDataHandler(THidDataEvent handler);
  const THidDataEvent& DataHandler() const { return DataHandler_; }
  void SetDataErrorHandler(THidDataErrorEvent handler) { DataErrorHandler_ = std::move(handler); }
  const THidDataErrorEvent& DataErrorHandler() const { return DataErrorHandler_; }
  void SetUnplugHandler(THidPlugEvent handler) { UnplugHandler_ = std::move(handler); }
  const THidPlugEvent& UnplugHandler() const { return UnplugHandler_; }
  // The reader's wait slice in ms; values outside 10 to 10000 are ignored.
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
  THidHandle GeneralHandle() const { return GeneralHandle_; }
  THidHandle WriteHandle() const { return WriteHandle_; }
  std::uint32_t GeneralInputBuffers() const { return GeneralInputBuffers_; }
  bool HasReader() const { return Reader_ != nullptr; }
  // Whether input reports reach the reader now: it has its read handle open. A report that comes
  // while it has none (it could not open one, and tries again after SleepTime) is lost.
  bool Listening() const { return Reader_ != nullptr && ReadSideOpen_.load(); }

  // --- Used by the controller (and available to handlers) ------------------------------------
  bool CanOpen() const;
  bool OpenGeneral();
  void CloseGeneral();
  // The read side belongs to a running reader: opening it then fails, and closing it asks the
  // reader to close it.
  bool OpenOverlapped(TOverlappedDirection direction);
  void CloseOverlapped(TOverlappedDirection direction);
  TPreparsedData AcquirePreparsed();
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
  THidHandle OpenPath(TFileAccess access, bool overlapped);
  // Opens the general handle for reading and writing, else for queries only, and notes which.
  void OpenGeneralHandle();
  void ApplyInputBuffers(THidHandle handle, std::uint32_t& count);
  void CloseHandles();
  // Steps of the teardown that come before giving the interface back.
  void Teardown();

  // Reader thread only.
  bool OpenReadSide();
  void CloseReadSide();
  bool BeginReadReport(std::uint8_t* buffer, std::uint32_t length, TPlatformRead& read);
  // The byte count of the completed read; false when it failed (the last error says why).
  bool ReadResult(TPlatformRead& read, std::uint32_t& count);
  bool CancelRead(TPlatformRead& read);

  THidDeviceController* Controller_ = nullptr;
  THidPlatform& Platform_;
  std::atomic<bool> PluggedIn_{true};
  std::atomic<bool> CheckedOut_{false};
  std::atomic<bool> InControllerEvent_{false};
  THidHandle GeneralHandle_ = kInvalidHandle;
  THidHandle ReadHandle_ = kInvalidHandle;  // the reader's while one runs
  std::atomic<bool> ReadSideOpen_{false};   // ReadHandle_ is open; read on any thread
  THidHandle WriteHandle_ = kInvalidHandle;
  THidAttributes HidAttributes_;
  std::unique_ptr<THidPnPInfo> PnPInfo_;
  const THidPnPInfo* PnPInfoInUse_ = nullptr;  // during Create, before the info is taken
  std::u16string ManufacturerText_;
  std::u16string SerialNumberText_;
  std::vector<std::uint16_t> PhysicalDescriptor_;
  std::vector<std::u16string> LanguageStrings_;
  std::u16string ProductText_;
  TPreparsedData Preparsed_ = 0;
  std::uint32_t GeneralInputBuffers_ = 0;
  std::uint32_t OverlappedInputBuffers_ = 0;  // the reader's while one runs
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
