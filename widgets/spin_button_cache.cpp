#include "widgets/spin_button_cache.h"

#include <algorithm>

namespace glowstep {
namespace {

std::unique_ptr<TSpinButtonBitmapsManager>& ManagerSlot() {
  static std::unique_ptr<TSpinButtonBitmapsManager> manager;
  return manager;
}

int ManagerClients = 0;

}  // namespace

// --- TSpinButtonBitmaps -----------------------------------------------------------------------

TSpinButtonBitmaps::TSpinButtonBitmaps(TSpinButtonBitmapsManager& manager, const TKey& key)
    : Manager_(manager), Key_(key) {}

void TSpinButtonBitmaps::Release() {
  if (--RefCount_ <= 0) Manager_.Remove(this);  // destroys this set
}

void TSpinButtonBitmaps::Draw(const QWidget& widget, bool themed) {
  Themed_ = themed;
  ResetOnDraw_ = false;
  const TSpinButtonShape shape{
      {Key_.Width, Key_.Height}, Ratio(), Key_.Style == TSpinButton::sbsClassic, Key_.CustomGlyphs};
  DrawSpinButtonImages(Images_, shape, widget, themed);
}

// --- TSpinButtonBitmapsHold -------------------------------------------------------------------

void TSpinButtonBitmapsHold::Reset(TSpinButtonBitmaps* set) {
  if (set) set->Acquire();
  TSpinButtonBitmaps* held = Set_;
  Set_ = set;
  if (held) held->Release();
}

// --- TSpinButtonBitmapsManager ----------------------------------------------------------------

TSpinButtonBitmapsManager* TSpinButtonBitmapsManager::Instance() { return ManagerSlot().get(); }

void TSpinButtonBitmapsManager::RegisterClient() {
  if (!ManagerSlot()) ManagerSlot() = std::make_unique<TSpinButtonBitmapsManager>();
  ManagerSlot()->Clients_ = ++ManagerClients;
}

void TSpinButtonBitmapsManager::UnregisterClient() {
  if (!ManagerSlot()) return;
  ManagerSlot()->Clients_ = --ManagerClients;
  if (ManagerClients <= 0) {
    ManagerClients = 0;
    ManagerSlot().reset();  // frees any sets still listed
  }
}

TSpinButtonBitmaps& TSpinButtonBitmapsManager::Find(const TSpinButtonBitmaps::TKey& key,
                                                    const QWidget& widget,
                                                    bool themed) {
  auto it = std::lower_bound(Sets_.begin(), Sets_.end(), key,
                             [](const auto& set, const auto& k) { return set->Key() < k; });
  if (it != Sets_.end() && (*it)->Key() == key) return **it;
  auto set = std::make_unique<TSpinButtonBitmaps>(*this, key);
  set->Draw(widget, themed);
  return **Sets_.insert(it, std::move(set));
}

void TSpinButtonBitmapsManager::Remove(const TSpinButtonBitmaps* set) {
  std::erase_if(Sets_, [set](const auto& held) { return held.get() == set; });
}

}  // namespace glowstep
