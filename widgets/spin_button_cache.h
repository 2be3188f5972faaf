// The spin buttons' shared images: every button of one size, look and device pixel ratio paints
// from one set of the six pre-drawn looks, kept in a process-wide cache while some button holds
// it.
#pragma once

#include <QImage>

#include <memory>
#include <string>
#include <vector>

#include "widgets/spin_button.h"
#include "widgets/spin_button_raster.h"

class QWidget;

namespace glowstep {

class TSpinButtonBitmapsManager;

// The six looks of a spin button of one size and style, drawn once and shared by every button
// with the same key. Owned by the manager; buttons hold it through a TSpinButtonBitmapsHold.
class TSpinButtonBitmaps {
 public:
  struct TKey {
    // The size in device pixels.
    int Width = 0;
    int Height = 0;
    TSpinButtonStyle Style = TSpinButton::sbsDefault;
    bool CustomGlyphs = false;
    // The widget style the images are drawn in ("fusion", "windows", ...).
    std::string Look;
    // Device pixels per logical pixel, in thousandths.
    int RatioPerMille = 1000;
    // The comparison the compiler writes compares with a literal 0, which the lint takes for a
    // null pointer.
    auto operator<=>(const TKey&) const = default;  // NOLINT(modernize-use-nullptr)
  };

  TSpinButtonBitmaps(TSpinButtonBitmapsManager& manager, const TKey& key);
  TSpinButtonBitmaps(const TSpinButtonBitmaps&) = delete;
  TSpinButtonBitmaps& operator=(const TSpinButtonBitmaps&) = delete;

  const TKey& Key() const { return Key_; }
  int Width() const { return Key_.Width; }
  int Height() const { return Key_.Height; }
  TSpinButtonStyle Style() const { return Key_.Style; }
  bool CustomGlyphs() const { return Key_.CustomGlyphs; }
  const std::string& Look() const { return Key_.Look; }
  qreal Ratio() const { return Key_.RatioPerMille / 1000.0; }

  // Whether the images were drawn with the widget style's own look.
  bool Themed() const { return Themed_; }
  bool ResetOnDraw() const { return ResetOnDraw_; }
  void SetResetOnDraw(bool reset) { ResetOnDraw_ = reset; }
  int RefCount() const { return RefCount_; }

  // An image of the key's size in device pixels.
  const QImage& Image(TSpinButtonImage which) const { return Images_[which]; }

  // (Re)draws all six images in the palette and style of `widget`; themed or classic.
  void Draw(const QWidget& widget, bool themed);

 private:
  friend class TSpinButtonBitmapsHold;
  void Acquire() { ++RefCount_; }
  // Drops one reference; the last one removes the set from the manager, which destroys it.
  void Release();

  TSpinButtonBitmapsManager& Manager_;
  TKey Key_;
  TSpinButtonImages Images_;
  bool Themed_ = false;
  bool ResetOnDraw_ = false;
  int RefCount_ = 0;
};

// A button's hold on one image set: one reference for as long as it holds it.
class TSpinButtonBitmapsHold {
 public:
  TSpinButtonBitmapsHold() = default;
  ~TSpinButtonBitmapsHold() { Reset(); }
  TSpinButtonBitmapsHold(const TSpinButtonBitmapsHold&) = delete;
  TSpinButtonBitmapsHold& operator=(const TSpinButtonBitmapsHold&) = delete;

  TSpinButtonBitmaps* Get() const { return Set_; }
  // Lets go of the set held, if any, and holds `set` instead.
  void Reset(TSpinButtonBitmaps* set = nullptr);

 private:
  TSpinButtonBitmaps* Set_ = nullptr;
};

// The process-wide cache of image sets, sorted by key. It lives while at least one spin button
// exists. Not thread-safe: GUI thread only.
class TSpinButtonBitmapsManager {
 public:
  // The manager while some spin button exists, otherwise none.
  static TSpinButtonBitmapsManager* Instance();

  static void RegisterClient();
  static void UnregisterClient();

  // The set with this key, made and drawn in `widget`'s look when none exists yet.
  TSpinButtonBitmaps& Find(const TSpinButtonBitmaps::TKey& key, const QWidget& widget, bool themed);

  int ClientCount() const { return Clients_; }
  std::size_t SetCount() const { return Sets_.size(); }

 private:
  friend class TSpinButtonBitmaps;
  void Remove(const TSpinButtonBitmaps* set);

  std::vector<std::unique_ptr<TSpinButtonBitmaps>> Sets_;  // ascending by key
  int Clients_ = 0;
};

}  // namespace glowstep
