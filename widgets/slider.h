// The slider: a thumb picture moved along a ruler picture to choose a whole number between
// MinValue and MaxValue, with tick points, an optional bevel and a focus rectangle.
//
// TCustomSlider holds the behaviour; TSlider publishes it as Qt properties for forms.
#pragma once

#include <QBasicTimer>
#include <QImage>
#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QWidget>

#include <array>
#include <cstdint>
#include <stdexcept>

class QPainter;

namespace glowstep {

// A rejected property value ("Value must be between %d and %d").
class ESliderError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TCustomSlider : public QWidget {
  Q_OBJECT

 public:
  enum TSliderOrientation { soHorizontal, soVertical };
  Q_ENUM(TSliderOrientation)

  enum TSliderOption {
    soShowFocus = 0x01,
    soShowPoints = 0x02,
    soSmooth = 0x04,
    soRulerOpaque = 0x08,
    soThumbOpaque = 0x10,
  };
  Q_DECLARE_FLAGS(TSliderOptions, TSliderOption)
  Q_FLAG(TSliderOptions)

  enum TBevelCut { bvNone, bvLowered, bvRaised, bvSpace };
  Q_ENUM(TBevelCut)

  enum TJumpKind { jkNone, jkToMin, jkToMax, jkNext, jkPrior };
  Q_ENUM(TJumpKind)

  // The four picture slots; bit i of UserImages stands for slot i.
  enum TImageSlot { ImageHThumbSlot, ImageHRulerSlot, ImageVThumbSlot, ImageVRulerSlot };

  explicit TCustomSlider(QWidget* parent = nullptr);
  ~TCustomSlider() override;

  int MinValue() const { return MinValue_; }
  void SetMinValue(int value);
  int MaxValue() const { return MaxValue_; }
  void SetMaxValue(int value);
  // Throws ESliderError for a value outside 1 .. MaxValue - MinValue (unless loading).
  int Increment() const { return Increment_; }
  void SetIncrement(int value);
  int Value() const { return Value_; }
  void SetValue(int value);
  void SetRange(int min, int max);

  TSliderOrientation Orientation() const { return Orientation_; }
  void SetOrientation(TSliderOrientation value);
  TSliderOptions Options() const { return Options_; }
  void SetOptions(TSliderOptions value);
  int EdgeSize() const { return EdgeSize_; }
  void SetEdgeSize(int value);
  TBevelCut BevelStyle() const { return BevelStyle_; }
  void SetBevelStyle(TBevelCut value);
  int NumThumbStates() const { return NumThumbStates_; }
  void SetNumThumbStates(int value);

  // A null pixmap puts the built-in picture back; any other is copied into the slot, which then
  // counts as a user image.
  QPixmap ImageHThumb() const { return Image(ImageHThumbSlot); }
  void SetImageHThumb(const QPixmap& value) { SetImage(ImageHThumbSlot, value.toImage()); }
  void ResetImageHThumb() { SetImage(ImageHThumbSlot, QImage()); }
  QPixmap ImageHRuler() const { return Image(ImageHRulerSlot); }
  void SetImageHRuler(const QPixmap& value) { SetImage(ImageHRulerSlot, value.toImage()); }
  void ResetImageHRuler() { SetImage(ImageHRulerSlot, QImage()); }
  QPixmap ImageVThumb() const { return Image(ImageVThumbSlot); }
  void SetImageVThumb(const QPixmap& value) { SetImage(ImageVThumbSlot, value.toImage()); }
  void ResetImageVThumb() { SetImage(ImageVThumbSlot, QImage()); }
  QPixmap ImageVRuler() const { return Image(ImageVRulerSlot); }
  void SetImageVRuler(const QPixmap& value) { SetImage(ImageVRulerSlot, value.toImage()); }
  void ResetImageVRuler() { SetImage(ImageVRulerSlot, QImage()); }
  void SetImage(TImageSlot slot, const QImage& image);

