#include "hid/hid_device.h"

#include <algorithm>
#include <utility>

#include "hid/hid_device_controller.h"
#include "hid/hid_device_read_thread.h"
#include "hid/main_thread_port.h"

namespace glowstep {

namespace {

// The product string as the system's buffer holds it: up to its first zero, and no longer than
// the buffer with its terminating zero, never cut between the halves of a surrogate pair.
std::u16string CutProductString(std::u16string text) {
  text.resize(std::min(text.find(u'\0'), text.size()));
  if (text.size() >= THidDevice::kProductStringChars) {
    text.resize(THidDevice::kProductStringChars - 1);
    if (text.back() >= 0xD800 && text.back() < 0xDC00) text.pop_back();
  }
  return text;
}

}  // namespace

THidDevice::TCreated THidDevice::Create(std::unique_ptr<THidPnPInfo>& pnpInfo,
                                        THidDeviceController* controller) {
  std::unique_ptr<THidDevice> device(new THidDevice(*pnpInfo, controller));
  if (auto failure = device->Identify()) return std::move(*failure);
  device->PnPInfo_ = std::move(pnpInfo);
  device->PnPInfoInUse_ = device->PnPInfo_.get();
  return device;
}

THidDevice::THidDevice(const THidPnPInfo& pnpInfo, THidDeviceController* controller)
    : Controller_(controller), Backend_(controller->Backend()), PnPInfoInUse_(&pnpInfo) {
  SetSleepTime(controller->DevThreadSleepTime());
  AssignDataHandler(controller->OnDeviceData());
  DataErrorHandler_ = controller->OnDeviceDataError();
  UnplugHandler_ = controller->OnDeviceUnplug();
}

std::optional<TMessage> THidDevice::Identify() {
  OpenGeneralConnection();
  if (General_ == nullptr) return TMessage(kDeviceCannotBeOpened);
  HidAttributes_ = THidAttributes{};
  const THidError error = General_->Attributes(HidAttributes_);
  CloseGeneral();
  if (error) return TMessage(kDeviceCannotBeIdentified);
  return std::nullopt;
}

THidDevice::~THidDevice() { Teardown(); }

void THidDevice::Teardown() {
  AssignDataHandler(nullptr);
  UnplugHandler_ = nullptr;
  CloseConnections();
}

void THidDevice::CloseConnections() {
  CloseGeneral();
  CloseChannel(TChannel::Read);
  CloseChannel(TChannel::Write);
}

void THidDevice::Destroy() {
  // Remember what the replacement inherits, then take this object down except for its place in
  // the list and its PnP info.
  THidDataEvent dataHandler = DataHandler_;
  THidPlugEvent unplugHandler = UnplugHandler_;
  Teardown();
  // Without a controller the object is already out of the list, in its owner's hands.
  if (Controller_ != nullptr)
    Controller_->GiveBack(this, std::move(dataHandler), std::move(unplugHandler));
}

std::shared_ptr<THidConnection> THidDevice::OpenPath(TFileAccess access, THidError& error) {
  error = {};
  auto connection = Backend_.Open(PnPInfoInUse_->DevicePath, access, error);
  if (connection == nullptr && !error) error = {kErrorGenFailure, 0};
  return connection;
}

void THidDevice::OpenGeneralConnection() {
  THidError error;
  General_ = OpenPath(TFileAccess::ReadWrite, error);
  ReadWriteAccess_ = General_ != nullptr;
  ReadWriteError_ = error.Code;
  AccessReason_ = THidAccessReason::Unknown;
  if (ReadWriteAccess_) return;
  General_ = OpenPath(TFileAccess::None, error);
  // A reason is asked for only when the system refused access: a device that has gone, or an
  // open that failed otherwise, says nothing of what this user may do.
  if (General_ != nullptr && ReadWriteError_ == kErrorAccessDenied)
    AccessReason_ = General_->AccessReason();
}

void THidDevice::ApplyInputBuffers(THidConnection& connection, std::uint32_t& count) {
  if (count != 0) connection.SetInputBuffers(count);
  count = connection.InputBuffers();
}

std::u16string THidDevice::QueryProductName() {
  // A name that could not be read is asked for once more: a controller whose name failed once
  // would otherwise pass for another device until something else is plugged in.
  for (int attempt = 0; attempt < 2 && ProductText_.empty(); ++attempt) {
    if (!OpenGeneral()) continue;
    std::u16string text;
    const bool read = !General_->ProductString(text);
    if (read) ProductText_ = CutProductString(std::move(text));
    CloseGeneral();
    if (read) break;
  }
  return ProductText_;
}

THidError THidDevice::WriteReport(const std::uint8_t* buffer,
                                  std::uint32_t length,
                                  std::uint32_t& bytesWritten) {
  bytesWritten = 0;
  if (!OpenGeneral()) {
    if (!PluggedIn_) return {kErrorDeviceNotConnected, 0};
    return {ReadWriteError_ != 0 ? ReadWriteError_ : kErrorInvalidHandle, 0};
  }
  if (buffer == nullptr && length != 0) return {kErrorInvalidParameter, 0};
  return General_->Write(std::span<const std::uint8_t>(buffer, length), bytesWritten,
                         Backend_.WriteTimeLimit());
}

void THidDevice::AssignDataHandler(THidDataEvent handler) {
  if (!handler) StopReader();
  DataHandler_ = std::move(handler);
  StartReader();
}

void THidDevice::SetSleepTime(std::int32_t value) {
  if (value >= kMinSleepTime && value <= kMaxSleepTime) SleepTime_ = value;
}

bool THidDevice::ReaderWaiting() const { return Reader_ == nullptr || Reader_->Waiting(); }

bool THidDevice::CanOpen() const { return PluggedIn_ && (CheckedOut_ || InControllerEvent_); }

bool THidDevice::OpenGeneral() {
  if (CanOpen() && General_ == nullptr) {
    OpenGeneralConnection();
    if (General_ != nullptr) ApplyInputBuffers(*General_, GeneralInputBuffers_);
  }
  return General_ != nullptr;
}

void THidDevice::CloseGeneral() {
  General_.reset();
  GeneralInputBuffers_ = 0;
}

bool THidDevice::OpenChannel(TChannel channel) {
  THidError error;
  if (channel == TChannel::Read) return Reader_ == nullptr && OpenReadSide(error) != nullptr;
  if (!CanOpen()) return false;
  if (WriteChannel_ == nullptr) WriteChannel_ = OpenPath(TFileAccess::Write, error);
  return WriteChannel_ != nullptr;
}

void THidDevice::CloseChannel(TChannel channel) {
  if (channel == TChannel::Write) {
    WriteChannel_.reset();
  } else if (Reader_ != nullptr) {
    Reader_->RequestReadClose();
  } else {
    CloseReadSide();
  }
}

std::shared_ptr<THidConnection> THidDevice::OpenReadSide(THidError& error) {
  error = {};
  if (!CanOpen()) {
    error = {PluggedIn_ ? kErrorInvalidHandle : kErrorDeviceNotConnected, 0};
    return nullptr;
  }
  if (ReadChannel_ == nullptr) {
    auto connection = OpenPath(TFileAccess::Read, error);
    // The reader opens while the main thread may be marking the device unplugged, and by then
    // the system may have handed the path on to another device: such a connection is not kept.
    if (connection != nullptr && !CanOpen()) {
      error = {kErrorDeviceNotConnected, 0};
      return nullptr;
    }
    ReadChannel_ = std::move(connection);
    if (ReadChannel_ != nullptr) ApplyInputBuffers(*ReadChannel_, ReadInputBuffers_);
  }
  ReadSideOpen_ = ReadChannel_ != nullptr;
  return ReadChannel_;
}

void THidDevice::CloseReadSide() {
  ReadSideOpen_ = false;
  ReadChannel_.reset();
  ReadInputBuffers_ = 0;
}

void THidDevice::QueryCaps(THidCaps& caps) {
  caps = THidCaps{};
  if (!Caps_ && OpenGeneral()) {
    THidCaps asked;
    if (!General_->Caps(asked)) Caps_ = asked;
    CloseGeneral();
  }
  if (Caps_) caps = *Caps_;
}

void THidDevice::StartReader() {
  if (Reader_ == nullptr && DataHandler_ && PluggedIn_ && CheckedOut_ && ReadWriteAccess_ &&
      Controller_ != nullptr) {
    Reader_ = std::make_unique<THidDeviceReadThread>(*this);
  }
}

void THidDevice::StopReader() {
  if (Reader_ == nullptr) return;
  std::unique_ptr<THidDeviceReadThread> reader = std::move(Reader_);
  reader->Terminate();
  if (reader->InDelivery()) {
    // Asked from inside this reader's own delivery (the handler gave the device back, or
    // destroyed the controller): the thread waits for this very call to return, so it cannot
    // be waited for here. It ends by itself once the call returns, without touching this
    // device again, and the main loop joins it then.
    THidDeviceReadThread::Orphan(std::move(reader));
    return;
  }
  reader->WaitFor();
}

void THidDevice::MarkUnplugged() {
  // Unplugged before anything is closed: the reader, asked below to close its connection, must find
  // that it may not open the path again, which the system may have handed on to another device.
  PluggedIn_ = false;
  CloseConnections();
  // The handler is called once, and may give this very object back: nothing of it is touched
  // after the call.
  const THidPlugEvent handler = std::move(UnplugHandler_);
  UnplugHandler_ = nullptr;
  if (handler) handler(this);
}

}  // namespace glowstep
