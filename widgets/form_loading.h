// Loading controls from a form.
//
// A form sets each control's stored properties one after another, in their stored order, and
// some controls apply different rules while that happens (a spin edit's bound setters, a
// slider's range checks). While a TFormLoading lives, every control built on the main thread
// enlists as being loaded; when the scope ends, each one still alive is told that loading
// ended, in the order they were built.
#pragma once

#include <QPointer>

#include <functional>
#include <vector>

namespace glowstep {

class TFormLoading {
 public:
  TFormLoading();
  TFormLoading(const TFormLoading&) = delete;
  TFormLoading& operator=(const TFormLoading&) = delete;
  ~TFormLoading();

  // Called by a control's constructor: true when a form is being loaded, and then `loaded` runs
  // when loading ends (unless the control is gone by then).
  static bool Enlist(QObject* control, std::function<void()> loaded);

 private:
  struct TEntry {
    QPointer<QObject> Control;
    std::function<void()> Loaded;
  };
  std::vector<TEntry> Entries_;
  TFormLoading* Outer_ = nullptr;
};

}  // namespace glowstep
