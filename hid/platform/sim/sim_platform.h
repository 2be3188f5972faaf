// A simulated HID platform: a device tree that tests and the demo change at any time.
//
// Interfaces are plugged and unplugged from any thread; each has a path, an instance identity,
// attributes, a product string, report lengths, whether read/write access is granted, faults,
// and a behaviour that answers the output reports written to it. Input reports reach every open
// connection with read access, as a HID class driver queues them; a read waiting on a connection
// returns when a report is due, and fails when the interface goes away.
//
// It is a HID backend of its own: the controller runs on it as on any system. It counts what is
// alive and every misuse it can see, so tests can prove that nothing is leaked or misused.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "hid/hid_backend.h"

namespace glowstep {

// What an interface does with the output reports written to it.
class TSimBehaviour {
 public:
  virtual ~TSimBehaviour() = default;
  // Called on the writing thread; returns the input reports the interface sends back.
  virtual std::vector<std::vector<std::uint8_t>> OutputReport(
      std::span<const std::uint8_t> report) = 0;
};

struct TSimFaults {
  bool RefuseReadWrite = false;    // read/write opens fail; query-only opens work
  bool FailOpen = false;           // every open fails: "Device cannot be opened"
  bool FailAttributes = false;     // "Device cannot be identified"
  bool FailProductString = false;  // the product-string query fails
  bool FailReadStart = false;      // every read start fails with ReadStartError
  std::uint32_t ReadStartError = kErrorGenFailure;
  bool FailWrite = false;  // every report write fails with WriteError (an I/O error)
  std::uint32_t WriteError = kErrorGenFailure;
  std::uint32_t WriteLength = 0;  // non-zero: a write takes only this many bytes (a short write)
  std::chrono::milliseconds AnswerDelay{0};  // replies become readable this much later
  std::uint16_t AnswerLength = 0;            // non-zero: replies are cut to this many bytes
  std::uint32_t AnswerFrom = 0;              // non-zero: replies arrive at that interface instead
  bool VanishOnRead = false;  // asked for its settings, the interface is unplugged instead
  // The reason the system names when read/write opens fail.
  THidAccessReason AccessReason = THidAccessReason::Unknown;
};

struct TSimInterfaceSpec {
  std::string Path;                  // empty: a fresh "sim:hid#N"
  std::uint32_t DeviceInstance = 0;  // 0: a fresh identity for every plug
  // The names that outlast a re-plug: plugged again with the same ones, at whatever path, it is
  // the same device in the same port.
  std::string PortName;
  std::string SerialNumber;
  THidAttributes Attributes{12, 0x16C0, 0x05DF, 0x0100};
  std::u16string ProductString = u"Glowstep 3";
  std::uint16_t InputReportLength = 65;
  std::uint16_t OutputReportLength = 65;
  THidPnPProperties Properties;
  TSimFaults Faults;
  std::shared_ptr<TSimBehaviour> Behaviour;
};

struct TSimCounters {
  std::int64_t Starts = 0;           // starts not yet stopped
  std::int64_t OpenConnections = 0;  // of any access
  std::int64_t ReadConnections = 0;  // open with read access
  std::int64_t ReadsUnderWay = 0;
  std::int64_t ReadsBegun = 0;
  std::int64_t Notifiers = 0;
  std::int64_t ReportsWritten = 0;
  std::int64_t ReportsDropped = 0;  // input queue full
  // Reads on a connection without read access or with no buffer, two reads at once on one
  // connection, a stop without a start.
  std::int64_t Misuse = 0;
};

class TSimPlatform final : public THidBackend {
 public:
  using TInterfaceId = std::uint32_t;
  static constexpr std::uint32_t kInputQueueLength = 32;

  TSimPlatform();
  ~TSimPlatform() override;

  // --- The backend -----------------------------------------------------------------------------
  THidError Start() override;
  void Stop() override;
  std::vector<THidInterfaceRecord> List(THidError& error) override;
  std::shared_ptr<THidConnection> Open(const std::string& path,
                                       TFileAccess access,
                                       THidError& error) override;
  std::unique_ptr<TDeviceNotifier> Watch(TMainThreadPort& port,
                                         TDeviceChangeCallback callback) override;
  void NameCurrentThread(std::string_view name) override;
  // Every name a thread was given, once each, in the order first given.
  std::vector<std::string> ThreadNames() const;

  // --- The device tree (any thread) ------------------------------------------------------------
  TInterfaceId Plug(TSimInterfaceSpec setup);
  // Reads waiting on the interface fail; its connections stay open but dead.
  bool Unplug(TInterfaceId id);
  bool IsPlugged(TInterfaceId id) const;
  std::string PathOf(TInterfaceId id) const;
  std::uint32_t DeviceInstanceOf(TInterfaceId id) const;
  void SetFaults(TInterfaceId id, const TSimFaults& faults);
  // Queues an input report at the interface, readable after `delay`.
  bool SendInputReport(TInterfaceId id,
                       const std::vector<std::uint8_t>& report,
                       std::chrono::milliseconds delay = std::chrono::milliseconds(0));
  // Sends the device-change notification to every notifier, through its main-thread port.
  void NotifyDeviceChange(std::uintptr_t wParam = kDbtDevNodesChanged, std::intptr_t lParam = 0);
  // Whether Plug and Unplug notify by themselves, as a real system does (on by default).
  void SetAutoNotify(bool autoNotify);

  // --- Every operation failing in turn ----------------------------------------------------------
  // What the call filter makes of one operation: it fails with Error; or, for "Write" and "Read",
  // it succeeds spoiled (Short: a write takes half the report and reaches nobody, a read brings
  // only the first kSpoiledReportLength bytes of its report; Garbage: a read brings its report's
  // length of bytes the interface never sent after the report ID).
  enum class TSpoilKind { None, Short, Garbage };
  struct TCallOutcome {
    TCallOutcome(THidError error = {}) : Error(error) {}  // NOLINT(google-explicit-constructor)
    TCallOutcome(TSpoilKind spoil) : Spoil(spoil) {}      // NOLINT(google-explicit-constructor)
    THidError Error;
    TSpoilKind Spoil = TSpoilKind::None;
  };
  static constexpr std::uint32_t kSpoiledReportLength = 21;
  // Asked before each operation of the backend with the operation's name. The operations:
  // "Start", "List", "Open", "Watch", and on a connection "Status" (which the attribute,
  // product-string and capability queries ask first), "AccessReason", "Write", "ReadStartError",
  // "Read" and "SetInputBuffers". Called on the thread of the operation, with no lock of the tree
  // held. None: nothing fails this way.
  using TCallFilter = std::function<TCallOutcome(std::string_view operation)>;
  void SetCallFilter(TCallFilter filter);
  // The bytes a garbage read brings after the report ID, by their place in the report.
  static std::uint8_t GarbageByte(std::size_t index);

  TSimCounters Counters() const;
  // Connections open now to the interface (plugged or not).
  std::int64_t OpenConnectionsOf(TInterfaceId id) const;

 private:
  class TTree;

  std::unique_ptr<TTree> Tree_;
};

}  // namespace glowstep
