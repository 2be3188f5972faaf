#include "hid/platform/windows/hid_bindings.h"

#include "hid/platform/windows/hid_platform.h"

namespace glowstep {

const std::array<THidBindings::THidEntryName, THidBindings::kHidEntryCount>&
THidBindings::HidEntryNames() {
  // Five usage functions fill two successive entries each: one for usages, one for buttons.
  static const std::array<THidEntryName, kHidEntryCount> names = {{
      {"HidD_Hello"},
      {"HidD_GetHidGuid"},
      {"HidD_GetPreparsedData"},
      {"HidD_FreePreparsedData"},
      {"HidD_GetConfiguration"},
      {"HidD_SetConfiguration"},
      {"HidD_FlushQueue"},
      {"HidD_GetFeature"},
      {"HidD_SetFeature"},
      {"HidD_GetNumInputBuffers"},
      {"HidD_SetNumInputBuffers"},
      {"HidD_GetAttributes"},
      {"HidD_GetManufacturerString"},
      {"HidD_GetProductString"},
      {"HidD_GetSerialNumberString"},
      {"HidD_GetPhysicalDescriptor"},
      {"HidD_GetIndexedString"},
      {"HidD_GetInputReport", 5, 1},
      {"HidD_SetOutputReport", 5, 1},
      {"HidP_GetCaps"},
      {"HidP_GetLinkCollectionNodes"},
      {"HidP_GetSpecificButtonCaps"},
      {"HidP_GetSpecificValueCaps"},
      {"HidP_GetData"},
      {"HidP_SetData"},
      {"HidP_MaxDataListLength"},
      {"HidP_GetUsages"},
      {"HidP_GetUsages"},
      {"HidP_GetUsagesEx"},
      {"HidP_GetUsagesEx"},
      {"HidP_SetUsages"},
      {"HidP_SetUsages"},
      {"HidP_UnsetUsages"},
      {"HidP_UnsetUsages"},
      {"HidP_MaxUsageListLength"},
      {"HidP_MaxUsageListLength"},
      {"HidP_GetUsageValue"},
      {"HidP_GetScaledUsageValue"},
      {"HidP_GetUsageValueArray"},
      {"HidP_SetUsageValue"},
      {"HidP_SetScaledUsageValue"},
      {"HidP_SetUsageValueArray"},
      {"HidP_UsageListDifference"},
      {"HidP_TranslateUsagesToI8042ScanCodes"},
      {"HidP_GetExtendedAttributes", 5, 0},
      {"HidP_InitializeReportForID", 5, 0},
  }};
  return names;
}

void THidBindings::ReleaseAll() {
  ReleaseHidBinding();
  SetupBindingCount_ = 0;
  ReleaseLibrary(SetupLibrary_);
  SetupTable_.fill(nullptr);
}

bool THidBindings::LoadLibraryOnce(TLibraryHandle& handle, std::string_view name) {
  if (handle == 0) handle = Platform_.LoadLibraryByName(name);
  return handle != 0;
}

void THidBindings::ReleaseLibrary(TLibraryHandle& handle) {
  if (handle != 0) Platform_.FreeLibraryHandle(handle);
  handle = 0;
}

TEntryAddress THidBindings::ResolveEntry(TLibraryHandle handle,
                                         std::string_view name,
                                         bool& allFound) {
  TEntryAddress address = handle != 0 ? Platform_.ResolveExport(handle, name) : nullptr;
  allFound = allFound && address != nullptr;
  return address;
}

bool THidBindings::AcquireSetupBinding() {
  if (++SetupBindingCount_ > 1) return true;
  if (!LoadLibraryOnce(SetupLibrary_, kSetupLibraryName)) {
    --SetupBindingCount_;
    return false;
  }
  bool allFound = true;
  for (std::size_t i = 0; i < kSetupEntryNames.size(); ++i)
    SetupTable_[i] = ResolveEntry(SetupLibrary_, kSetupEntryNames[i], allFound);
  if (!allFound) {
    ReleaseSetupBinding();
    return false;
  }
  return true;
}

void THidBindings::ReleaseSetupBinding() {
  if (--SetupBindingCount_ <= 0) {
    SetupBindingCount_ = 0;  // an unmatched release must not leave the count negative
    ReleaseLibrary(SetupLibrary_);
    SetupTable_.fill(nullptr);
  }
}

bool THidBindings::AcquireHidBinding() {
  if (!LoadLibraryOnce(HidLibrary_, kHidLibraryName)) return false;
  bool allFound = true;
  const auto& names = HidEntryNames();
  for (std::size_t i = 0; i < kHidEntryCount; ++i) {
    const THidEntryName& entry = names[i];
    const bool available =
        entry.NtMajor == 0 || Platform_.IsNtVersionAtLeast(entry.NtMajor, entry.NtMinor);
    HidTable_[i] = available ? ResolveEntry(HidLibrary_, entry.Name, allFound) : nullptr;
  }
  if (!allFound) {
    ReleaseHidBinding();
    return false;
  }
  return true;
}

void THidBindings::ReleaseHidBinding() {
  ReleaseLibrary(HidLibrary_);
  HidTable_.fill(nullptr);
}

TEntryAddress THidBindings::SetupEntry(std::string_view name) const {
  for (std::size_t i = 0; i < kSetupEntryNames.size(); ++i)
    if (kSetupEntryNames[i] == name) return SetupTable_[i];
  return nullptr;
}

TEntryAddress THidBindings::HidEntry(std::string_view name) const {
  const auto& names = HidEntryNames();
  for (std::size_t i = 0; i < kHidEntryCount; ++i)
    if (names[i].Name == name) return HidTable_[i];
  return nullptr;
}

}  // namespace glowstep
