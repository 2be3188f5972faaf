// The Windows backend over the emulated Windows system, over the simulated device tree: what it
// lists is what is plugged in, a report goes out and one comes in through its connections, a
// start that cannot bind everything holds nothing, and no system call failing leaves anything
// behind.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "hid/platform/sim/sim_platform.h"
#include "hid/platform/windows/windows_backend.h"
#include "testing/emulated_platform.h"
#include "testing/fault_injection.h"

namespace glowstep::testing {
namespace {

using namespace std::chrono_literals;

// Sends every output report back as an input report.
class TEcho final : public TSimBehaviour {
 public:
  std::vector<std::vector<std::uint8_t>> OutputReport(
      std::span<const std::uint8_t> report) override {
    return {std::vector<std::uint8_t>(report.begin(), report.end())};
  }
};

// Nothing of the backend is left on the emulated system, and nothing was misused there or on the
// tree below it.
void ExpectNothingLeft(const TEmulatedHidPlatform& emulation, const TSimPlatform& sim) {
  const THidEmulationCounters counters = emulation.Counters();
  EXPECT_EQ(counters.OpenHandles, 0);
  EXPECT_EQ(counters.DeviceInfoSets, 0);
  EXPECT_EQ(counters.PreparsedData, 0);
  EXPECT_EQ(counters.Reads, 0);
  EXPECT_EQ(counters.HandleMisuse, 0);
  EXPECT_EQ(counters.ClosedWithPendingRead, 0);
  EXPECT_EQ(counters.ReadsAbandoned, 0);
  EXPECT_EQ(sim.Counters().Misuse, 0);
}

class WindowsBackend : public ::testing::Test {
 protected:
  void ExpectNothingLeft() { glowstep::testing::ExpectNothingLeft(Emulation, Sim); }

