#include "protocol/controller_link.h"

#include <climits>
#include <cwchar>
#include <utility>

#include "base/numbers.h"
#include "hid/main_thread_port.h"

#ifdef _WIN32
#include "base/windows_api.h"
#endif

namespace glowstep {

std::optional<TMessage> SendReport(THidDevice& device, const SettingsReport& report) {
  std::uint32_t written = 0;
  if (const THidError error = device.WriteReport(report.data(), kSettingsReportSize, written)) {
    if (error.Code == kErrorTimeout) return TMessage(kReportNotTakenMessage);
    return TMessage(kSendFailedMessage, {HidErrorMessage(error)});
  }
  if (written == kSettingsReportSize) return std::nullopt;
  const TMessage shortWrite(
      CatalogueText("protocol", "the controller took only %1 of the %2 bytes"),
      {TMessage::Plain(std::to_string(written)),
       TMessage::Plain(std::to_string(kSettingsReportSize))});
  return TMessage(kSendFailedMessage, {shortWrite});
}

bool IsControllerProduct(std::string_view product) {
  return product.find(kControllerProductMatch) != std::string_view::npos;
}

int FirmwareVersion(std::string_view product) {
  const auto at = product.find(kFirmwareVersionMarker);
  if (at == std::string_view::npos) return 0;
  const auto digitAt = at + kFirmwareVersionMarker.size();
  if (digitAt >= product.size()) return 0;
  const char c = product[digitAt];
  return c >= '0' && c <= '9' ? c - '0' : 0;
}

std::string ProductToNarrow(std::u16string_view product) {
  if (product.empty()) return {};
#ifdef _WIN32
  static_assert(sizeof(wchar_t) == sizeof(char16_t));
  const auto* wide = reinterpret_cast<const wchar_t*>(product.data());
  const int length = static_cast<int>(product.size());
  const int needed = WideCharToMultiByte(CP_ACP, 0, wide, length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return {};
  std::string narrow(static_cast<std::size_t>(needed), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide, length, narrow.data(), needed, nullptr, nullptr);
  return narrow;
#else
  std::string narrow;
  std::mbstate_t state{};
  char bytes[MB_LEN_MAX];
  for (std::size_t i = 0; i < product.size(); ++i) {
    char32_t c = product[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < product.size() && product[i + 1] >= 0xDC00 &&
        product[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (product[++i] - 0xDC00U);
    }
    const std::size_t n = std::wcrtomb(bytes, static_cast<wchar_t>(c), &state);
    if (n == static_cast<std::size_t>(-1)) {
      narrow.push_back('?');
      state = std::mbstate_t{};
    } else {
      narrow.append(bytes, n);
    }
  }
  return narrow;
#endif
}

#ifndef _WIN32
namespace {

// The two remedies on Linux: the udev rule gives the controller's node to the plugdev group and
// to the user logged in at the seat; a user with no seat (over SSH, on a headless board) joins
// the group.
constexpr TMessageText kInstallRule = CatalogueText(
    "protocol",
    "Install the udev rule (the package installs it; from the sources: sudo cp "
    "packaging/linux/70-glowstep.rules /etc/udev/rules.d/), then plug the controller in again");
constexpr TMessageText kJoinGroup = CatalogueText(
    "protocol",
    "join the plugdev group (sudo usermod -aG plugdev $USER), then log in again; or use the "
    "controller from a login at the desktop itself.");

}  // namespace
#endif

TMessage ControllerAccessReason([[maybe_unused]] THidAccessReason reason) {
#ifdef _WIN32
  // Windows refuses read/write access to a HID device another program holds exclusively.
  return CatalogueText("protocol", "another program may be using it");
#else
  switch (reason) {
    case THidAccessReason::RootOnly:
      return CatalogueText("protocol", "only root may read and write it");
    case THidAccessReason::NotInPlugdev:
      return CatalogueText("protocol",
                           "this user is neither logged in at the seat nor in the plugdev group");
    case THidAccessReason::Unknown:
      break;
  }
  return CatalogueText("protocol", "this user may not read and write it");
#endif
}

TMessage ControllerAccessFix([[maybe_unused]] THidAccessReason reason) {
#ifdef _WIN32
  return CatalogueText("protocol", "Close that program, then plug the controller in again.");
#else
  switch (reason) {
    case THidAccessReason::RootOnly:
      return {
          CatalogueText("protocol", "%1 or run \"sudo udevadm trigger --subsystem-match=hidraw\"."),
          {kInstallRule}};
    case THidAccessReason::NotInPlugdev:
      return {CatalogueText("protocol", "The udev rule is installed: %1"), {kJoinGroup}};
    case THidAccessReason::Unknown:
      break;
  }
  return {CatalogueText("protocol", "%1. If it is installed, %2"), {kInstallRule, kJoinGroup}};
#endif
}

namespace {

// "The controller <product> was found at <path>"; on Windows without the path of the device
// interface, which means nothing to the user.
TMessage ControllerFound(std::string_view product, [[maybe_unused]] std::string_view path) {
#ifdef _WIN32
  return {CatalogueText("protocol", "The controller %1 was found"),
          {TMessage::Plain(std::string(product))}};
#else
  return {CatalogueText("protocol", "The controller %1 was found at %2"),
          {TMessage::Plain(std::string(product)), TMessage::Plain(std::string(path))}};
#endif
}

}  // namespace

TMessage ControllerAccessMessage(std::string_view product,
                                 std::string_view path,
                                 THidAccessReason reason) {
#ifdef _WIN32
  const TMessageText text =
      CatalogueText("protocol", "%1, but it cannot be opened for reading and writing: %2.\n%3");
#else
  const TMessageText text = CatalogueText("protocol", "%1, but %2.\n%3");
#endif
  return {text,
          {ControllerFound(product, path), ControllerAccessReason(reason),
           ControllerAccessFix(reason)}};
}

bool IsAccessRefused(std::uint32_t error) {
  return error == 0 || error == kErrorAccessDenied || error == kErrorSharingViolation;
}

TMessage ControllerOpenMessage(std::string_view product,
                               std::string_view path,
                               THidAccessReason reason,
                               std::uint32_t error) {
  if (IsAccessRefused(error)) return ControllerAccessMessage(product, path, reason);
  return {CatalogueText("protocol", "%1, but it cannot be opened for reading and writing: %2"),
          {ControllerFound(product, path), ErrorCodeMessage(error)}};
}

TControllerLink::TControllerLink(THidDeviceController& hidController, TControllerView& view)
    : HidController_(hidController),
      View_(view),
      Alive_(std::make_shared<TControllerLink*>(this)) {}

TControllerLink::~TControllerLink() {
  // The handlers point at this object: clear them before it goes. Clearing the data handler
  // also stops the readers that deliver to it.
  HidController_.SetOnArrival(nullptr);
  HidController_.SetOnEnumerate(nullptr);
  HidController_.SetOnRemoval(nullptr);
  HidController_.SetOnDeviceDataError(nullptr);
  HidController_.SetOnDeviceData(nullptr);
}

void TControllerLink::Bind() {
  using T = TControllerLink;
  HidController_.SetOnArrival(THidPlugEvent::Bind<&T::HidControllerArrival>(this));
  HidController_.SetOnEnumerate(THidEnumerateEvent::Bind<&T::HidControllerEnumerate>(this));
  HidController_.SetOnDeviceData(THidDataEvent::Bind<&T::HidControllerDeviceData>(this));
  HidController_.SetOnDeviceDataError(
      THidDataErrorEvent::Bind<&T::HidControllerDeviceDataError>(this));
  HidController_.SetOnRemoval(THidPlugEvent::Bind<&T::HidControllerRemoval>(this));
}

std::string TControllerLink::ProductOf(THidDevice* device) {
  return ProductToNarrow(device->QueryProductName());
}

bool TControllerLink::HidControllerEnumerate(THidDevice* HidDev, std::int32_t Idx) {
  if (HeldDevice_ != nullptr) {
    THidDevice* held = HeldDevice_;
    HeldDevice_ = nullptr;
    try {
      held->Destroy();
    } catch (...) {
      // Giving the device back may fail to make its replacement; the entry then just goes.
    }
    if (held == HidDev) {
      // The object offered was the one given back: its replacement stands at the same index.
      const auto& devices = HidController_.Devices();
      if (Idx < 0 || static_cast<std::size_t>(Idx) >= devices.size()) return true;
      HidDev = devices[static_cast<std::size_t>(Idx)].get();
    }
  }
  const std::string product = ProductOf(HidDev);
  if (!IsControllerProduct(product)) return true;
  // A controller that cannot be opened for reading and writing would look held and do nothing:
  // it is not taken, and the user learns why once per arrival. The open asks the system again,
  // so access granted since the last look counts.
  if (!HidDev->OpenGeneral() || !HidDev->ReadWriteAccess()) {
    // A controller that went away meanwhile is not one the user may not open: its removal
    // follows.
    if (IsDeviceGoneError(HidDev->ReadWriteError())) return true;
    if (Refused_.insert(HidDev).second)
      ShowErrorLater(ControllerOpenMessage(ToUtf8(HidDev->QueryProductName()),
                                           HidDev->PnPInfo().DevicePath, HidDev->AccessReason(),
                                           HidDev->ReadWriteError()));
    return true;
  }

  THidDevice* device = nullptr;
  if (!HidController_.CheckOutAt(device, Idx)) return true;  // not ours to take; look further
  HeldDevice_ = device;
  View_.SetDeviceStatus(true);
  if (FirmwareVersion(ProductOf(device)) >= kPhotoSensorFirmware) {
    View_.SetPhotoControlsEnabled(true);
  }
  return false;
}

void TControllerLink::HidControllerArrival(THidDevice* /*HidDev*/) {
  // The arriving device itself is not looked at: a new enumeration over the devices known so
  // far finds the first controller in list order.
  if (HeldDevice_ == nullptr) HidController_.EnumerateDevices();
}

void TControllerLink::HidControllerRemoval(THidDevice* HidDev) {
  Refused_.erase(HidDev);  // the object goes: the next one for the device is a new arrival
  if (HidDev == nullptr || HidDev != HeldDevice_) return;
  HeldDevice_ = nullptr;
  if (ReplyAwaited_) {
    EndReplyWait();
    View_.ShowStatus(TMessage(kNoControllerStatus));
  }
  View_.SetDeviceStatus(false);
  if (FirmwareVersion(ProductOf(HidDev)) >= kPhotoSensorFirmware) {
    View_.SetPhotoControlsEnabled(false);
  }
  ScheduleGiveBack(HidDev);
}

void TControllerLink::ShowErrorLater(TMessage message) {
  // Not inside the controller's event: the error box runs an event loop of its own.
  std::weak_ptr<TControllerLink*> alive = Alive_;
  HidController_.Port().Post([alive, message = std::move(message)] {
    if (const auto link = alive.lock()) (*link)->View_.ShowError(message);
  });
}

void TControllerLink::ScheduleGiveBack(THidDevice* device) {
  // The object must not be destroyed inside its own removal event, so the give-back runs from
  // the main loop once the refresh has returned. Until then its reader may still deliver a
  // queued report, which is decoded like any other.
  ++PendingGiveBacks_;
  std::weak_ptr<TControllerLink*> alive = Alive_;
  HidController_.Port().Post([alive, device] {
    const auto link = alive.lock();
    if (!link) return;
    TControllerLink& self = **link;
    --self.PendingGiveBacks_;
    for (const auto& entry : self.HidController_.Devices()) {
      if (entry.get() != device) continue;
      if (!device->PluggedIn() && device->CheckedOut() && device != self.HeldDevice_) {
        device->Destroy();
      }
      return;
    }
  });
}

void TControllerLink::HidControllerDeviceData(THidDevice* HidDev,
                                              std::uint8_t /*ReportID*/,
                                              const std::uint8_t* Data,
                                              std::uint16_t Size) {
  // Any input report of the controller is taken for a settings reply, whatever was asked.
  if (!IsControllerProduct(ProductOf(HidDev))) return;
  const bool awaited = ReplyAwaited_;
  if (awaited) EndReplyWait();
  if (Size < kMinReplyPayload) {
    // Said once per request: a device that sends short reports of its own accord is not the
    // user's concern.
    if (awaited) {
      TMessage message(kShortReplyMessage, {TMessage::Plain(std::to_string(Size))});
      View_.ShowStatus(message);
      ShowErrorLater(std::move(message));
    }
    return;
  }
  Codec_.ApplyReply(Data, Size, View_);
  View_.ShowStatus(TMessage(kSettingsReadStatus, {ProductName(HidDev)}));
}

void TControllerLink::HidControllerDeviceDataError(THidDevice* HidDev, std::uint32_t /*Error*/) {
  if (IsControllerProduct(ProductOf(HidDev))) View_.SetErrorCaption(kReadErrorCaption);
}

void TControllerLink::ResetColors() {
  Codec_.SetMainColorValue(0xFFFFFF);
  Codec_.SetIdleColorValue(0x003030);
  // The swatches show the stored colours as a read shows them, so what they show is what a
  // write sends.
  View_.SetSwatchColor(TColorSwatch::MainColor, NormalizeColor(Codec_.MainColorValue()));
  View_.SetSwatchColor(TColorSwatch::IdleColor, NormalizeColor(Codec_.IdleColorValue()));
}

void TControllerLink::RequestSettings() {
  Codec_.BuildReadRequest();
  // The answer to a request sent while the reader has no read handle open comes to nobody: the
  // request still goes out, and the user learns that no settings will come of it.
  const bool deaf = HeldDevice_ != nullptr && !HeldDevice_->Listening();
  if (!SendData()) return;
  if (deaf) {
    // No answer can come: nothing to wait for.
    View_.ShowStatus(TMessage(kReplyNotReceivedMessage));
    View_.ShowError(kReplyNotReceivedMessage);
    return;
  }
  ReplyAwaited_ = true;
  View_.SetReplyAwaited(true);
}

void TControllerLink::WriteSettings() {
  Codec_.BuildWriteReport(View_);
  if (SendData()) View_.ShowStatus(TMessage(kSettingsSentStatus, {ProductName(HeldDevice_)}));
}

void TControllerLink::ReplyOverdue() {
  if (!ReplyAwaited_) return;
  EndReplyWait();
  View_.ShowStatus(TMessage(kNoAnswerStatus));
}

void TControllerLink::EndReplyWait() {
  ReplyAwaited_ = false;
  View_.SetReplyAwaited(false);
}

TMessage TControllerLink::ProductName(THidDevice* device) {
  return TMessage::Plain(ToUtf8(device->QueryProductName()));
}

bool TControllerLink::SendData() {
  if (HeldDevice_ == nullptr) {
    View_.ShowStatus(TMessage(kNoControllerStatus));
    return false;
  }
  const auto failure = SendReport(*HeldDevice_, Codec_.Report());
  if (failure) {
    View_.ShowStatus(*failure);
    View_.ShowError(*failure);
  }
  return !failure;
}

}  // namespace glowstep
