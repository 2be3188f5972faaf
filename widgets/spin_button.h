// The small two-half spin button shown at the right edge of a numeric field, and the shared,
// pre-drawn images it paints from.
#pragma once

#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <QWidget>

#include <array>
#include <memory>
#include <string>
#include <vector>

class QTimer;

namespace glowstep {

class TSpinButtonBitmaps;
class TSpinButtonBitmapsManager;

// The looks a spin button can have; each is one pre-drawn image.
enum TSpinButtonImage {
  siReleased,
  siTopPressed,
  siBottomPressed,
  siDisabled,
  siTopHot,
  siBottomHot,
  siImageCount
};

// A windowless two-half button: the top half asks for a step up, the bottom half for a step
// down, and a held half repeats its request.
class TSpinButton : public QWidget {
  Q_OBJECT
  Q_PROPERTY(TSpinButtonStyle ButtonStyle READ ButtonStyle WRITE SetButtonStyle)
  Q_PROPERTY(QPixmap UpGlyph READ UpGlyph WRITE SetUpGlyph)
  Q_PROPERTY(QPixmap DownGlyph READ DownGlyph WRITE SetDownGlyph)
  Q_PROPERTY(int InitRepeatPause READ InitRepeatPause WRITE SetInitRepeatPause)
  Q_PROPERTY(int RepeatPause READ RepeatPause WRITE SetRepeatPause)

 public:
  // How the button is split into its top (step up) and bottom (step down) half.
  enum TSpinButtonStyle {
    sbsDefault,  // along the diagonal from the bottom-left to the top-right corner
    sbsClassic,  // across the middle
  };
  Q_ENUM(TSpinButtonStyle)

  enum class THalf { None, Top, Bottom };

  explicit TSpinButton(QWidget* parent = nullptr);
  ~TSpinButton() override;

  TSpinButtonStyle ButtonStyle() const { return ButtonStyle_; }
  void SetButtonStyle(TSpinButtonStyle style);

  QPixmap UpGlyph() const { return UpGlyph_; }
  void SetUpGlyph(const QPixmap& glyph);
  QPixmap DownGlyph() const { return DownGlyph_; }
  void SetDownGlyph(const QPixmap& glyph);

  // The control that takes the focus when the button is pressed; cleared when it is destroyed.
  QWidget* FocusControl() const { return FocusControl_; }
  void SetFocusControl(QWidget* control) { FocusControl_ = control; }

  int InitRepeatPause() const { return InitRepeatPause_; }
  void SetInitRepeatPause(int ms) { InitRepeatPause_ = ms; }
  int RepeatPause() const { return RepeatPause_; }
  void SetRepeatPause(int ms) { RepeatPause_ = ms; }

  // Whether a point lies in the bottom half; points on the dividing line belong to the top.
  bool InBottomHalf(int x, int y) const;

  THalf PressedHalf() const { return PressedHalf_; }
  bool HotTop() const { return HotTop_; }
  bool HotBottom() const { return HotBottom_; }

  // Whether the images follow the widget style's own look ("visual styles"): every style but
  // the classic "windows" one draws its own push buttons and spin boxes.
  bool VisualStyles() const;

  // The image set in use (none until the first paint) and the image the current state shows.
  const TSpinButtonBitmaps* Bitmaps() const { return Bitmaps_; }
  TSpinButtonImage CurrentImage() const;

  QSize sizeHint() const override { return {20, 20}; }

 signals:
  void OnTopClick(QObject* sender);
  void OnBottomClick(QObject* sender);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void changeEvent(QEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void Click();
  void RepeatTick();
  // Ends a press that no release will end: nothing stays pressed and nothing repeats.
  void EndPress();
  void SetPressedHalf(THalf half);
  void FetchBitmaps();
  void ReleaseBitmaps();
  void GlyphsChanged();
  void DrawOwnGlyphs(QPainter& painter, TSpinButtonImage image) const;
  bool Inside(QPoint point) const;
  void SetHot(bool top, bool bottom);

  TSpinButtonStyle ButtonStyle_ = TSpinButtonStyle::sbsDefault;
  QPixmap UpGlyph_;
  QPixmap DownGlyph_;
  QPointer<QWidget> FocusControl_;
  int InitRepeatPause_ = 400;
  int RepeatPause_ = 100;
  THalf PressedHalf_ = THalf::None;
  THalf LastPressedHalf_ = THalf::None;
  bool Dragging_ = false;
  bool MouseHeld_ = false;  // the left button went down here and has not come up yet
  bool HotTop_ = false;
  bool HotBottom_ = false;
  QTimer* RepeatTimer_ = nullptr;
  TSpinButtonBitmaps* Bitmaps_ = nullptr;
};

using TSpinButtonStyle = TSpinButton::TSpinButtonStyle;

// The six looks of a spin button of one size and style, drawn once and shared by every button
// with the same key. Owned by the manager; buttons hold it through Acquire/Release.
class TSpinButtonBitmaps {
 public:
  struct TKey {
    int Width = 0;
    int Height = 0;
    TSpinButtonStyle Style = TSpinButton::sbsDefault;
    bool CustomGlyphs = false;
    // The widget style the images are drawn in ("fusion", "windows", ...).
    std::string Look;
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

  // Whether the images were drawn with the widget style's own look.
  bool Themed() const { return Themed_; }
  bool ResetOnDraw() const { return ResetOnDraw_; }
  void SetResetOnDraw(bool reset) { ResetOnDraw_ = reset; }
  int RefCount() const { return RefCount_; }

  const QImage& Image(TSpinButtonImage which) const { return Images_[which]; }

  // (Re)draws all six images in the palette and style of `widget`; themed or classic.
  void Draw(const QWidget& widget, bool themed);
  const std::string& Look() const { return Key_.Look; }

  void Acquire() { ++RefCount_; }
  // Drops one reference; the last one removes the set from the manager, which destroys it.
  void Release();

 private:
  void DrawClassic(const QPalette& palette);
  void DrawThemed(const QWidget& widget);

  TSpinButtonBitmapsManager& Manager_;
  TKey Key_;
  std::array<QImage, siImageCount> Images_;
  bool Themed_ = false;
  bool ResetOnDraw_ = false;
  int RefCount_ = 0;
};

// The process-wide cache of image sets, sorted by key. It lives while at least one spin button
// exists. Not thread-safe: GUI thread only.
class TSpinButtonBitmapsManager {
 public:
  // The manager while some spin button exists, otherwise none.
  static TSpinButtonBitmapsManager* Instance();

  static void RegisterClient();
  static void UnregisterClient();

  // The set with this key, made and drawn in `widget`'s look when none exists yet. The caller
  // acquires it.
  TSpinButtonBitmaps& Find(const TSpinButtonBitmaps::TKey& key, const QWidget& widget, bool themed);

  int ClientCount() const { return Clients_; }
  std::size_t SetCount() const { return Sets_.size(); }

 private:
  friend class TSpinButtonBitmaps;
  void Remove(const TSpinButtonBitmaps* set);

  std::vector<std::unique_ptr<TSpinButtonBitmaps>> Sets_;  // ascending by key
  int Clients_ = 0;
};

// The built-in glyphs ("SpinUP", "SpinDOWN", "SpinUPPOLE", "SpinDOWNPOLE"), loaded once from
// the program's resources: black pixels are the glyph, white ones are transparent.
const QImage& SpinGlyph(const char* name);

}  // namespace glowstep
