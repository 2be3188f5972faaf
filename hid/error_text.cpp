#include <string>
#include <system_error>

#include "hid/hid_backend.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace glowstep {

TMessage ErrorCodeMessage(std::uint32_t code) {
#ifdef _WIN32
  // The codes are the system's own: it words them, in the user's language, as UTF-8 here.
  wchar_t* wide = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&wide), 0, nullptr);
  std::string text;
  if (length > 0 && wide != nullptr) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), nullptr, 0,
                                          nullptr, nullptr);
    if (bytes > 0) {
      text.resize(static_cast<std::size_t>(bytes));
      WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), text.data(), bytes, nullptr,
                          nullptr);
    }
  }
  if (wide != nullptr) LocalFree(wide);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  if (!text.empty()) return TMessage::Plain(text);
#else
  switch (code) {
    case kErrorFileNotFound:
      return CatalogueText("hid", "the device was not found");
    case kErrorAccessDenied:
      return CatalogueText("hid", "access denied");
    case kErrorInvalidHandle:
      return CatalogueText("hid", "the device is not open");
    case kErrorGenFailure:
      return CatalogueText("hid", "the device does not work");
    case kErrorInvalidParameter:
      return CatalogueText("hid", "the device does not take this report");
    case kErrorOperationAborted:
      return CatalogueText("hid", "the operation was aborted");
    case kErrorDeviceNotConnected:
      return CatalogueText("hid", "the device is not connected");
    case kErrorTimeout:
      return CatalogueText("hid", "the device did not take the report in time");
    default:
      break;
  }
#endif
  return {CatalogueText("hid", "error %1"), {TMessage::Plain(std::to_string(code))}};
}

std::string ErrorCodeText(std::uint32_t code) { return ErrorCodeMessage(code).English(); }

TMessage HidErrorMessage(const THidError& error) {
  if (error.Cause != 0)
    return TMessage::Plain(std::error_code(error.Cause, std::generic_category()).message());
  return ErrorCodeMessage(error.Code);
}

}  // namespace glowstep