  // The slots holding a picture of the user's rather than a built-in one. A stored layout
  // writes this byte, and the images, only when it is not empty; it is read back as is.
  int UserImages() const { return UserImages_; }
  void SetUserImages(int value);
  bool IsUserImagesStored() const { return UserImages_ != 0; }
  bool IsImageStored(TImageSlot slot) const { return (UserImages_ & (1 << slot)) != 0; }

  // A stored layout is applied between BeginLoad and EndLoad: meanwhile the range and
  // increment checks are relaxed and size changes are not laid out; EndLoad re-applies the
  // user images and lays the control out for its size.
  void BeginLoad();
  void EndLoad();
  bool Loading() const { return Loading_; }

  // The layout, in client pixels: the assembled ruler, where it is drawn, the thumb's rectangle
  // and the band the tick points hang from.
  const QImage& RulerBitmap() const { return RulerBitmap_; }
  QPoint RulerOrigin() const { return RulerOrigin_; }
  QRect ThumbBounds() const { return ThumbBounds_; }
  QRect PointsBand() const { return PointsBand_; }
  bool ThumbPressed() const { return ThumbPressed_; }
  // Pixels the thumb's leading edge can travel; 0 or less when the control is too small.
  int RulerLength() const;

  // Moves the value `steps` increments (or to an end); PageUp and PageDown move a page.
  void JumpBy(TJumpKind kind, int steps = 1);
  // The increments of a page: a tenth of the range, at least one.
  int PageSteps() const;
  // Draws the tick points with a step and heights of its own; meant for an OnDrawPoints
  // handler, and does nothing outside painting.
  virtual void DrawPointsDefault(int step, int pointHeight, int extremePointHeight);
  // Paints the control as a copy of itself: the thumb where GetPaintValue puts it, pressed
  // only when disabled.
  void PaintCopy(QPainter& painter);

  QSize sizeHint() const override { return {150, 40}; }

 signals:
  void OnChange(QObject* sender);
  void OnChanged(QObject* sender);
  // While connected, replaces the default tick points; a handler may call DrawPointsDefault.
  void OnDrawPoints(QObject* sender);

