#include "cli/controller_session.h"

#include <algorithm>

#include "base/numbers.h"
#include "cli/escaped_text.h"

namespace glowstep {

namespace {

std::string ProductOf(THidDevice* device) { return ToUtf8(device->QueryProductName()); }

std::int32_t IndexIn(const THidDeviceController& controller, const THidDevice* device) {
  const auto& devices = controller.Devices();
  for (std::size_t i = 0; i < devices.size(); ++i) {
    if (devices[i].get() == device) return static_cast<std::int32_t>(i);
  }
  return -1;
}

}  // namespace

std::string Describe(THidDevice* device) {
  return Escaped(ProductOf(device)) + " at " + device->PnPInfo().DevicePath;
}

TControllerSession::TControllerSession(THidBackend& platform,
                                       TMainLoop& loop,
                                       std::chrono::milliseconds timeout)
    : Loop_(loop),
      Timeout_(timeout),
      HidController_(std::make_unique<THidDeviceController>(platform, loop)) {
  // The time-out bounds each exchange as a whole, the request's write included.
  platform.SetWriteTimeLimit(timeout);
  using T = TControllerSession;
  HidController_->SetOnDeviceData(THidDataEvent::Bind<&T::DeviceData>(this));
  HidController_->SetOnDeviceDataError(THidDataErrorEvent::Bind<&T::DataError>(this));
  HidController_->SetOnRemoval(THidPlugEvent::Bind<&T::Removal>(this));
  // The first refresh was posted by the controller: every interface present is listed after it.
  // A list that could not be made is no list of what is present: the command ends there, an I/O
  // error of the run. Later refreshes only follow devices coming and going, and one that fails
  // leaves the list as it was; nor does a command on the devices present need to follow them.
  std::optional<TMessage> failure;
  HidController_->SetOnError(
      THidErrorEvent([&failure](THidDeviceController* /*Sender*/, const TMessage& message) {
        const bool notice =
            message.Text() && std::string_view(message.Text()->English) ==
                                  THidDeviceController::kDeviceChangesNotFollowed.English;
        if (!notice && !failure) failure = message;
      }));
  Loop_.RunPending();
  HidController_->SetOnError(nullptr);
  if (failure) throw ECliFailure(TExitStatus::Io, failure->English());
  // A device opens only inside the controller's events (or once checked out): the enumeration
  // is where each product string is fetched, and it stays cached.
  HidController_->SetOnEnumerate(THidEnumerateEvent([](THidDevice* device, std::int32_t) {
    device->QueryProductName();
    return true;
  }));
  HidController_->EnumerateDevices();
  HidController_->SetOnEnumerate(nullptr);
}

TControllerSession::~TControllerSession() {
  HidController_->SetOnRemoval(nullptr);
  HidController_->SetOnDeviceDataError(nullptr);
  HidController_->SetOnDeviceData(nullptr);  // stops the readers
  HidController_.reset();
  Loop_.RunPending();
}

std::vector<TDeviceListing> TControllerSession::List() {
  std::vector<TDeviceListing> listing;
  for (const auto& device : HidController_->Devices()) {
    if (device->PluggedIn()) listing.push_back(Listing(device.get()));
  }
  return listing;
}

TDeviceListing TControllerSession::Listing(THidDevice* device) {
  TDeviceListing entry;
  entry.Names = NamesOf(device);
  entry.VendorID = device->HidAttributes().VendorID;
  entry.ProductID = device->HidAttributes().ProductID;
  entry.Product = ProductOf(device);
  const std::string narrow = ProductToNarrow(device->QueryProductName());
  entry.IsController = IsControllerProduct(narrow);
  entry.Firmware = entry.IsController ? FirmwareVersion(narrow) : 0;
  entry.ReadWrite = device->ReadWriteAccess();
  entry.AccessReason = device->AccessReason();
  entry.OpenError = device->ReadWriteError();
  return entry;
}

TDeviceNames TControllerSession::NamesOf(THidDevice* device) {
  const THidPnPInfo& info = device->PnPInfo();
  TDeviceNames names{info.DevicePath, info.PortName, info.SerialNumber, {}};
  // The interfaces of one USB device share its serial number: it names none of them then.
  const bool shared = std::any_of(HidController_->Devices().begin(),
                                  HidController_->Devices().end(), [&](const auto& other) {
                                    return other.get() != device && other->PluggedIn() &&
                                           other->PnPInfo().SerialNumber == names.Serial;
                                  });
  if (!names.Serial.empty() && !shared) {
    names.Name = names.Serial;
  } else {
    names.Name = !names.Port.empty() ? names.Port : names.Path;
  }
  return names;
}

std::vector<THidDevice*> TControllerSession::Targets(const std::vector<std::string>& names,
                                                     bool all) {
  std::vector<THidDevice*> controllers;
  std::vector<THidDevice*> targets;
  for (const auto& device : HidController_->Devices()) {
    if (device->PluggedIn() && IsControllerProduct(ProductToNarrow(device->QueryProductName())))
      controllers.push_back(device.get());
  }
  for (const std::string& name : names) {
    // The path names one device; a port or a serial number may fit several interfaces, of which
    // only the controllers count.
    THidDevice* found = nullptr;
    THidDevice* other = nullptr;
    std::size_t fitting = 0;
    std::string paths;
    for (const auto& device : HidController_->Devices()) {
      if (!device->PluggedIn()) continue;
      const TDeviceNames known = NamesOf(device.get());
      if (known.Path != name && known.Port != name && known.Serial != name) continue;
      const bool controller =
          std::find(controllers.begin(), controllers.end(), device.get()) != controllers.end();
      if (known.Path == name) {
        found = controller ? device.get() : nullptr;
        other = controller ? nullptr : device.get();
        fitting = controller ? 1 : 0;
        break;
      }
      if (controller) {
        if (fitting++ == 0) found = device.get();
        paths += (paths.empty() ? "" : ", ") + known.Path;
      } else if (other == nullptr) {
        other = device.get();
      }
    }
    if (fitting > 1) {
      throw ECliFailure(TExitStatus::Usage, "\"" + Escaped(name) + "\" names more than one " +
                                                "controller (" + Escaped(paths) +
                                                "): name one by its path or port.");
    }
    if (found == nullptr && other != nullptr) {
      throw ECliFailure(TExitStatus::NoController, "The device " + Escaped(name) + " (" +
                                                       Escaped(ProductOf(other)) +
                                                       ") is not a staircase controller.");
    }
    if (found == nullptr) {
      throw ECliFailure(TExitStatus::NoController,
                        "There is no HID device " + Escaped(name) +
                            " (a path, port or serial number as \"list\" shows them).");
    }
    if (std::find(targets.begin(), targets.end(), found) == targets.end()) targets.push_back(found);
  }
  if (!names.empty()) return targets;
  if (controllers.empty()) {
    throw ECliFailure(TExitStatus::NoController,
                      "No staircase controller is connected (none of the HID devices present is "
                      "a \"" +
                          std::string(kControllerProductMatch) + "\").");
  }
  if (!all) controllers.erase(controllers.begin() + 1, controllers.end());
  return controllers;
}

THidDevice* TControllerSession::Hold(THidDevice* device) {
  if (std::find(Held_.begin(), Held_.end(), device) != Held_.end()) return device;
  const std::string product = Escaped(ProductOf(device));
  const std::string path = device->PnPInfo().DevicePath;
  if (!device->ReadWriteAccess()) {
    throw ECliFailure(
        TExitStatus::CannotOpen,
        ControllerOpenMessage(product, path, device->AccessReason(), device->ReadWriteError())
            .English());
  }
  THidDevice* held = nullptr;
  if (!HidController_->CheckOutAt(held, IndexIn(*HidController_, device)) || held == nullptr) {
    throw ECliFailure(TExitStatus::CannotOpen, "The controller " + product + " at " + path +
                                                   " is held by this program already.");
  }
  Held_.push_back(held);
  // The open asks the system again: access may have gone since the device was listed.
  if (!held->OpenGeneral() || !held->ReadWriteAccess()) {
    throw ECliFailure(
        TExitStatus::CannotOpen,
        ControllerOpenMessage(product, path, held->AccessReason(), held->ReadWriteError())
            .English());
  }
  return held;
}

void TControllerSession::Send(THidDevice* device, const SettingsReport& report) {
  Waiting_ = device;
  Reply_.clear();
  Replied_ = false;
  ShortReply_.reset();
  Gone_ = !device->PluggedIn();
  ReadError_.reset();
  if (Gone_) {
    throw ECliFailure(TExitStatus::Io, "The controller " + Describe(device) + " was unplugged.");
  }
  if (const auto failure = SendReport(*device, report)) {
    throw ECliFailure(TExitStatus::Io, failure->English() + " (" + Describe(device) + ")");
  }
}

TControllerReading TControllerSession::Read(THidDevice* device) {
  device = Hold(device);
  TSettingsCodec codec;
  codec.BuildReadRequest();
  const auto deadline = std::chrono::steady_clock::now() + Timeout_;
  Send(device, codec.Report());
  const auto left =
      std::max(std::chrono::milliseconds(0), std::chrono::duration_cast<std::chrono::milliseconds>(
                                                 deadline - std::chrono::steady_clock::now()));
  const bool ended = Loop_.RunUntil(
      [this] { return Replied_ || ShortReply_ || Gone_ || ReadError_.has_value(); }, left);
  Waiting_ = nullptr;
  if (Gone_) {
    throw ECliFailure(TExitStatus::Io,
                      "The controller " + Describe(device) + " was unplugged before it answered.");
  }
  if (ReadError_) {
    throw ECliFailure(TExitStatus::Io, "Reading from the controller " + Describe(device) +
                                           " failed: " + ErrorCodeText(*ReadError_));
  }
  if (ShortReply_) {
    throw ECliFailure(
        TExitStatus::Io,
        TMessage(kShortReplyMessage, {TMessage::Plain(std::to_string(*ShortReply_))}).English() +
            " (" + Describe(device) + ")");
  }
  if (!ended) {
    throw ECliFailure(TExitStatus::Io, "The controller " + Describe(device) +
                                           " did not answer within " +
                                           std::to_string(Timeout_.count()) + " ms.");
  }
  TSettingsValues values;
  codec.ApplyReply(Reply_.data(), Reply_.size(), values);
  TControllerReading reading;
  reading.Names = NamesOf(device);
  reading.Product = ProductOf(device);
  reading.Firmware = FirmwareVersion(ProductToNarrow(device->QueryProductName()));
  reading.Settings = values.Values();
  reading.Settings.MainColorValue = codec.MainColorValue();
  reading.Settings.IdleColorValue = codec.IdleColorValue();
  return reading;
}

void TControllerSession::Write(THidDevice* device, const StairSettings& settings) {
  device = Hold(device);
  Send(device, WriteReport(settings));
  Waiting_ = nullptr;
}

SettingsReport TControllerSession::WriteReport(const StairSettings& settings) {
  TSettingsCodec codec;
  codec.SetMainColorValue(settings.MainColorValue);
  codec.SetIdleColorValue(settings.IdleColorValue);
  codec.BuildWriteReport(TSettingsValues(settings));
  return codec.Report();
}

void TControllerSession::DeviceData(THidDevice* HidDev,
                                    std::uint8_t /*ReportID*/,
                                    const std::uint8_t* Data,
                                    std::uint16_t Size) {
  // The controller link's acceptance rule: any input report of the controller long enough to hold
  // the settings is taken for a reply; one shorter is the answer all the same, and an unusable one.
  if (HidDev != Waiting_ || Replied_ || ShortReply_) return;
  if (Size < kMinReplyPayload) {
    ShortReply_ = Size;
    return;
  }
  Reply_.assign(Data, Data + Size);
  Replied_ = true;
}

void TControllerSession::DataError(THidDevice* HidDev, std::uint32_t Error) {
  if (HidDev == Waiting_ && HidDev->PluggedIn()) ReadError_ = Error;
}

void TControllerSession::Removal(THidDevice* HidDev) {
  if (HidDev == Waiting_) Gone_ = true;
}

}  // namespace glowstep
