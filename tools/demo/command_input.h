// Commands arriving on a descriptor (the demo's standard input), read on the main thread: the
// port watches the descriptor, each time it is readable the bytes that are there are read, and
// every complete line is handed over at once. No thread of its own, so nothing outlives the
// objects the lines act on.
#pragma once

#include <functional>
#include <string>

#include "hid/main_thread_port.h"

namespace glowstep {

class TCommandInput {
 public:
  // Runs one line (without its line feed); returns false to stop reading.
  using TLineHandler = std::function<bool(const std::string& line)>;

  // Starts watching `descriptor`. The input ends at the end of the data (a last line without a
  // line feed still runs), at a read error, or when the handler returns false.
  TCommandInput(TMainThreadPort& port, int descriptor, TLineHandler handler);
  TCommandInput(const TCommandInput&) = delete;
  TCommandInput& operator=(const TCommandInput&) = delete;
  ~TCommandInput();

  // False when the port cannot watch the descriptor, and once the input has ended.
  bool Reading() const { return Watch_ != 0; }

 private:
  void OnReadable();
  void Stop();

  TMainThreadPort& Port_;
  int Descriptor_;
  TLineHandler Handler_;
  TMainThreadPort::TWatchId Watch_ = 0;
  std::string Pending_;  // the start of a line whose line feed has not arrived yet
};

}  // namespace glowstep
