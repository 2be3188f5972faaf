#include "widgets/form_loading.h"

namespace glowstep {

namespace {
// The innermost scope of this thread: forms are built on the GUI thread, one at a time.
thread_local TFormLoading* gCurrent = nullptr;
}  // namespace

TFormLoading::TFormLoading() : Outer_(gCurrent) { gCurrent = this; }

TFormLoading::~TFormLoading() {
  gCurrent = Outer_;
  for (auto& entry : Entries_) {
    if (entry.Control) entry.Loaded();
  }
}

bool TFormLoading::Enlist(QObject* control, std::function<void()> loaded) {
  if (gCurrent == nullptr) return false;
  gCurrent->Entries_.push_back({control, std::move(loaded)});
  return true;
}

}  // namespace glowstep