 protected:
  virtual bool CanChangeValue() const { return true; }
  virtual QRect GetInnerRect() const;
  virtual int GetPaintValue() const { return Value_; }
  virtual void LayoutChanged() { RebuildLayout(); }
  virtual void AfterRangeChange() {}
  virtual void PressThumb(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
  virtual void DragThumb(Qt::MouseButtons buttons, Qt::KeyboardModifiers shift, int x, int y);
  virtual void ReleaseThumb(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
  virtual void NotifyChange() { emit OnChange(this); }
  virtual void NotifyChangeDone() { emit OnChanged(this); }

  void BuildRuler(const QRect& inner);
  void RebuildLayout();
  int OffsetForValue(int value) const;
  int ValueForOffset(int offset) const;
  QPoint SnapOffset(int offset) const;
  void MoveThumbTo(int offset);
  void InvalidateThumb();
  TJumpKind JumpDirectionAt(QPoint point) const;
  void PaintPoints(QPainter& painter, int step, int pointHeight, int extremePointHeight);

  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void changeEvent(QEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  QPixmap Image(TImageSlot slot) const { return QPixmap::fromImage(Images_[slot]); }
  const QImage& ThumbImage() const;
  int ThumbWidth() const;
  int ThumbHeight() const;
  int Origin() const;
  int Travel() const;
  std::int64_t Range() const;
  void ImageChanged();
  // Paints the control, through an off-screen buffer in the device pixels it covers.
  void Paint(QPainter& painter, bool asCopy);
  // Paints in device pixels at `ratio`: at 1 the built-in pictures' own pixels, otherwise their
  // shapes drawn at that ratio.
  void PaintDevicePixels(QPainter& painter, qreal ratio, bool asCopy);
  // A logical coordinate or rectangle in the device pixels being painted.
  int ToDevice(qreal logical) const;
  QRect ToDevice(const QRect& logical) const;
  // A logical pixel's width in device pixels, at least one.
  int LineWidth() const;
  // Where a value's thumb stands along the axis before rounding to a whole pixel.
  qreal ExactOffset(int value) const;
  // The thumb's width across the axis, in device pixels.
  int ThumbAcross() const;
  void DrawRuler(QPainter& painter) const;
  void DrawBevel(QPainter& painter, QRect& rect) const;
  void DrawFocusRect(QPainter& painter, const QRect& rect) const;
  void DrawThumb(QPainter& painter, QPoint at, bool secondState) const;
  void StepTick();
  void StopStepping();
  // The value changed: the change notification, the accessibility layer and, while the user
  // moves the thumb, the value in a tip beside it.
  void ValueChanged();
  void ShowThumbCursor(bool overThumb);
  bool CanFocus() const;
  void FocusMoved();

  int UserImages_ = 0;
  std::array<QImage, 4> Images_;
  int EdgeSize_ = 2;
  QImage RulerBitmap_;
  // The ruler's size; kept apart because an image cannot be 0 pixels long.
  QSize RulerSize_;
  // The ruler and the current thumb picture with their transparent colour cleared, made when
  // the layout is rebuilt so that painting only copies them.
  QImage RulerTransparent_;
  QImage ThumbTransparent_;
  bool BufferedPaint_ = false;
  QPoint RulerOrigin_;
  QRect ThumbBounds_;
  bool ThumbPressed_ = false;
  int NumThumbStates_ = 2;
  QRect PointsBand_;
  TSliderOrientation Orientation_ = soHorizontal;
  TSliderOptions Options_ = TSliderOptions(soShowFocus | soShowPoints | soSmooth);
  TBevelCut BevelStyle_ = bvNone;
  static constexpr int kBevelWidth = 1;
  int MinValue_ = 0;
  int MaxValue_ = 100;
  int Increment_ = 10;
  int Value_ = 0;
  int GripOffset_ = 0;
  bool HasFocus_ = false;
  bool Dragging_ = false;
  bool Stepping_ = false;
  bool Keying_ = false;  // a key press moves the value
  QBasicTimer StepTimer_;
  QPoint PointerPos_;
  TJumpKind StepDirection_ = jkNone;
  bool Creating_ = true;
  bool Loading_ = false;
  bool ThumbCursorShown_ = false;
  QPainter* PointsPainter_ = nullptr;
  // Device pixels per logical pixel of the painting under way.
  qreal PaintRatio_ = 1;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(TCustomSlider::TSliderOptions)

// The slider as forms use it: every setting is a property of the same name.
class TSlider : public TCustomSlider {
  Q_OBJECT
  Q_PROPERTY(int MinValue READ MinValue WRITE SetMinValue)
  Q_PROPERTY(int MaxValue READ MaxValue WRITE SetMaxValue)
  Q_PROPERTY(int Increment READ Increment WRITE SetIncrement)
  Q_PROPERTY(int Value READ Value WRITE SetValue USER true)
  Q_PROPERTY(TSliderOrientation Orientation READ Orientation WRITE SetOrientation)
  Q_PROPERTY(TSliderOptions Options READ Options WRITE SetOptions)
  Q_PROPERTY(int EdgeSize READ EdgeSize WRITE SetEdgeSize)
  Q_PROPERTY(TBevelCut BevelStyle READ BevelStyle WRITE SetBevelStyle)
  Q_PROPERTY(int NumThumbStates READ NumThumbStates WRITE SetNumThumbStates)
  Q_PROPERTY(int UserImages READ UserImages WRITE SetUserImages DESIGNABLE false)
  Q_PROPERTY(QPixmap ImageHThumb READ ImageHThumb WRITE SetImageHThumb RESET ResetImageHThumb)
  Q_PROPERTY(QPixmap ImageHRuler READ ImageHRuler WRITE SetImageHRuler RESET ResetImageHRuler)
  Q_PROPERTY(QPixmap ImageVThumb READ ImageVThumb WRITE SetImageVThumb RESET ResetImageVThumb)
  Q_PROPERTY(QPixmap ImageVRuler READ ImageVRuler WRITE SetImageVRuler RESET ResetImageVRuler)

 public:
  explicit TSlider(QWidget* parent = nullptr) : TCustomSlider(parent) {}
};

}  // namespace glowstep
