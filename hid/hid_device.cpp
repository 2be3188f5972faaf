#include "hid/hid_device.h"

#include <algorithm>
#include <utility>

#include "hid/hid_device_controller.h"
#include "hid/hid_device_read_thread.h"
#include "hid/main_thread_port.h"

namespace glowstep {

THidDevice::TCreated THidDevice::Create(std::unique_ptr<THidPnPInfo>& pnpInfo,
                                        THidDeviceController* controller) {
  std::unique_ptr<THidDevice> device(new THidDevice(*pnpInfo, controller));
  if (auto failure = device->Identify()) return std::move(*failure);
  device->PnPInfo_ = std::move(pnpInfo);
  device->PnPInfoInUse_ = device->PnPInfo_.get();
  return device;
}

THidDevice::THidDevice(const THidPnPInfo& pnpInfo, THidDeviceController* controller)
    : Controller_(controller), Platform_(controller->Platform()), PnPInfoInUse_(&pnpInfo) {
  SetSleepTime(controller->DevThreadSleepTime());
  AssignDataHandler(controller->OnDeviceData());
  DataErrorHandler_ = controller->OnDeviceDataError();
  UnplugHandler_ = controller->OnDeviceUnplug();
}

std::optional<TMessage> THidDevice::Identify() {
  OpenGeneralHandle();
  if (GeneralHandle_ == kInvalidHandle) return TMessage(kDeviceCannotBeOpened);
  HidAttributes_ = THidAttributes{};
  const bool identified = Platform_.GetAttributes(GeneralHandle_, HidAttributes_);
  CloseGeneral();
  if (!identified) return TMessage(kDeviceCannotBeIdentified);
  return std::nullopt;
}

THidDevice::~THidDevice() { Teardown(); }

void THidDevice::Teardown() {
  AssignDataHandler(nullptr);
  UnplugHandler_ = nullptr;
  CloseHandles();
  if (Preparsed_ != 0) {
    Platform_.FreePreparsedData(Preparsed_);
    Preparsed_ = 0;
  }
  LanguageStrings_.clear();
}

void THidDevice::CloseHandles() {
  CloseGeneral();
  CloseOverlapped(TOverlappedDirection::Read);
  CloseOverlapped(TOverlappedDirection::Write);
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

THidHandle THidDevice::OpenPath(TFileAccess access, bool overlapped) {
  return Platform_.OpenFile(PnPInfoInUse_->DevicePath, access, overlapped);
}

void THidDevice::OpenGeneralHandle() {
  GeneralHandle_ = OpenPath(TFileAccess::ReadWrite, false);
  ReadWriteAccess_ = GeneralHandle_ != kInvalidHandle;
  ReadWriteError_ = ReadWriteAccess_ ? 0 : Platform_.LastError();
  AccessReason_ = THidAccessReason::Unknown;
  if (ReadWriteAccess_) return;
  GeneralHandle_ = OpenPath(TFileAccess::None, false);
  // A reason is asked for only when the system refused access: a device that has gone, or an
  // open that failed otherwise, says nothing of what this user may do.
  if (GeneralHandle_ != kInvalidHandle && ReadWriteError_ == kErrorAccessDenied)
    AccessReason_ = Platform_.QueryAccessReason(GeneralHandle_);
}

void THidDevice::ApplyInputBuffers(THidHandle handle, std::uint32_t& count) {
  if (count != 0) Platform_.SetNumInputBuffers(handle, count);
  std::uint32_t reported = 0;
  if (Platform_.GetNumInputBuffers(handle, reported)) count = reported;
}

std::u16string THidDevice::QueryProductName() {
  // A name that could not be read is asked for once more: a controller whose name failed once
  // would otherwise pass for another device until something else is plugged in.
  for (int attempt = 0; attempt < 2 && ProductText_.empty(); ++attempt) {
    if (!OpenGeneral()) continue;
    std::u16string buffer(kProductStringChars, u'\0');
    const bool read = Platform_.GetProductString(
        GeneralHandle_, buffer.data(), static_cast<std::uint32_t>(kProductStringChars * 2));
    if (read) ProductText_ = buffer.substr(0, std::min(buffer.find(u'\0'), kProductStringChars));
    CloseGeneral();
    if (read) break;
  }
  return ProductText_;
}

bool THidDevice::WriteReport(const std::uint8_t* buffer,
                             std::uint32_t length,
                             std::uint32_t& bytesWritten) {
  bytesWritten = 0;
  if (!OpenGeneral()) return false;
  if (buffer == nullptr && length != 0) return false;
  return Platform_.WriteFile(GeneralHandle_, buffer, length, bytesWritten);
}

void THidDevice::AssignDataHandler(THidDataEvent handler) {
  if (!handler) StopReader();
  DataHandler_ = std::move(handler);
  StartReader();
}

void THidDevice::SetSleepTime(std::int32_t value) {
  if (value >= kMinSleepTime && value <= kMaxSleepTime) SleepTime_ = value;
}

bool THidDevice::CanOpen() const { return PluggedIn_ && (CheckedOut_ || InControllerEvent_); }

bool THidDevice::OpenGeneral() {
  if (CanOpen() && GeneralHandle_ == kInvalidHandle) {
    OpenGeneralHandle();
    if (GeneralHandle_ != kInvalidHandle) ApplyInputBuffers(GeneralHandle_, GeneralInputBuffers_);
  }
  return GeneralHandle_ != kInvalidHandle;
}

void THidDevice::CloseGeneral() {
  if (GeneralHandle_ != kInvalidHandle) Platform_.CloseFile(GeneralHandle_);
  GeneralHandle_ = kInvalidHandle;
  GeneralInputBuffers_ = 0;
}

bool THidDevice::OpenOverlapped(TOverlappedDirection direction) {
  if (direction == TOverlappedDirection::Read) return Reader_ == nullptr && OpenReadSide();
  if (!CanOpen()) return false;
  if (WriteHandle_ == kInvalidHandle) WriteHandle_ = OpenPath(TFileAccess::Write, true);
  return WriteHandle_ != kInvalidHandle;
}

void THidDevice::CloseOverlapped(TOverlappedDirection direction) {
  if (direction == TOverlappedDirection::Write) {
    if (WriteHandle_ != kInvalidHandle) Platform_.CloseFile(WriteHandle_);
    WriteHandle_ = kInvalidHandle;
  } else if (Reader_ != nullptr) {
    Reader_->RequestReadClose();
  } else {
    CloseReadSide();
  }
}

bool THidDevice::OpenReadSide() {
  if (!CanOpen()) return false;
  if (ReadHandle_ == kInvalidHandle) {
    const THidHandle handle = OpenPath(TFileAccess::Read, true);
    // The reader opens while the main thread may be marking the device unplugged, and by then
    // the system may have handed the path on to another device: such a handle is not kept.
    if (handle != kInvalidHandle && !CanOpen()) {
      Platform_.CloseFile(handle);
      return false;
    }
    ReadHandle_ = handle;
    if (ReadHandle_ != kInvalidHandle) ApplyInputBuffers(ReadHandle_, OverlappedInputBuffers_);
  }
  ReadSideOpen_ = ReadHandle_ != kInvalidHandle;
  return ReadSideOpen_;
}

void THidDevice::CloseReadSide() {
  ReadSideOpen_ = false;
  if (ReadHandle_ != kInvalidHandle) Platform_.CloseFile(ReadHandle_);
  ReadHandle_ = kInvalidHandle;
  OverlappedInputBuffers_ = 0;
}

TPreparsedData THidDevice::AcquirePreparsed() {
  if (Preparsed_ == 0 && OpenGeneral()) {
    if (!Platform_.GetPreparsedData(GeneralHandle_, Preparsed_)) Preparsed_ = 0;
    CloseGeneral();
  }
  return Preparsed_;
}

void THidDevice::QueryCaps(THidCaps& caps) {
  caps = THidCaps{};
  const TPreparsedData preparsed = AcquirePreparsed();
  if (preparsed != 0 && Platform_.GetCaps(preparsed, caps) != kHidpStatusSuccess) caps = THidCaps{};
}

bool THidDevice::BeginReadReport(std::uint8_t* buffer, std::uint32_t length, TPlatformRead& read) {
  if (!OpenReadSide()) return false;
  // A device without input reports gets no read: an empty read would complete at once, again
  // and again.
  if (length == 0) return false;
  return read.Begin(ReadHandle_, buffer, length);
}

bool THidDevice::ReadResult(TPlatformRead& read, std::uint32_t& count) {
  count = 0;
  return ReadHandle_ != kInvalidHandle && read.Result(ReadHandle_, count);
}

bool THidDevice::CancelRead(TPlatformRead& read) {
  if (ReadHandle_ == kInvalidHandle) return false;
  return read.Cancel(ReadHandle_);
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
  // Unplugged before anything is closed: the reader, asked below to close its handle, must find
  // that it may not open the path again, which the system may have handed on to another device.
  PluggedIn_ = false;
  CloseHandles();
  // The handler is called once, and may give this very object back: nothing of it is touched
  // after the call.
  const THidPlugEvent handler = std::move(UnplugHandler_);
  UnplugHandler_ = nullptr;
  if (handler) handler(this);
}

}  // namespace glowstep
