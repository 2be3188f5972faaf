#include "hid/platform/windows/pipe_fixture.h"

#include <algorithm>
#include <string_view>

namespace glowstep {

namespace {

// The platform's read with each return of its waits counted.
class TCountingRead final : public TPlatformRead {
 public:
  TCountingRead(std::unique_ptr<TPlatformRead> read,
                std::atomic<std::int64_t>& waitsBegun,
                std::atomic<std::int64_t>& waitsReturned)
      : Read_(std::move(read)), WaitsBegun_(waitsBegun), WaitsReturned_(waitsReturned) {}

  bool Begin(THidHandle handle, std::uint8_t* buffer, std::uint32_t length) override {
    return Read_->Begin(handle, buffer, length);
  }
  std::uint32_t Wait(std::int32_t milliseconds) override {
    ++WaitsBegun_;
    const std::uint32_t result = Read_->Wait(milliseconds);
    ++WaitsReturned_;
    return result;
  }
  bool Result(THidHandle handle, std::uint32_t& count) override {
    return Read_->Result(handle, count);
  }
  bool Cancel(THidHandle handle) override { return Read_->Cancel(handle); }
  void Wake() override { Read_->Wake(); }

 private:
  std::unique_ptr<TPlatformRead> Read_;
  std::atomic<std::int64_t>& WaitsBegun_;
  std::atomic<std::int64_t>& WaitsReturned_;
};

}  // namespace

// --- The pipe -----------------------------------------------------------------------------------

TStandInPipe::TStandInPipe() {
  static std::atomic<int> next{0};
  Path_ = "\\\\.\\pipe\\glowstep-hid-stand-in-" + std::to_string(GetCurrentProcessId()) + "-" +
          std::to_string(next++);
}

TStandInPipe::~TStandInPipe() { CloseAll(); }

HANDLE TStandInPipe::AddInstance() {
  const HANDLE instance = CreateNamedPipeA(
      Path_.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
      PIPE_UNLIMITED_INSTANCES, kBufferSize, kBufferSize, 0, nullptr);
  if (instance != INVALID_HANDLE_VALUE) Instances_.push_back(instance);
  return instance;
}

bool TStandInPipe::Send(HANDLE instance, const std::vector<std::uint8_t>& bytes) {
  DWORD written = 0;
  return WriteFile(instance, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

std::vector<std::uint8_t> TStandInPipe::Receive(HANDLE instance) {
  DWORD available = 0;
  if (!PeekNamedPipe(instance, nullptr, 0, nullptr, &available, nullptr) || available == 0)
    return {};
  std::vector<std::uint8_t> bytes(available);
  DWORD read = 0;
  if (!ReadFile(instance, bytes.data(), available, &read, nullptr)) return {};
  bytes.resize(read);
  return bytes;
}

bool TStandInPipe::ClientGone(HANDLE instance) {
  DWORD available = 0;
  return !PeekNamedPipe(instance, nullptr, 0, nullptr, &available, nullptr);
}

void TStandInPipe::CloseAll() {
  for (HANDLE instance : Instances_) CloseHandle(instance);
  Instances_.clear();
}

// --- The platform -------------------------------------------------------------------------------

HANDLE TPipePlatform::ServerOf(TFileAccess access) {
  std::lock_guard lock(Lock_);
  for (auto it = Opens_.rbegin(); it != Opens_.rend(); ++it)
    if (it->first == access) return it->second;
  return INVALID_HANDLE_VALUE;
}

bool TPipePlatform::EnumDeviceInterfaces(TDeviceInfoSet,
                                         const TGuid&,
                                         std::uint32_t index,
                                         TDeviceInterfaceRecord&) {
  SetLastError(ERROR_NO_MORE_ITEMS);
  return Present && index == 0;
}

bool TPipePlatform::GetDeviceInterfaceDetail(TDeviceInfoSet,
                                             const TDeviceInterfaceRecord&,
                                             char* pathBuffer,
                                             std::uint32_t bufferSize,
                                             std::uint32_t& required,
                                             TDeviceInfoRecord& info) {
  required = static_cast<std::uint32_t>(Pipe_.Path().size() + 1);
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  if (pathBuffer == nullptr || bufferSize < required) return false;
  std::copy_n(Pipe_.Path().c_str(), required, pathBuffer);
  info.DevInst = kDeviceInstance;
  return true;
}

THidHandle TPipePlatform::OpenFile(const std::string& path, TFileAccess access, bool overlapped) {
  std::lock_guard lock(Lock_);
  const HANDLE server = Listening ? Pipe_.AddInstance() : INVALID_HANDLE_VALUE;
  const THidHandle handle = TWindowsPlatform::OpenFile(path, access, overlapped);
  if (handle == kInvalidHandle) return handle;
  if (access == TFileAccess::Read || access == TFileAccess::ReadWrite) {
    DWORD mode = PIPE_READMODE_MESSAGE;
    SetNamedPipeHandleState(reinterpret_cast<HANDLE>(handle), &mode, nullptr, nullptr);
  }
  Opens_.emplace_back(access, server);
  return handle;
}

std::unique_ptr<TPlatformRead> TPipePlatform::CreateRead() {
  return std::make_unique<TCountingRead>(TWindowsPlatform::CreateRead(), WaitsBegun_,
                                         WaitsReturned_);
}

bool TPipePlatform::GetAttributes(THidHandle, THidAttributes& attributes) {
  attributes.VendorID = 0x16C0;
  attributes.ProductID = 0x05DF;
  return true;
}

bool TPipePlatform::GetProductString(THidHandle, char16_t* buffer, std::uint32_t bufferBytes) {
  constexpr std::u16string_view kProduct = u"Glowstep 3.2";
  if (bufferBytes < (kProduct.size() + 1) * sizeof(char16_t)) return false;
  std::copy_n(kProduct.data(), kProduct.size(), buffer);
  buffer[kProduct.size()] = u'\0';
  return true;
}

bool TPipePlatform::GetPreparsedData(THidHandle, TPreparsedData& preparsed) {
  preparsed = 1;
  return true;
}

std::int32_t TPipePlatform::GetCaps(TPreparsedData, THidCaps& caps) {
  caps.InputReportByteLength = kReportLength;
  caps.OutputReportByteLength = kReportLength;
  return kHidpStatusSuccess;
}

}  // namespace glowstep
