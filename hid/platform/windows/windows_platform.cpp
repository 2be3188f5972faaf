#include "hid/platform/windows/windows_platform.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "base/numbers.h"
#include "hid/native_platform.h"
#include "hid/platform/windows/windows_backend.h"
#include "hid/platform/windows/windows_internal.h"

// The structures of the setup service, the configuration manager and the HID class library;
// their functions are never linked, only called through the binding tables or looked up.
#include <cfgmgr32.h>
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
// hidsdi.h first: it declares the types hidpi.h uses.
#include <hidpi.h>
}

namespace glowstep {

namespace {

// The entry types, as the libraries export them.
using TGetClassDevs = HDEVINFO(WINAPI*)(const GUID*, PCSTR, HWND, DWORD);
using TEnumDeviceInterfaces =
    BOOL(WINAPI*)(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD, PSP_DEVICE_INTERFACE_DATA);
using TGetDeviceInterfaceDetail = BOOL(WINAPI*)(HDEVINFO,
                                                PSP_DEVICE_INTERFACE_DATA,
                                                PSP_DEVICE_INTERFACE_DETAIL_DATA_A,
                                                DWORD,
                                                PDWORD,
                                                PSP_DEVINFO_DATA);
using TGetDeviceRegistryProperty =
    BOOL(WINAPI*)(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD, PDWORD);
using TDestroyDeviceInfoList = BOOL(WINAPI*)(HDEVINFO);
using TGetHidGuid = void(WINAPI*)(LPGUID);
using TGetAttributes = BOOLEAN(WINAPI*)(HANDLE, PHIDD_ATTRIBUTES);
using TGetProductString = BOOLEAN(WINAPI*)(HANDLE, PVOID, ULONG);
using TGetPreparsedData = BOOLEAN(WINAPI*)(HANDLE, PHIDP_PREPARSED_DATA*);
using TFreePreparsedData = BOOLEAN(WINAPI*)(PHIDP_PREPARSED_DATA);
using TGetCaps = NTSTATUS(WINAPI*)(PHIDP_PREPARSED_DATA, PHIDP_CAPS);
using TSetNumInputBuffers = BOOLEAN(WINAPI*)(HANDLE, ULONG);
using TGetNumInputBuffers = BOOLEAN(WINAPI*)(HANDLE, PULONG);
using TSetThreadDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
using TGetSerialNumberString = BOOLEAN(WINAPI*)(HANDLE, PVOID, ULONG);
using TGetParent = CONFIGRET(WINAPI*)(PDEVINST, DEVINST, ULONG);
using TGetDevNodeRegistryProperty =
    CONFIGRET(WINAPI*)(DEVINST, ULONG, PULONG, PVOID, PULONG, ULONG);

// A USB string has at most 126 characters; the rest is room for the terminating zero.
constexpr std::size_t kSerialChars = 128;
// The device node, its interface and its USB device: the location path is on one of them.
constexpr int kLocationLevels = 3;

// The table entry bound to `name`, as a callable of type TFunction, or nullptr with
// ERROR_PROC_NOT_FOUND as the last error.
template <typename TFunction>
TFunction Entry(TEntryAddress address) {
  if (address == nullptr) SetLastError(ERROR_PROC_NOT_FOUND);
  return reinterpret_cast<TFunction>(address);
}

GUID ToGuid(const TGuid& guid) {
  GUID native{};
  native.Data1 = guid.Data1;
  native.Data2 = guid.Data2;
  native.Data3 = guid.Data3;
  std::copy(guid.Data4.begin(), guid.Data4.end(), native.Data4);
  return native;
}

TGuid FromGuid(const GUID& native) {
  TGuid guid;
  guid.Data1 = native.Data1;
  guid.Data2 = native.Data2;
  guid.Data3 = native.Data3;
  std::copy(std::begin(native.Data4), std::end(native.Data4), guid.Data4.begin());
  return guid;
}

// The records are passed with the size of this build's structures, whatever the caller set:
// the setup service rejects any other size.
SP_DEVICE_INTERFACE_DATA ToInterfaceData(const TDeviceInterfaceRecord& record) {
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  data.InterfaceClassGuid = ToGuid(record.InterfaceClassGuid);
  data.Flags = record.Flags;
  data.Reserved = record.Reserved;
  return data;
}

void FromInterfaceData(const SP_DEVICE_INTERFACE_DATA& data, TDeviceInterfaceRecord& record) {
  record.InterfaceClassGuid = FromGuid(data.InterfaceClassGuid);
  record.Flags = data.Flags;
  record.Reserved = data.Reserved;
}

SP_DEVINFO_DATA ToDevInfoData(const TDeviceInfoRecord& info) {
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  data.ClassGuid = ToGuid(info.ClassGuid);
  data.DevInst = info.DevInst;
  data.Reserved = info.Reserved;
  return data;
}

void FromDevInfoData(const SP_DEVINFO_DATA& data, TDeviceInfoRecord& info) {
  info.ClassGuid = FromGuid(data.ClassGuid);
  info.DevInst = data.DevInst;
  info.Reserved = data.Reserved;
}

HDEVINFO ToDevInfo(TDeviceInfoSet set) { return reinterpret_cast<HDEVINFO>(set); }

PHIDP_PREPARSED_DATA ToPreparsed(TPreparsedData preparsed) {
  return reinterpret_cast<PHIDP_PREPARSED_DATA>(preparsed);
}

std::string SystemDirectory() {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const UINT length = GetSystemDirectoryA(buffer.data(), static_cast<UINT>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(length + 1);
  }
}

DWORD DesiredAccess(TFileAccess access) {
  switch (access) {
    case TFileAccess::Read:
      return GENERIC_READ;
    case TFileAccess::Write:
      return GENERIC_WRITE;
    case TFileAccess::ReadWrite:
      return GENERIC_READ | GENERIC_WRITE;
    case TFileAccess::None:
      break;
  }
  return 0;
}

}  // namespace

namespace windows {

TEntryAddress Kernel32Entry(const char* name) {
  const HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  if (kernel32 == nullptr) return nullptr;
  return reinterpret_cast<TEntryAddress>(GetProcAddress(kernel32, name));
}

HMODULE LoadLibraryAt(const std::string& path, TLoadLibraryEx loadLibraryEx) {
  // The libraries it depends on come from the system folder too. Systems without that search
  // flag refuse it as an invalid parameter; there they are looked for in the library's own
  // folder first, never in the program's folder, where anyone may have put a copy.
  HMODULE library = loadLibraryEx(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (library == nullptr && GetLastError() == ERROR_INVALID_PARAMETER)
    library = loadLibraryEx(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  return library;
}

}  // namespace windows

TWindowsPlatform::~TWindowsPlatform() {
  Bindings().ReleaseAll();
  FreeLibraryHandle(ConfigManager_);
}

// --- Run-time library loader --------------------------------------------------------------------

TLibraryHandle TWindowsPlatform::LoadLibraryByName(std::string_view name) {
  // A bare file name only: the library must come from the system folder, so a copy planted next
  // to the program or in the current folder is never loaded in its place.
  if (name.empty() || name.find_first_of("\\/:") != std::string_view::npos) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::string folder = SystemDirectory();
  if (folder.empty()) return 0;
  const std::string path = folder + "\\" + std::string(name);

  // No error box for a missing file; the mode is changed for this thread only, so other threads
  // loading at the same time keep theirs.
  DWORD previousMode = 0;
  const bool modeSet =
      SetThreadErrorMode(GetThreadErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX,
                         &previousMode) != FALSE;
  HMODULE library = windows::LoadLibraryAt(path);
  const DWORD error = GetLastError();
  if (modeSet) SetThreadErrorMode(previousMode, nullptr);
  SetLastError(error);
  return reinterpret_cast<TLibraryHandle>(library);
}

void TWindowsPlatform::FreeLibraryHandle(TLibraryHandle library) {
  if (library != 0) FreeLibrary(reinterpret_cast<HMODULE>(library));
}

TEntryAddress TWindowsPlatform::ResolveExport(TLibraryHandle library, std::string_view name) {
  if (library == 0) return nullptr;
  const std::string exportName(name);
  // Any function pointer converts to the generic entry type; it is converted back to its own
  // type before each call.
  return reinterpret_cast<TEntryAddress>(
      GetProcAddress(reinterpret_cast<HMODULE>(library), exportName.c_str()));
}

bool TWindowsPlatform::IsNtVersionAtLeast(int major, int minor) {
  OSVERSIONINFOEXW wanted{};
  wanted.dwOSVersionInfoSize = sizeof wanted;
  wanted.dwMajorVersion = static_cast<DWORD>(major);
  wanted.dwMinorVersion = static_cast<DWORD>(minor);
  wanted.dwPlatformId = VER_PLATFORM_WIN32_NT;
  ULONGLONG condition = 0;
  condition = VerSetConditionMask(condition, VER_MAJORVERSION, VER_GREATER_EQUAL);
  condition = VerSetConditionMask(condition, VER_MINORVERSION, VER_GREATER_EQUAL);
  condition = VerSetConditionMask(condition, VER_PLATFORMID, VER_EQUAL);
  return VerifyVersionInfoW(&wanted, VER_MAJORVERSION | VER_MINORVERSION | VER_PLATFORMID,
                            condition) != FALSE;
}

// --- Setup service ------------------------------------------------------------------------------

TGuid TWindowsPlatform::GetHidGuid() {
  const auto getHidGuid = Entry<TGetHidGuid>(Bindings().HidEntry("HidD_GetHidGuid"));
  if (getHidGuid == nullptr) return kHidInterfaceClassGuid;
  GUID guid{};
  getHidGuid(&guid);
  return FromGuid(guid);
}

TDeviceInfoSet TWindowsPlatform::GetClassDevs(const TGuid& interfaceClass) {
  const auto getClassDevs = Entry<TGetClassDevs>(Bindings().SetupEntry("SetupDiGetClassDevsA"));
  if (getClassDevs == nullptr) return kInvalidDeviceInfoSet;
  const GUID guid = ToGuid(interfaceClass);
  const HDEVINFO set = getClassDevs(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return kInvalidDeviceInfoSet;
  return reinterpret_cast<TDeviceInfoSet>(set);
}

bool TWindowsPlatform::EnumDeviceInterfaces(TDeviceInfoSet set,
                                            const TGuid& interfaceClass,
                                            std::uint32_t index,
                                            TDeviceInterfaceRecord& record) {
  const auto enumInterfaces =
      Entry<TEnumDeviceInterfaces>(Bindings().SetupEntry("SetupDiEnumDeviceInterfaces"));
  if (enumInterfaces == nullptr) return false;
  const GUID guid = ToGuid(interfaceClass);
  SP_DEVICE_INTERFACE_DATA data = ToInterfaceData(record);
  if (!enumInterfaces(ToDevInfo(set), nullptr, &guid, index, &data)) return false;
  FromInterfaceData(data, record);
  return true;
}

bool TWindowsPlatform::GetDeviceInterfaceDetail(TDeviceInfoSet set,
                                                const TDeviceInterfaceRecord& record,
                                                char* pathBuffer,
                                                std::uint32_t bufferSize,
                                                std::uint32_t& required,
                                                TDeviceInfoRecord& info) {
  const auto getDetail =
      Entry<TGetDeviceInterfaceDetail>(Bindings().SetupEntry("SetupDiGetDeviceInterfaceDetailA"));
  if (getDetail == nullptr) return false;
  SP_DEVICE_INTERFACE_DATA data = ToInterfaceData(record);
  SP_DEVINFO_DATA devInfo{};
  devInfo.cbSize = sizeof devInfo;
  DWORD needed = 0;

  if (pathBuffer == nullptr) {
    // The size query: the service answers with the size of its detail record, which holds the
    // path after a 32-bit size member, so the path always fits in that many bytes.
    const BOOL ok = getDetail(ToDevInfo(set), &data, nullptr, 0, &needed, &devInfo);
    required = needed;
    if (ok) FromDevInfoData(devInfo, info);
    return ok != FALSE;
  }

  constexpr std::uint32_t kPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
  if (bufferSize <= kPathOffset) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  // The detail record needs the alignment of its size member.
  std::vector<DWORD> storage((bufferSize + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
  auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(storage.data());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  const BOOL ok = getDetail(ToDevInfo(set), &data, detail, bufferSize, &needed, &devInfo);
  required = needed;
  if (!ok) return false;
  // The path is bounded by the buffer even if the service did not terminate it.
  const std::size_t room = bufferSize - kPathOffset;
  const std::size_t length = strnlen(detail->DevicePath, room);
  if (length >= room || length + 1 > bufferSize) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  std::memcpy(pathBuffer, detail->DevicePath, length);
  pathBuffer[length] = '\0';
  FromDevInfoData(devInfo, info);
  return true;
}

bool TWindowsPlatform::GetDeviceRegistryProperty(TDeviceInfoSet set,
                                                 const TDeviceInfoRecord& info,
                                                 std::uint32_t property,
                                                 std::uint8_t* buffer,
                                                 std::uint32_t bufferSize) {
  const auto getProperty =
      Entry<TGetDeviceRegistryProperty>(Bindings().SetupEntry("SetupDiGetDeviceRegistryPropertyA"));
  if (getProperty == nullptr) return false;
  SP_DEVINFO_DATA devInfo = ToDevInfoData(info);
  return getProperty(ToDevInfo(set), &devInfo, property, nullptr, buffer, bufferSize, nullptr) !=
         FALSE;
}

void TWindowsPlatform::DestroyDeviceInfoList(TDeviceInfoSet set) {
  const auto destroy =
      Entry<TDestroyDeviceInfoList>(Bindings().SetupEntry("SetupDiDestroyDeviceInfoList"));
  if (destroy != nullptr && set != kInvalidDeviceInfoSet) destroy(ToDevInfo(set));
}

THidStableNames TWindowsPlatform::GetStableNames(TDeviceInfoSet /*set*/,
                                                 const TDeviceInfoRecord& info,
                                                 const std::string& devicePath) {
  THidStableNames names;
  TLibraryHandle configManager = 0;
  {
    std::lock_guard lock(Lock_);
    if (!ConfigManagerTried_) ConfigManager_ = LoadLibraryByName("cfgmgr32.dll");
    ConfigManagerTried_ = true;
    configManager = ConfigManager_;
  }
  const auto getParent = Entry<TGetParent>(ResolveExport(configManager, "CM_Get_Parent"));
  const auto getProperty = Entry<TGetDevNodeRegistryProperty>(
      ResolveExport(configManager, "CM_Get_DevNode_Registry_PropertyA"));
  DEVINST node = info.DevInst;
  for (int level = 0; getParent != nullptr && getProperty != nullptr && level < kLocationLevels;
       ++level) {
    // A list of texts, the most specific first; the buffer ends with two zeros whatever it got.
    std::vector<char> paths(1024, '\0');
    ULONG length = static_cast<ULONG>(paths.size() - 2);
    if (getProperty(node, CM_DRP_LOCATION_PATHS, nullptr, paths.data(), &length, 0) == CR_SUCCESS &&
        paths[0] != '\0') {
      names.Port = paths.data();
      break;
    }
    DEVINST parent = 0;
    if (getParent(&parent, node, 0) != CR_SUCCESS) break;
    node = parent;
  }

  const auto getSerial =
      Entry<TGetSerialNumberString>(Bindings().HidEntry("HidD_GetSerialNumberString"));
  if (getSerial == nullptr) return names;
  const HANDLE file = CreateFileA(devicePath.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return names;
  std::u16string serial(kSerialChars, u'\0');
  if (getSerial(file, serial.data(), static_cast<ULONG>((kSerialChars - 1) * sizeof(char16_t)))) {
    serial.resize(std::char_traits<char16_t>::length(serial.c_str()));
    names.Serial = ToUtf8(serial);
  }
  CloseHandle(file);
  return names;
}

// --- Files --------------------------------------------------------------------------------------

THidHandle TWindowsPlatform::OpenFile(const std::string& path,
                                      TFileAccess access,
                                      bool overlapped) {
  // A handle that writes is always opened for overlapped I/O, so that a write can be given up
  // on; its other calls (the HID library's queries) still wait for their answers.
  const bool writes = access == TFileAccess::Write || access == TFileAccess::ReadWrite;
  const HANDLE file =
      CreateFileA(path.c_str(), DesiredAccess(access), FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, overlapped || writes ? FILE_FLAG_OVERLAPPED : 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kInvalidHandle;
  return windows::FromHandle(file);
}

bool TWindowsPlatform::CloseFile(THidHandle handle) {
  if (handle == kInvalidHandle) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  {
    std::lock_guard lock(Lock_);
    OutputReportLengths_.erase(handle);
  }
  return CloseHandle(windows::ToHandle(handle)) != FALSE;
}

bool TWindowsPlatform::WriteFile(THidHandle handle,
                                 const std::uint8_t* buffer,
                                 std::uint32_t length,
                                 std::uint32_t& written) {
  written = 0;
  // The class driver takes reports of exactly the output report's length only.
  const std::uint16_t outputLength = OutputReportLength(handle);
  if (outputLength != 0 && length != outputLength) {
    SetLastError(ERROR_BAD_LENGTH);
    return false;
  }
  return windows::WriteWithTimeLimit(windows::ToHandle(handle), buffer, length, written,
                                     static_cast<DWORD>(WriteTimeLimit().count()),
                                     static_cast<DWORD>(kCancelTimeoutMs));
}

std::uint16_t TWindowsPlatform::OutputReportLength(THidHandle handle) {
  {
    std::lock_guard lock(Lock_);
    const auto known = OutputReportLengths_.find(handle);
    if (known != OutputReportLengths_.end()) return known->second;
  }
  // Asked once per handle, at its first write.
  std::uint16_t length = 0;
  TPreparsedData preparsed = 0;
  if (GetPreparsedData(handle, preparsed)) {
    THidCaps caps;
    if (GetCaps(preparsed, caps) == kHidpStatusSuccess) length = caps.OutputReportByteLength;
    FreePreparsedData(preparsed);
  }
  std::lock_guard lock(Lock_);
  OutputReportLengths_[handle] = length;
  return length;
}

std::unique_ptr<TPlatformRead> TWindowsPlatform::CreateRead() {
  return windows::CreateOverlappedRead();
}

std::uint32_t TWindowsPlatform::LastError() { return GetLastError(); }

// --- HID class library --------------------------------------------------------------------------

bool TWindowsPlatform::GetAttributes(THidHandle handle, THidAttributes& attributes) {
  const auto getAttributes = Entry<TGetAttributes>(Bindings().HidEntry("HidD_GetAttributes"));
  if (getAttributes == nullptr) return false;
  HIDD_ATTRIBUTES native{};
  native.Size = sizeof native;
  if (!getAttributes(windows::ToHandle(handle), &native)) return false;
  attributes.VendorID = native.VendorID;
  attributes.ProductID = native.ProductID;
  attributes.VersionNumber = native.VersionNumber;
  return true;
}

bool TWindowsPlatform::GetProductString(THidHandle handle,
                                        char16_t* buffer,
                                        std::uint32_t bufferBytes) {
  const auto getProduct = Entry<TGetProductString>(Bindings().HidEntry("HidD_GetProductString"));
  if (getProduct == nullptr) return false;
  return getProduct(windows::ToHandle(handle), buffer, bufferBytes) != FALSE;
}

bool TWindowsPlatform::GetPreparsedData(THidHandle handle, TPreparsedData& preparsed) {
  const auto getPreparsed = Entry<TGetPreparsedData>(Bindings().HidEntry("HidD_GetPreparsedData"));
  if (getPreparsed == nullptr) return false;
  PHIDP_PREPARSED_DATA native = nullptr;
  if (!getPreparsed(windows::ToHandle(handle), &native)) return false;
  preparsed = reinterpret_cast<TPreparsedData>(native);
  return true;
}

bool TWindowsPlatform::FreePreparsedData(TPreparsedData preparsed) {
  const auto freePreparsed =
      Entry<TFreePreparsedData>(Bindings().HidEntry("HidD_FreePreparsedData"));
  if (freePreparsed == nullptr) return false;
  return freePreparsed(ToPreparsed(preparsed)) != FALSE;
}

std::int32_t TWindowsPlatform::GetCaps(TPreparsedData preparsed, THidCaps& caps) {
  constexpr std::int32_t kHidpStatusInvalidPreparsedData = static_cast<std::int32_t>(0xC0110001u);
  const auto getCaps = Entry<TGetCaps>(Bindings().HidEntry("HidP_GetCaps"));
  if (getCaps == nullptr) return kHidpStatusInvalidPreparsedData;
  HIDP_CAPS native{};
  const NTSTATUS status = getCaps(ToPreparsed(preparsed), &native);
  caps.Usage = native.Usage;
  caps.UsagePage = native.UsagePage;
  caps.InputReportByteLength = native.InputReportByteLength;
  caps.OutputReportByteLength = native.OutputReportByteLength;
  caps.FeatureReportByteLength = native.FeatureReportByteLength;
  caps.NumberLinkCollectionNodes = native.NumberLinkCollectionNodes;
  caps.NumberInputButtonCaps = native.NumberInputButtonCaps;
  caps.NumberInputValueCaps = native.NumberInputValueCaps;
  caps.NumberInputDataIndices = native.NumberInputDataIndices;
  caps.NumberOutputButtonCaps = native.NumberOutputButtonCaps;
  caps.NumberOutputValueCaps = native.NumberOutputValueCaps;
  caps.NumberOutputDataIndices = native.NumberOutputDataIndices;
  caps.NumberFeatureButtonCaps = native.NumberFeatureButtonCaps;
  caps.NumberFeatureValueCaps = native.NumberFeatureValueCaps;
  caps.NumberFeatureDataIndices = native.NumberFeatureDataIndices;
  return static_cast<std::int32_t>(status);
}

bool TWindowsPlatform::SetNumInputBuffers(THidHandle handle, std::uint32_t count) {
  const auto setBuffers =
      Entry<TSetNumInputBuffers>(Bindings().HidEntry("HidD_SetNumInputBuffers"));
  if (setBuffers == nullptr) return false;
  return setBuffers(windows::ToHandle(handle), count) != FALSE;
}

bool TWindowsPlatform::GetNumInputBuffers(THidHandle handle, std::uint32_t& count) {
  const auto getBuffers =
      Entry<TGetNumInputBuffers>(Bindings().HidEntry("HidD_GetNumInputBuffers"));
  if (getBuffers == nullptr) return false;
  ULONG native = 0;
  if (!getBuffers(windows::ToHandle(handle), &native)) return false;
  count = native;
  return true;
}

// --- Notification and threads -------------------------------------------------------------------

std::unique_ptr<TDeviceNotifier> TWindowsPlatform::CreateDeviceNotifier(
    TMainThreadPort& port,
    TDeviceChangeCallback callback) {
  return windows::CreateNotifyWindow(port, std::move(callback));
}

void TWindowsPlatform::NameCurrentThread(std::string_view name) {
  // Debuggers show the description; systems before it simply have unnamed threads.
  const auto setDescription =
      Entry<TSetThreadDescription>(windows::Kernel32Entry("SetThreadDescription"));
  if (setDescription == nullptr || name.empty()) return;
  const int inputLength = static_cast<int>(std::min<std::size_t>(name.size(), 256));
  const int length = MultiByteToWideChar(CP_UTF8, 0, name.data(), inputLength, nullptr, 0);
  if (length <= 0) return;
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, name.data(), inputLength, wide.data(), length);
  setDescription(GetCurrentThread(), wide.c_str());
}

namespace {

// The system interface, made before the backend over it and destroyed after it.
struct TOwnedPlatform {
  TWindowsPlatform Platform;
};

class TNativeBackend final : private TOwnedPlatform, public TWindowsHidBackend {
 public:
  TNativeBackend() : TWindowsHidBackend(Platform) {}
};

}  // namespace

std::unique_ptr<THidBackend> CreateNativeBackend() { return std::make_unique<TNativeBackend>(); }

}  // namespace glowstep
