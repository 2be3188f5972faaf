// The library loader where the system refuses the system-folder search flag (Windows 7 without
// its loader update): a library loaded by its full path must find what it depends on beside
// itself, never beside the program. A probe library and two copies of its dependency, one in
// each folder, tell which was found.
#include <string>

#include "hid/platform/windows/windows_internal.h"
#include "tests/hid/windows/windows_test_support.h"

namespace glowstep::testing {
namespace {

// LoadLibraryExA as a system without the search flags has it.
HMODULE WINAPI LoadLibraryExOfAnOlderSystem(LPCSTR path, HANDLE file, DWORD flags) {
  if ((flags & LOAD_LIBRARY_SEARCH_SYSTEM32) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return LoadLibraryExA(path, file, flags);
}

std::string ProgramFolder() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  const std::string program(path, length);
  return program.substr(0, program.find_last_of('\\'));
}

TEST(LibraryLoader, WithoutTheSearchFlagALibrarysDependenciesComeFromBesideIt) {
  const std::string library = ProgramFolder() + "\\probe-library\\glowstep-probe-library.dll";
  const HMODULE probe = windows::LoadLibraryAt(library, &LoadLibraryExOfAnOlderSystem);
  ASSERT_NE(probe, nullptr) << GetLastError();
  using TLoadedDependency = int (*)();
  const auto loaded = reinterpret_cast<TLoadedDependency>(
      reinterpret_cast<void*>(GetProcAddress(probe, "GlowstepProbeLoadedDependency")));
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(loaded(), 1) << "the copy beside the program was loaded";
  FreeLibrary(probe);
}

}  // namespace
}  // namespace glowstep::testing
