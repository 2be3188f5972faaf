// The link to the staircase controller: which HID device it is, holding it while it stays
// attached, the readiness display, and which reports reach the settings codec.
//
// The window owns one TControllerLink, binds its handlers to the HID device controller (Bind)
// and implements TControllerView, through which the link shows whether a controller is held,
// lets the photo-sensor level be edited for firmware that has it, marks a failed read, and reaches
// the settings the codec reads and writes. Everything runs on the main thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "hid/hid_device.h"
#include "hid/hid_device_controller.h"
#include "protocol/settings_codec.h"

namespace glowstep {

// A device is the controller when its product string contains this, exactly as written.
inline constexpr std::string_view kControllerProductMatch = "Glowstep 3";
// Where the firmware version stands in the product string ("Glowstep 3.2").
inline constexpr std::string_view kFirmwareVersionMarker = "3.";
// Firmware newer than 3.1 has the photo-sensor settings.
inline constexpr int kPhotoSensorFirmware = 2;
// The smallest reply payload (report bytes 1 onward) taken for a settings reply.
inline constexpr std::uint16_t kMinReplyPayload = 32;
// The user's messages (see base/message.h): in English here, translated by the window.
inline constexpr TMessageText kReadErrorCaption = CatalogueText("protocol", "ERROR");
// A report the controller did not take, with the system's reason.
inline constexpr TMessageText kSendFailedMessage =
    CatalogueText("protocol", "Sending to the controller failed: %1");
// A read asked for while the held controller's reader cannot receive its answer.
inline constexpr TMessageText kReplyNotReceivedMessage =
    CatalogueText("protocol",
                  "The controller's answer cannot be received now: reading from it failed. Read "
                  "again in a moment");
// A report the controller did not take in time (the write time limit, or the system's own).
inline constexpr TMessageText kReportNotTakenMessage = CatalogueText(
    "protocol",
    "The controller did not take the report in time: it may be busy or have stopped working");
// What the status line says of a command (%1: the controller's product string).
inline constexpr TMessageText kSettingsReadStatus =
    CatalogueText("protocol", "Settings read from %1");
inline constexpr TMessageText kSettingsSentStatus =
    CatalogueText("protocol", "Settings sent to %1");
inline constexpr TMessageText kNoControllerStatus =
    CatalogueText("protocol", "No controller is connected");
inline constexpr TMessageText kNoAnswerStatus =
    CatalogueText("protocol", "The controller did not answer within 1 s");
// How long a read request waits for its answer before the user is told it did not come.
inline constexpr std::chrono::milliseconds kReplyPatience{1000};
// A reply too short to hold the settings (%1: the bytes that came after the report ID).
inline constexpr TMessageText kShortReplyMessage =
    CatalogueText("protocol",
                  "The controller answered with %1 bytes, too few to hold its settings");

// Writes `report` to `device` as one output report. None when the device took all of it;
// otherwise what the user is told: kReportNotTakenMessage when the device did not take it in
// time, else kSendFailedMessage with the system's reason, or how little of the report the system
// took (a short write is a failed write).
std::optional<TMessage> SendReport(THidDevice& device, const SettingsReport& report);

// True when `product` contains "Glowstep 3" anywhere (case-sensitive).
bool IsControllerProduct(std::string_view product);

// The digit right after the first "3." of the product string: "Glowstep 3.2" gives 2,
// "Glowstep 3.1" gives 1. No "3." gives 0, and so does a character that is not a digit.
int FirmwareVersion(std::string_view product);

// What the user is told about a controller found at `path` that cannot be opened for reading
// and writing, and what to do about it: the reason and the fix below, in one message.
TMessage ControllerAccessMessage(std::string_view product,
                                 std::string_view path,
                                 THidAccessReason reason);
// Why a device found cannot be opened for reading and writing, in the user's words: the case the
// system names (THidDevice::AccessReason), else words that cover every case.
TMessage ControllerAccessReason(THidAccessReason reason);
// What the user does about it, for a controller: for a reason it cannot tell, every remedy.
TMessage ControllerAccessFix(THidAccessReason reason);
// Whether an open for reading and writing that failed with `error` was refused for lack of
// access (or the system did not say why), as opposed to failing for another reason, such as the
// device having gone.
bool IsAccessRefused(std::uint32_t error);
// What the user is told when the open for reading and writing failed with `error`: the message
// above when the system refused access (or did not say why); otherwise the system's reason, which
// no change of access rights mends.
TMessage ControllerOpenMessage(std::string_view product,
                               std::string_view path,
                               THidAccessReason reason,
                               std::uint32_t error);

// A device's product string (wide text) in the system's 8-bit encoding: the ANSI code page on
// Windows, the locale's multibyte encoding elsewhere. Characters without a counterpart become
// "?".
std::string ProductToNarrow(std::u16string_view product);

// The window as the link sees it.
class TControllerView : public TSettingsControls {
 public:
  // The readiness display: on while a controller is held.
  virtual void SetDeviceStatus(bool on) = 0;
  // Whether the photo-sensor level may be edited: only while a controller whose firmware has the
  // photo-sensor settings is held.
  virtual void SetPhotoControlsEnabled(bool enabled) = 0;
  // The text kept after reading from the controller failed (it is not shown).
  virtual void SetErrorCaption(const TMessage& caption) = 0;
  // What became of the user's last command, for the status line.
  virtual void ShowStatus(const TMessage& /*status*/) {}
  // A read request went out (true): the view calls TControllerLink::ReplyOverdue once
  // kReplyPatience has passed, unless told first that the wait is over (false).
  virtual void SetReplyAwaited(bool /*awaited*/) {}
  // Shows `message` in the application's error box.
  virtual void ShowError(const TMessage& message) = 0;
};

class TControllerLink {
 public:
  TControllerLink(THidDeviceController& hidController, TControllerView& view);
  TControllerLink(const TControllerLink&) = delete;
  TControllerLink& operator=(const TControllerLink&) = delete;
  // Unbinds the handlers from the HID device controller. Nothing is sent to the device.
  ~TControllerLink();