  TSimPlatform Sim;
  TEmulatedHidPlatform Emulation{Sim};
  TWindowsHidBackend Backend{Emulation};
};

TEST_F(WindowsBackend, ListsWhatIsPluggedInWithItsPropertiesThroughTheRegistryCodes) {
  THidPnPProperties full;
  full.Capabilities = 0x84;
  full.Class = "HIDClass";
  full.ClassGuid = "{745a17a0-74d3-11d0-b6fe-00a0c90f57da}";
  full.CompatibleIds = {"HID_DEVICE_SYSTEM_VENDOR", "HID_DEVICE"};
  full.ConfigFlags = 1;
  full.DeviceDesc = "HID-compliant vendor-defined device";
  full.Driver = "{745a17a0-74d3-11d0-b6fe-00a0c90f57da}\\0007";
  full.FriendlyName = std::string(TWindowsHidBackend::kTextBufferSize, 'x');  // fills the buffer
  full.HardwareId = {"HID\\VID_16C0&PID_05DF&REV_0100", "HID\\VID_16C0&PID_05DF"};
  full.LowerFilters = {"lower"};
  full.Mfg = "(Standard system devices)";
  full.UpperFilters = {"upper", "second"};
  full.Address = "1";
  full.BusNumber = 0x10203;
  full.BusTypeGuid = "{eeaf37d0-1963-47c4-aa48-72476db7cf49}";
  full.Characteristics = "256";
  full.DevType = 0x22;
  full.EnumeratorName = "HID";
  full.Exclusive = 1;
  full.LegacyBusType = 0xFFFFFFFF;
  full.LocationInformation = "Port_#0002.Hub_#0001";
  full.PhysicalDeviceObjectName = "\\Device\\00000071";
  full.SecuritySds = "D:P(A;;GA;;;SY)";
  full.Service = "HidUsb";
  full.UiNumber = 7;
  full.UiNumberDescFormat = "Port %1";
  THidPnPProperties longText;
  longText.DeviceDesc = std::string(TWindowsHidBackend::kTextBufferSize + 100, 'y');

  struct TCase {
    THidPnPProperties Plugged;
    THidPnPProperties Listed;
    std::string PortName;
    std::string SerialNumber;
  };
  THidPnPProperties cut;
  cut.DeviceDesc = std::string(TWindowsHidBackend::kTextBufferSize, 'y');
  const std::vector<TCase> cases = {
      {full, full, "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)", "A1B2"},
      {THidPnPProperties{}, THidPnPProperties{}, "", ""},
      {longText, cut, "", "serial"},
  };
  std::vector<TSimPlatform::TInterfaceId> ids;
  for (const TCase& c : cases) {
    TSimInterfaceSpec setup;
    setup.Properties = c.Plugged;
    setup.PortName = c.PortName;
    setup.SerialNumber = c.SerialNumber;
    ids.push_back(Sim.Plug(setup));
  }

  ASSERT_FALSE(Backend.Start());
  THidError error;
  const std::vector<THidInterfaceRecord> records = Backend.List(error);
  EXPECT_FALSE(error);
  ASSERT_EQ(records.size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(records[i].Path, Sim.PathOf(ids[i]));
    EXPECT_EQ(records[i].Identity, Sim.DeviceInstanceOf(ids[i]));
    EXPECT_EQ(records[i].PortName, cases[i].PortName);
    EXPECT_EQ(records[i].SerialNumber, cases[i].SerialNumber);
    EXPECT_EQ(records[i].Properties, cases[i].Listed);
  }
  Backend.Stop();
  ExpectNothingLeft();
}

TEST_F(WindowsBackend, AReportGoesOutAndItsAnswerComesBackThroughTheConnections) {
  TSimInterfaceSpec setup;
  setup.Behaviour = std::make_shared<TEcho>();
  const TSimPlatform::TInterfaceId id = Sim.Plug(setup);
  ASSERT_FALSE(Backend.Start());
  {
    THidError error;
    const auto reader = Backend.Open(Sim.PathOf(id), TFileAccess::Read, error);
    const auto general = Backend.Open(Sim.PathOf(id), TFileAccess::ReadWrite, error);
    ASSERT_TRUE(reader && general) << error.Code;

    THidAttributes attributes;
    EXPECT_FALSE(general->Attributes(attributes));
    EXPECT_EQ(attributes.VendorID, setup.Attributes.VendorID);
    EXPECT_EQ(attributes.ProductID, setup.Attributes.ProductID);
    std::u16string product;
    EXPECT_FALSE(general->ProductString(product));
    EXPECT_EQ(product, setup.ProductString);
    THidCaps caps;
    EXPECT_FALSE(general->Caps(caps));
    EXPECT_EQ(caps.InputReportByteLength, 65);
    EXPECT_EQ(caps.OutputReportByteLength, 65);

    std::vector<std::uint8_t> report(65, 0);
    report[1] = 'r';
    report[64] = 0x5A;
    std::uint32_t written = 0;
    EXPECT_FALSE(general->Write(report, written, 200ms));
    EXPECT_EQ(written, 65u);
    EXPECT_EQ(Emulation.WriteTimeLimit(), 200ms);
    std::vector<std::uint8_t> buffer(65, 0xEE);
    const THidReadResult read = reader->Read(buffer);
    EXPECT_FALSE(read.Error);
    EXPECT_FALSE(read.Woken);
    EXPECT_EQ(read.Count, 65u);
    EXPECT_EQ(buffer, report);

    // A read with nothing to bring ends when woken from another thread, and leaves nothing
    // outstanding: the buffer is untouched and the connection closes cleanly.
    std::thread waker([&] {
      std::this_thread::sleep_for(50ms);
      reader->Wake();
    });
    std::fill(buffer.begin(), buffer.end(), std::uint8_t{0xEE});
    const THidReadResult woken = reader->Read(buffer);
    waker.join();
    EXPECT_TRUE(woken.Woken);
    EXPECT_EQ(woken.Count, 0u);
    EXPECT_EQ(buffer, std::vector<std::uint8_t>(65, 0xEE));
  }
  Backend.Stop();
  ExpectNothingLeft();
}

TEST_F(WindowsBackend, AStartThatCannotBindEverythingFailsAndHoldsNothing) {
  struct TCase {
    std::string Library;  // removed whole when Export is empty
    std::string Export;
    std::uint32_t Error;
  };
  constexpr std::uint32_t kErrorProcNotFound = 127;
  const std::vector<TCase> cases = {
      {"SetupApi.dll", "", kErrorFileNotFound},
      {"HID.dll", "", kErrorFileNotFound},
      {"SetupApi.dll", "SetupDiGetDeviceRegistryPropertyA", kErrorProcNotFound},
      {"HID.dll", "HidD_GetAttributes", kErrorProcNotFound},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Library + " " + c.Export);
    TSimPlatform sim;
    TEmulatedHidPlatform emulation(sim);
    TWindowsHidBackend backend(emulation);
    if (c.Export.empty())
      emulation.RemoveLibrary(c.Library);
    else
      emulation.RemoveExport(c.Library, c.Export);
    EXPECT_EQ(backend.Start().Code, c.Error);
    EXPECT_EQ(emulation.LibraryReferences("SetupApi.dll"), 0);
    EXPECT_EQ(emulation.LibraryReferences("HID.dll"), 0);
    EXPECT_EQ(sim.Counters().Starts, 0);
    EXPECT_EQ(sim.Counters().Misuse, 0);
  }
}

// Starts, lists, opens both ways, asks every query, writes and reads one report, and stops; each
// step after a failure goes on as far as it can.
void UseEveryCall(TWindowsHidBackend& backend, TSimPlatform& sim, TSimPlatform::TInterfaceId id) {
  if (backend.Start()) return;
  THidError error;
  backend.List(error);
  {
    const auto reader = backend.Open(sim.PathOf(id), TFileAccess::Read, error);
    const auto general = backend.Open(sim.PathOf(id), TFileAccess::ReadWrite, error);
    if (general != nullptr) {
      THidAttributes attributes;
      general->Attributes(attributes);
      std::u16string product;
      general->ProductString(product);
      THidCaps caps;
      general->Caps(caps);
      general->SetInputBuffers(8);
      general->InputBuffers();
      std::uint32_t written = 0;
      general->Write(std::vector<std::uint8_t>(65, 0), written, kDefaultWriteTimeLimit);
    }
    if (reader != nullptr) {
      sim.SendInputReport(id, std::vector<std::uint8_t>(65, 1));
      std::vector<std::uint8_t> buffer(65);
      reader->Read(buffer);
    }
  }
  backend.Stop();
}

TEST(WindowsBackendFaults, NoSystemCallFailingLeavesAnythingHeldOrMisused) {
  std::vector<TCallKey> calls;
  {
    TSimPlatform sim;
    const TSimPlatform::TInterfaceId id = sim.Plug(TSimInterfaceSpec{});
    TEmulatedHidPlatform emulation(sim);
    TFaultPlan plan = TFaultPlan::Counting();
    emulation.SetFaultPlan(&plan);
    TWindowsHidBackend backend(emulation);
    UseEveryCall(backend, sim, id);
    calls = plan.Calls();
  }
  ASSERT_GT(calls.size(), 50u);
  for (const TCallKey& call : calls) {
    SCOPED_TRACE(call.Text());
    TSimPlatform sim;
    const TSimPlatform::TInterfaceId id = sim.Plug(TSimInterfaceSpec{});
    TEmulatedHidPlatform emulation(sim);
    TFaultPlan plan = TFaultPlan::Once(call);
    emulation.SetFaultPlan(&plan);
    {
      TWindowsHidBackend backend(emulation);
      UseEveryCall(backend, sim, id);
    }
    EXPECT_TRUE(plan.Reached());
    ExpectNothingLeft(emulation, sim);
    EXPECT_EQ(emulation.LibraryReferences("SetupApi.dll"), 0);
    EXPECT_EQ(emulation.LibraryReferences("HID.dll"), 0);
    EXPECT_EQ(sim.Counters().Starts, 0);
  }
}

}  // namespace
}  // namespace glowstep::testing
