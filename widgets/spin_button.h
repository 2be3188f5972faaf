// The small two-half spin button shown at the right edge of a numeric field, and the shared,
// pre-drawn images it paints from.
#pragma once

#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <QWidget>

#include <array>
#include <memory>
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

  TSpinButtonStyle ButtonStyle() const { return buttonStyle_; }
  void SetButtonStyle(TSpinButtonStyle style);

  QPixmap UpGlyph() const { return upGlyph_; }
  void SetUpGlyph(const QPixmap& glyph);
  QPixmap DownGlyph() const { return downGlyph_; }
  void SetDownGlyph(const QPixmap& glyph);

  // The control that takes the focus when the button is pressed; cleared when it is destroyed.
  QWidget* FocusControl() const { return focusControl_; }
  void SetFocusControl(QWidget* control) { focusControl_ = control; }

  int InitRepeatPause() const { return initRepeatPause_; }
  void SetInitRepeatPause(int ms) { initRepeatPause_ = ms; }
  int RepeatPause() const { return repeatPause_; }
  void SetRepeatPause(int ms) { repeatPause_ = ms; }

  // Whether a point lies in the bottom half; points on the dividing line belong to the top.
  bool InBottomHalf(int x, int y) const;

  THalf PressedHalf() const { return pressedHalf_; }
  bool HotTop() const { return hotTop_; }
  bool HotBottom() const { return hotBottom_; }

  // Whether the images follow the widget style's own look ("visual styles"): every style but
  // the classic "windows" one draws its own push buttons and spin boxes.
  bool VisualStyles() const;

  // The image set in use (none until the first paint) and the image the current state shows.
  const TSpinButtonBitmaps* Bitmaps() const { return bitmaps_; }
  TSpinButtonImage CurrentImage() const;

  QSize sizeHint() const override { return {20, 20}; }

 Q_SIGNALS:
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

 private:
  void Click();
  void RepeatTick();
  void SetPressedHalf(THalf half);
  void FetchBitmaps();
  void ReleaseBitmaps();
  void GlyphsChanged();
  void DrawOwnGlyphs(QPainter& painter, TSpinButtonImage image) const;
  bool Inside(QPoint point) const;
  void SetHot(bool top, bool bottom);

  TSpinButtonStyle buttonStyle_ = TSpinButtonStyle::sbsDefault;
  QPixmap upGlyph_;
  QPixmap downGlyph_;
  QPointer<QWidget> focusControl_;
  int initRepeatPause_ = 400;
  int repeatPause_ = 100;
  THalf pressedHalf_ = THalf::None;
  THalf lastPressedHalf_ = THalf::None;
  bool dragging_ = false;
  bool mouseHeld_ = false;  // the left button went down here and has not come up yet
  bool hotTop_ = false;
  bool hotBottom_ = false;
  QTimer* repeatTimer_ = nullptr;
  TSpinButtonBitmaps* bitmaps_ = nullptr;
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
    auto operator<=>(const TKey&) const = default;
  };

  TSpinButtonBitmaps(TSpinButtonBitmapsManager& manager, const TKey& key);
  TSpinButtonBitmaps(const TSpinButtonBitmaps&) = delete;
  TSpinButtonBitmaps& operator=(const TSpinButtonBitmaps&) = delete;

  const TKey& Key() const { return key_; }
  int Width() const { return key_.Width; }
  int Height() const { return key_.Height; }
  TSpinButtonStyle Style() const { return key_.Style; }
  bool CustomGlyphs() const { return key_.CustomGlyphs; }

  // Whether the images were drawn with the widget style's own look.
  bool Themed() const { return themed_; }
  bool ResetOnDraw() const { return resetOnDraw_; }
  void SetResetOnDraw(bool reset) { resetOnDraw_ = reset; }
  int RefCount() const { return refCount_; }

  const QImage& Image(TSpinButtonImage which) const { return images_[which]; }

  // (Re)draws all six images in the palette and style of `widget`; themed or classic.
  void Draw(const QWidget& widget, bool themed);

  void Acquire() { ++refCount_; }
  // Drops one reference; the last one removes the set from the manager, which destroys it.
  void Release();

 private:
  void DrawClassic(const QPalette& palette);
  void DrawThemed(const QWidget& widget);

  TSpinButtonBitmapsManager& manager_;
  TKey key_;
  std::array<QImage, siImageCount> images_;
  bool themed_ = false;
  bool resetOnDraw_ = false;
  int refCount_ = 0;
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

  int ClientCount() const { return clients_; }
  std::size_t SetCount() const { return sets_.size(); }

 private:
  friend class TSpinButtonBitmaps;
  void Remove(const TSpinButtonBitmaps* set);

  std::vector<std::unique_ptr<TSpinButtonBitmaps>> sets_;  // ascending by key
  int clients_ = 0;
};

// The built-in glyphs ("SpinUP", "SpinDOWN", "SpinUPPOLE", "SpinDOWNPOLE"), loaded once from
// the program's resources: black pixels are the glyph, white ones are transparent.
const QImage& SpinGlyph(const char* name);

}  // namespace glowstep