  // Binds OnArrival, OnEnumerate, OnDeviceData, OnDeviceDataError and OnRemoval.
  void Bind();

  // --- Handlers of the HID device controller's events ---------------------------------------
  bool HidControllerEnumerate(THidDevice* HidDev, std::int32_t Idx);
  void HidControllerArrival(THidDevice* HidDev);
  void HidControllerRemoval(THidDevice* HidDev);
  void HidControllerDeviceData(THidDevice* HidDev,
                               std::uint8_t ReportID,
                               const std::uint8_t* Data,
                               std::uint16_t Size);
  void HidControllerDeviceDataError(THidDevice* HidDev, std::uint32_t Error);

  // --- Reading and writing the settings ----------------------------------------------------
  // Sets the two stored colours back to main white and standby 0x003030 and shows them on the
  // swatches; the numeric settings stay as they are.
  void ResetColors();
  // Asks the held controller, if any, for its settings: builds the read request and sends it. The
  // status line tells the outcome: no controller, the send's failure, or, once the answer came, the
  // settings read (or, after kReplyPatience, that none came).
  void RequestSettings();
  // Writes the edited settings (the fields' values and the stored colours) to the held controller
  // as one write report; the status line tells the outcome.
  void WriteSettings();
  // The read request's answer has not come within kReplyPatience: the user is told, unless it
  // came meanwhile.
  void ReplyOverdue();
  // Writes the report buffer to the held controller as one output report; nothing without one.
  // A write that fails, or takes only part of the report, is shown in the error box (SendReport)
  // and in the status line. True when all of it was written.
  bool SendData();

  THidDevice* HeldDevice() const { return HeldDevice_; }
  TSettingsCodec& Codec() { return Codec_; }
  const TSettingsCodec& Codec() const { return Codec_; }
  // Removed controllers whose give-back is still scheduled.
  std::size_t PendingGiveBacks() const { return PendingGiveBacks_; }

 private:
  static std::string ProductOf(THidDevice* device);
  // A device's product string, as plain text for a message.
  static TMessage ProductName(THidDevice* device);
  // The wait for a read request's answer is over (it came, or cannot come any more).
  void EndReplyWait();
  // Shows `message` from the main loop, once the controller's event has returned.
  void ShowErrorLater(TMessage message);
  // Gives an unplugged, checked-out device back to the controller once the refresh that removed
  // it has finished, so its reader stops and the entry leaves the list.
  void ScheduleGiveBack(THidDevice* device);

  THidDeviceController& HidController_;
  TControllerView& View_;
  TSettingsCodec Codec_;
  THidDevice* HeldDevice_ = nullptr;
  // A read request went out and no report has come back since: a reply too short to use is told.
  bool ReplyAwaited_ = false;
  // Controllers found that the user may not open, and was told about; until they go.
  std::set<const THidDevice*> Refused_;
  std::size_t PendingGiveBacks_ = 0;
  std::shared_ptr<TControllerLink*> Alive_;  // scheduled give-backs hold it weakly
};

}  // namespace glowstep
