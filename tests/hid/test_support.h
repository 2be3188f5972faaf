// Shared set-up of the HID tests: a main loop, a simulated platform and a controller whose
// events are written to logs.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "hid/hid_device.h"
#include "hid/hid_device_controller.h"
#include "hid/main_loop.h"
#include "hid/platform/sim/sim_platform.h"
#include "testing/virtual_staircase_controller.h"
#include "testing/waiting.h"

namespace glowstep::testing {

using namespace std::chrono_literals;

inline TSimInterfaceSpec StaircaseSpec(std::shared_ptr<TVirtualStaircaseController> behaviour = {},
                                       std::u16string product = u"Glowstep 3 v1.2") {
  TSimInterfaceSpec setup;
  setup.ProductString = std::move(product);
  setup.Behaviour =
      behaviour ? std::move(behaviour) : std::make_shared<TVirtualStaircaseController>();
  return setup;
}

inline std::vector<std::uint8_t> ReadRequest() {
  std::vector<std::uint8_t> report(65, 0);
  report[1] = 'r';
  return report;
}

// One report as a data handler saw it.
struct TDelivery {
  THidDevice* Device = nullptr;
  std::uint8_t ReportID = 0;
  std::vector<std::uint8_t> Data;
};

class HidFixture : public ::testing::Test {
 protected:
  // The controller goes before the logs its handlers write to.
  ~HidFixture() override { Controller.reset(); }

  // Builds the controller with logging handlers and runs the first, posted refresh.
  void MakeController(bool withDataHandler = true) {
    Controller = std::make_unique<THidDeviceController>(Sim, Loop);
    Controller->SetOnArrival(THidPlugEvent([this](THidDevice* d) { Log("arrival", d); }));
    Controller->SetOnRemoval(THidPlugEvent([this](THidDevice* d) { Log("removal", d); }));
    Controller->SetOnError(THidErrorEvent([this](THidDeviceController*, const TMessage& message) {
      Messages.push_back(message.English());
    }));
    Controller->SetLoading(true);
    Controller->SetOnDeviceChange(
        TNotifyEvent([this](THidDeviceController*) { Events.push_back("change"); }));
    Controller->SetLoading(false);
    if (withDataHandler) Controller->SetOnDeviceData(DataHandler());
    Controller->SetOnDeviceDataError(
        THidDataErrorEvent([this](THidDevice*, std::uint32_t error) { Errors.push_back(error); }));
    Loop.RunPending();
  }

  THidDataEvent DataHandler() {
    return THidDataEvent(&kDataCode, [this](THidDevice* d, std::uint8_t id,
                                            const std::uint8_t* data, std::uint16_t size) {
      Deliveries.push_back(TDelivery{d, id, std::vector<std::uint8_t>(data, data + size)});
    });
  }

  void Log(const std::string& what, THidDevice* device) {
    Events.push_back(what + " " + device->PnPInfo().DevicePath);
  }

  // Runs the loop until `count` reports were delivered.
  bool WaitForDeliveries(std::size_t count) {
    return Loop.RunUntil([&] { return Deliveries.size() >= count; }, kPatience);
  }

  THidDevice* CheckOut(std::int32_t index) {
    THidDevice* device = nullptr;
    EXPECT_TRUE(Controller->CheckOutAt(device, index));
    return device;
  }

  bool Write(THidDevice* device, std::vector<std::uint8_t> report) {
    std::uint32_t written = 0;
    return !device->WriteReport(report.data(), static_cast<std::uint32_t>(report.size()),
                                written) &&
           written == report.size();
  }

  // Destroys the controller and checks that nothing of it is left on the platform.
  void ExpectCleanShutdown() {
    Controller.reset();
    Loop.RunPending();
    const TSimCounters counters = Sim.Counters();
    EXPECT_EQ(counters.Starts, 0);
    EXPECT_EQ(counters.OpenConnections, 0);
    EXPECT_EQ(counters.ReadsUnderWay, 0);
    EXPECT_EQ(counters.Notifiers, 0);
    EXPECT_EQ(counters.Misuse, 0);
  }

  static inline char kDataCode = 0;

  TMainLoop Loop;
  TSimPlatform Sim;
  std::unique_ptr<THidDeviceController> Controller;
  std::vector<std::string> Events;
  std::vector<TDelivery> Deliveries;
  std::vector<std::uint32_t> Errors;
  std::vector<std::string> Messages;  // the controller's error event
};

}  // namespace glowstep::testing
