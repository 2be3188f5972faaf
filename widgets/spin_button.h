// The small two-half spin button shown at the right edge of a numeric field. It paints from the
// shared, pre-drawn images of its size and look (widgets/spin_button_cache.h), drawn by the
// rasteriser in widgets/spin_button_raster.h.
#pragma once

#include <QPixmap>
#include <QPointer>
#include <QWidget>

#include <memory>

#include "widgets/spin_button_raster.h"

class QTimer;

namespace glowstep {

class TSpinButtonBitmaps;
class TSpinButtonBitmapsHold;

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
  const TSpinButtonBitmaps* Bitmaps() const;
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
  // Takes the image set for the button's size in device pixels at `ratio`.
  void FetchBitmaps(QSize deviceSize, qreal ratio);
  void ReleaseBitmaps();
  void GlyphsChanged();
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
  std::unique_ptr<TSpinButtonBitmapsHold> Bitmaps_;
};

using TSpinButtonStyle = TSpinButton::TSpinButtonStyle;

}  // namespace glowstep
