#include "hid/main_thread_port.h"

namespace glowstep {

TMainThreadPort::TMainThreadPort() : MainThread_(std::this_thread::get_id()) {}

TMainThreadPort::~TMainThreadPort() = default;

void TMainThreadPort::Synchronize(const TTask& call) {
  if (IsMainThread()) {
    call();
    return;
  }
  THandOff handOff{&call};
  bool post = false;
  {
    std::lock_guard lock(Lock_);
    Pending_.push_back(&handOff);
    post = !DrainPosted_;
    DrainPosted_ = true;
    ++WakeCount_;
  }
  MainWake_.notify_all();
  if (post) Post([this] { RunHandOffs(); });
  std::unique_lock lock(Lock_);
  HandOffDone_.wait(lock, [&] { return handOff.Done; });
}

void TMainThreadPort::RunHandOffs() {
  std::exception_ptr firstError;
  for (;;) {
    THandOff* handOff = nullptr;
    {
      std::lock_guard lock(Lock_);
      if (Pending_.empty()) {
        DrainPosted_ = false;
        break;
      }
      handOff = Pending_.front();
      Pending_.pop_front();
    }
    try {
      (*handOff->Call)();
    } catch (...) {
      if (!firstError) firstError = std::current_exception();
    }
    {
      std::lock_guard lock(Lock_);
      handOff->Done = true;
    }
    HandOffDone_.notify_all();
  }
  if (firstError) ReportException(firstError);
}

void TMainThreadPort::DrainUntil(const std::function<bool()>& done) {
  for (;;) {
    std::uint64_t seen = 0;
    {
      std::lock_guard lock(Lock_);
      seen = WakeCount_;
    }
    RunHandOffs();
    if (done()) return;
    std::unique_lock lock(Lock_);
    MainWake_.wait(lock, [&] { return WakeCount_ != seen || !Pending_.empty(); });
  }
}

void TMainThreadPort::WakeDrain() {
  {
    std::lock_guard lock(Lock_);
    ++WakeCount_;
  }
  MainWake_.notify_all();
}

std::size_t TMainThreadPort::WaitingHandOffs() const {
  std::lock_guard lock(Lock_);
  return Pending_.size();
}

void TMainThreadPort::ReportLater(std::exception_ptr error) {
  Post([this, error = std::move(error)] { ReportException(error); });
}

}  // namespace glowstep
