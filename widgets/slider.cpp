#include "widgets/slider.h"

#include "base/numbers.h"
#include "base/scope_guard.h"
#include "widgets/builtin_bitmaps.h"
#include "widgets/device_pixels.h"
#include "widgets/form_loading.h"

#include <QAccessible>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMetaMethod>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include <algorithm>
#include <cmath>
#include <limits>

namespace glowstep {
namespace {

// kMargin between the inner rectangle and the ruler and thumb, on both axes.
constexpr int kMargin = 6;
// How far above and below (or left and right of) the ruler a press still starts stepping.
constexpr int kRulerHotZone = 3;
constexpr int kStepPauseMs = 400;
// Tick points are widened until they are at least this many pixels apart.
constexpr int kMinPointSpacing = 4;

constexpr std::array<const char*, 4> kBuiltinNames = {"W95HTB", "W95HRL", "W95VTB", "W95VRL"};
// The built-in pictures' transparent colour, and their shapes as drawn at other scales: the
// thumb is 9 pixels across and 17 long, the ruler's groove 4 pixels across from the third of
// its 8.
const QColor kBuiltinTransparent(255, 0, 255);
constexpr int kThumbAcross = 9;
constexpr int kThumbLength = 17;
constexpr int kGrooveOffset = 2;
constexpr int kGrooveWidth = 4;

// Windows-style exclusive right and bottom edges.
int RightOf(const QRect& r) { return r.x() + r.width(); }
int BottomOf(const QRect& r) { return r.y() + r.height(); }

int ToInt(std::int64_t value) {
  return static_cast<int>(std::clamp<std::int64_t>(value, std::numeric_limits<int>::min(),
                                                   std::numeric_limits<int>::max()));
}

QImage ToWorkingFormat(const QImage& image) {
  return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// A copy in which every pixel of the transparent colour - the bottom-left pixel's - is clear.
QImage WithoutTransparentColour(const QImage& image) {
  if (image.isNull()) return image;
  QImage keyed = ToWorkingFormat(image);
  const QRgb key = keyed.pixel(0, keyed.height() - 1);
  for (int y = 0; y < keyed.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(keyed.scanLine(y));
    std::replace(line, line + keyed.width(), key, QRgb{0});
  }
  return keyed;
}

// The built-in thumb in device pixels: a pointer `across` pixels wide (an odd number, so that
// its point is one pixel) and `length` long, its edges `n` pixels wide: white on the left and
// along the top, dark grey inside black on the right, light grey within, dithered with white in
// the second state. Turned to point right (`vertical`), it stands `n` pixels in from the left,
// as the built-in vertical thumb does. At n = 1 these are the built-in pictures' pixels.
void DrawThumbShape(QPainter& painter,
                    QPoint at,
                    int across,
                    int length,
                    int n,
                    bool secondState,
                    bool vertical) {
  const QColor black(0, 0, 0), white(255, 255, 255), grey(128, 128, 128), light(192, 192, 192);
  const auto span = [&](int y, int x0, int x1, const QColor& colour) {
    if (x1 <= x0) return;
    if (vertical) {
      painter.fillRect(QRect(at.x() + n + y, at.y() + across - x1, 1, x1 - x0), colour);
    } else {
      painter.fillRect(QRect(at.x() + x0, at.y() + y, x1 - x0, 1), colour);
    }
  };
  const int tipRows = (across - 1) / 2;
  const int body = length - tipRows;
  for (int y = 0; y < length; ++y) {
    // Each row of the point is a pixel narrower on both sides than the one above.
    const int inset = y < body ? 0 : y - body + 1;
    const int left = inset, right = across - inset;
    span(y, left, right, black);
    span(y, left, right - n, white);
    if (y < n) continue;
    span(y, left + n, right - n, grey);
    const int fillLeft = left + n, fillRight = right - 2 * n;
    if (!secondState || y < 2 * n) {
      span(y, fillLeft, fillRight, light);
      continue;
    }
    for (int x = fillLeft; x < fillRight; ++x) {
      span(y, x, x + 1, (x / n + y / n) % 2 == 0 ? white : light);
    }
  }
}

}  // namespace

TCustomSlider::TCustomSlider(QWidget* parent) : QWidget(parent) {
  // Built by a form: its stored properties follow, then the form says loading ended.
  if (TFormLoading::Enlist(this, [this] { EndLoad(); })) BeginLoad();
  // Tab focus only: a left press focuses the slider itself, while Qt would focus it on a press
  // of any button.
  setFocusPolicy(Qt::TabFocus);
  // Every pixel is painted from the off-screen buffer; the background is part of it.
  setAttribute(Qt::WA_OpaquePaintEvent);
  // Pointer moves without a button are needed for the cursor over the thumb.
  setMouseTracking(true);
  resize(150, 40);
  for (TImageSlot slot : {ImageHThumbSlot, ImageHRulerSlot, ImageVThumbSlot, ImageVRulerSlot}) {
    SetImage(slot, QImage());
  }
  Creating_ = false;
  RebuildLayout();
}

TCustomSlider::~TCustomSlider() {
  disconnect(this, &TCustomSlider::OnChange, nullptr, nullptr);
  disconnect(this, &TCustomSlider::OnChanged, nullptr, nullptr);
  disconnect(this, &TCustomSlider::OnDrawPoints, nullptr, nullptr);
  ShowThumbCursor(false);
}

// --- Properties -----------------------------------------------------------------------------

void TCustomSlider::SetMinValue(int value) {
  if (value != MinValue_) SetRange(value, MaxValue_);
}

void TCustomSlider::SetMaxValue(int value) {
  if (value != MaxValue_) SetRange(MinValue_, value);
}

void TCustomSlider::SetRange(int min, int max) {
  if (!(max > min || Loading_)) return;
  MinValue_ = min;
  MaxValue_ = max;
  // The sum is taken in 64 bits: min + Increment may not fit an int.
  if (!Loading_ && std::int64_t{max} < std::int64_t{min} + Increment_) {
    Increment_ = max - min;
  }
  if (Options_ & soShowPoints) update();
  SetValue(Value_);
  AfterRangeChange();
}

void TCustomSlider::SetIncrement(int value) {
  if (!Loading_ && (value < 1 || value > Range())) {
    throw ESliderError(tr("Value must be between %1 and %2").arg(1).arg(Range()).toStdString());
  }
  if (value <= 0 || value == Increment_) return;
  Increment_ = value;
  SetValue(Value_);
  update();
}

void TCustomSlider::SetValue(int value) {
  int clamped = value;
  if (clamped > MaxValue_) clamped = MaxValue_;
  if (clamped < MinValue_) clamped = MinValue_;
  const int previous = Value_;
  Value_ = clamped;
  MoveThumbTo(OffsetForValue(clamped));
  if (clamped != previous) ValueChanged();
}

void TCustomSlider::SetOrientation(TSliderOrientation value) {
  if (value == Orientation_) return;
  Orientation_ = value;
  LayoutChanged();
  if (!Loading_) resize(height(), width());
}

void TCustomSlider::SetOptions(TSliderOptions value) {
  if (value == Options_) return;
  Options_ = value;
  update();
}

void TCustomSlider::SetEdgeSize(int value) {
  const int rulerLength = Orientation_ == soHorizontal ? Images_[ImageHRulerSlot].width()
                                                       : Images_[ImageVRulerSlot].height();
  // A negative edge would read outside the ruler picture; it is refused like a too large one.
  if (value < 0 || 2 * std::int64_t{value} >= rulerLength || value == EdgeSize_) return;
  EdgeSize_ = value;
  LayoutChanged();
}

void TCustomSlider::SetBevelStyle(TBevelCut value) {
  if (value == BevelStyle_) return;
  BevelStyle_ = value;
  // Child widgets are laid out inside the bevel.
  const int margin = value == bvNone ? 0 : kBevelWidth;
  setContentsMargins(margin, margin, margin, margin);
  LayoutChanged();
}

void TCustomSlider::SetNumThumbStates(int value) {
  // The thumb picture's width is divided by this number: only 1 and 2 make sense.
  if (value < 1 || value > 2 || value == NumThumbStates_) return;
  NumThumbStates_ = value;
  RebuildLayout();
}

void TCustomSlider::SetImage(TImageSlot slot, const QImage& image) {
  const int bit = 1 << slot;
  if (!image.isNull()) {
    Images_[slot] = ToWorkingFormat(image);
    UserImages_ |= bit;
    ImageChanged();
    return;
  }
  Images_[slot] = ToWorkingFormat(LoadBuiltinBitmap(kBuiltinNames[slot]));
  UserImages_ &= ~bit;
  ImageChanged();
  if (!Loading_) {
    const bool thumb = slot == ImageHThumbSlot || slot == ImageVThumbSlot;
    Options_ &= ~TSliderOptions(thumb ? soThumbOpaque : soRulerOpaque);
    update();
  }
}

void TCustomSlider::SetUserImages(int value) { UserImages_ = value & 0xFF; }

void TCustomSlider::ImageChanged() {
  if (!Creating_) LayoutChanged();
}

void TCustomSlider::BeginLoad() { Loading_ = true; }

void TCustomSlider::EndLoad() {
  Loading_ = false;
  for (TImageSlot slot : {ImageHThumbSlot, ImageHRulerSlot, ImageVThumbSlot, ImageVRulerSlot}) {
    if (IsImageStored(slot)) SetImage(slot, QImage(Images_[slot]));
  }
  // Size changes were not laid out while loading.
  LayoutChanged();
}

// --- Geometry -------------------------------------------------------------------------------

QRect TCustomSlider::GetInnerRect() const {
  QRect inner = rect();
  if (BevelStyle_ != bvNone) inner.adjust(kBevelWidth, kBevelWidth, -kBevelWidth, -kBevelWidth);
  return inner;
}

const QImage& TCustomSlider::ThumbImage() const {
  return Images_[Orientation_ == soHorizontal ? ImageHThumbSlot : ImageVThumbSlot];
}

int TCustomSlider::ThumbWidth() const { return ThumbImage().width() / NumThumbStates_; }

int TCustomSlider::ThumbHeight() const { return ThumbImage().height(); }

int TCustomSlider::RulerLength() const {
  if (Orientation_ == soHorizontal) {
    return RulerSize_.width() - Images_[ImageHThumbSlot].width() / NumThumbStates_;
  }
  return RulerSize_.height() - Images_[ImageVThumbSlot].height();
}

// The travel the value mappings use: a control too small for its thumb has none, and all
// values then sit at the ruler's start.
int TCustomSlider::Travel() const { return std::max(RulerLength(), 0); }

int TCustomSlider::Origin() const {
  const QRect inner = GetInnerRect();
  return (Orientation_ == soHorizontal ? inner.left() : inner.top()) + kMargin;
}

std::int64_t TCustomSlider::Range() const {
  return std::int64_t{MaxValue_} - std::int64_t{MinValue_};
}

void TCustomSlider::BuildRuler(const QRect& inner) {
  const bool horizontal = Orientation_ == soHorizontal;
  const QImage& source = Images_[horizontal ? ImageHRulerSlot : ImageVRulerSlot];
  // A vertical control lower than the margins gets an empty ruler, as a narrow horizontal one.
  const int axis = std::max((horizontal ? inner.width() : inner.height()) - 2 * kMargin, 0);
  const int sourceLength = horizontal ? source.width() : source.height();
  const int cross = horizontal ? source.height() : source.width();
  // EdgeSize was checked against the ruler picture it was set with; a smaller picture given
  // later must still leave a middle part of at least one pixel to repeat.
  const int edge = std::clamp(EdgeSize_, 0, std::max((sourceLength - 1) / 2, 0));
  const int middle = sourceLength - 2 * edge;

  RulerSize_ = horizontal ? QSize(axis, cross) : QSize(cross, axis);
  RulerBitmap_ = QImage(RulerSize_, QImage::Format_ARGB32_Premultiplied);
  if (RulerBitmap_.isNull() || middle <= 0) return;
  RulerBitmap_.fill(Qt::transparent);

  const int rest = axis - 2 * edge;
  const int tiles = rest / middle + 1;
  const int remainder = rest % middle;
  QPainter painter(&RulerBitmap_);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  for (int i = 0; i < tiles; ++i) {
    int to = 0, length = sourceLength - edge, from = 0;
    if (i > 0) {
      to = edge + i * middle;
      const bool last = i == tiles - 1;
      length = last ? edge + remainder : middle;
      from = last ? edge + middle - remainder : edge;
    }
    if (length <= 0) continue;
    if (horizontal) {
      painter.drawImage(QRect(to, 0, length, cross), source, QRect(from, 0, length, cross));
    } else {
      painter.drawImage(QRect(0, to, cross, length), source, QRect(0, from, cross, length));
    }
  }
}

void TCustomSlider::RebuildLayout() {
  const int value = Value_;
  const QRect inner = GetInnerRect();
  BuildRuler(inner);
  const int left = inner.left() + kMargin;
  const int top = inner.top() + kMargin;
  const int tw = ThumbWidth();
  const int th = ThumbHeight();
  const int rw = RulerSize_.width();
  const int rh = RulerSize_.height();
  if (Orientation_ == soHorizontal) {
    if (th > rh) {
      ThumbBounds_ = QRect(left, top, tw, th);
      RulerOrigin_ = QPoint(left, top + (th - rh) / 2);
    } else {
      ThumbBounds_ = QRect(left, top + (rh - th) / 2, tw, th);
      RulerOrigin_ = QPoint(left, top);
    }
    const int bandTop = inner.top() + kMargin + 1 + std::max(th, rh);
    const int bandBottom = BottomOf(inner) - inner.top() - 1;
    PointsBand_ = QRect(RulerOrigin_.x(), bandTop, rw, bandBottom - bandTop);
  } else {
    if (tw > rw) {
      ThumbBounds_ = QRect(left, top, tw, th);
      RulerOrigin_ = QPoint(left + (tw - rw) / 2, top);
    } else {
      ThumbBounds_ = QRect(left + (rw - tw) / 2, top, tw, th);
      RulerOrigin_ = QPoint(left, top);
    }
    const int bandLeft = inner.left() + kMargin + 1 + std::max(tw, rw);
    const int bandRight = RightOf(inner) - inner.left() - 1;
    PointsBand_ = QRect(bandLeft, RulerOrigin_.y(), bandRight - bandLeft, rh);
  }
  RulerTransparent_ = WithoutTransparentColour(RulerBitmap_);
  ThumbTransparent_ = WithoutTransparentColour(ThumbImage());
  SetValue(value);
  update();
}

int TCustomSlider::OffsetForValue(int value) const {
  // A range of zero or less only comes from a stored layout; it puts every value at the start.
  const std::int64_t range = Range();
  const Extended fraction =
      range > 0 ? (static_cast<Extended>(value) - MinValue_) / static_cast<Extended>(range) : 0;
  std::int64_t offset = RoundHalfEven(Travel() * fraction) + Origin();
  if (Orientation_ == soVertical) {
    // MaxValue at the top, MinValue at the bottom.
    const QRect inner = GetInnerRect();
    offset = inner.top() + BottomOf(inner) - offset - Images_[ImageVThumbSlot].height();
  }
  return ToInt(std::max<std::int64_t>(offset, Origin()));
}

int TCustomSlider::ValueForOffset(int offset) const {
  if (Orientation_ == soVertical) offset = height() - offset - Images_[ImageVThumbSlot].height();
  const int travel = Travel();
  if (travel == 0) return MinValue_;
  const std::int64_t distance = std::int64_t{offset} - Origin();
  std::int64_t value =
      RoundHalfEven(static_cast<Extended>(distance) * static_cast<Extended>(Range()) / travel);
  if (!(Options_ & soSmooth)) {
    // Snaps to multiples of Increment counted from MinValue.
    value = RoundHalfEven(static_cast<Extended>(value) / Increment_) * Increment_;
  }
  return ToInt(std::min(std::max<std::int64_t>(value, 0) + MinValue_, std::int64_t{MaxValue_}));
}

QPoint TCustomSlider::SnapOffset(int offset) const {
  const int first = Origin();
  const int last = first + Travel();
  offset = std::clamp(offset, first, last);
  offset = std::min(OffsetForValue(ValueForOffset(offset)), last);
  return Orientation_ == soHorizontal ? QPoint(offset, ThumbBounds_.top())
                                      : QPoint(ThumbBounds_.left(), offset);
}

void TCustomSlider::MoveThumbTo(int offset) {
  const int previous = Value_;
  const QPoint at = SnapOffset(offset);
  InvalidateThumb();
  ThumbBounds_.moveTopLeft(at);
  InvalidateThumb();
  // Without travel or range the thumb cannot point at a value: a drag leaves Value alone.
  if (Dragging_ && Travel() > 0 && Range() > 0) {
    Value_ = ValueForOffset(Orientation_ == soHorizontal ? at.x() : at.y());
    if (Value_ != previous) ValueChanged();
  }
}

void TCustomSlider::ValueChanged() {
  NotifyChange();
  if (QAccessible::isActive()) {
    QAccessibleValueChangeEvent event(this, Value_);
    QAccessible::updateAccessibility(&event);
  }
  if (Dragging_ || Stepping_ || Keying_) {
    const QPoint above = Orientation_ == soHorizontal
                             ? QPoint(ThumbBounds_.center().x(), ThumbBounds_.top())
                             : QPoint(ThumbBounds_.right(), ThumbBounds_.center().y());
    QToolTip::showText(mapToGlobal(above), QString::number(Value_), this, ThumbBounds_);
  }
}

void TCustomSlider::InvalidateThumb() { update(ThumbBounds_); }

// --- Moving the value -----------------------------------------------------------------------

int TCustomSlider::PageSteps() const {
  return static_cast<int>(std::max<std::int64_t>(1, Range() / 10 / Increment_));
}

void TCustomSlider::JumpBy(TJumpKind kind, int steps) {
  // Next and prior go to multiples of Increment counted from zero, not from MinValue.
  const std::int64_t nearest =
      RoundHalfEven(static_cast<Extended>(Value_) / Increment_) * std::int64_t{Increment_};
  std::int64_t target = 0;
  switch (kind) {
    case jkNone:
      return;
    case jkToMin:
      target = MinValue_;
      break;
    case jkToMax:
      target = MaxValue_;
      break;
    case jkNext:
      target = nearest + std::int64_t{Increment_} * steps;
      break;
    case jkPrior:
      target = nearest - std::int64_t{Increment_} * steps;
      break;
  }
  if (target >= MaxValue_) {
    target = MaxValue_;
  } else if (target <= MinValue_) {
    target = MinValue_;
  }
  if (target != Value_) SetValue(static_cast<int>(target));
}

TCustomSlider::TJumpKind TCustomSlider::JumpDirectionAt(QPoint point) const {
  if (Orientation_ == soHorizontal) {
    if (point.x() < ThumbBounds_.left()) return jkPrior;
    if (point.x() > RightOf(ThumbBounds_)) return jkNext;
    return jkNone;
  }
  if (point.y() < ThumbBounds_.top()) return jkNext;
  if (point.y() > BottomOf(ThumbBounds_)) return jkPrior;
  return jkNone;
}

void TCustomSlider::StepTick() {
  // Steps stop once the thumb has passed the pointer; the timer runs on until release.
  if (JumpDirectionAt(PointerPos_) != StepDirection_) return;
  JumpBy(StepDirection_);
  if (!StepTimer_.isActive()) StepTimer_.start(kStepPauseMs, this);
}

void TCustomSlider::StopStepping() {
  if (!Stepping_) return;
  StepTimer_.stop();
  Stepping_ = false;
  NotifyChangeDone();
}

void TCustomSlider::PressThumb(Qt::MouseButton button, Qt::KeyboardModifiers, int x, int y) {
  if (CanFocus()) setFocus(Qt::MouseFocusReason);
  if (button != Qt::LeftButton || !CanChangeValue()) return;
  Dragging_ = true;
  ThumbPressed_ = true;
  GripOffset_ = Orientation_ == soHorizontal ? x - ThumbBounds_.left() : y - ThumbBounds_.top();
  InvalidateThumb();
}

void TCustomSlider::DragThumb(Qt::MouseButtons buttons, Qt::KeyboardModifiers, int x, int y) {
  if (!(buttons & Qt::LeftButton) || !CanChangeValue()) return;
  MoveThumbTo(Orientation_ == soHorizontal ? x - GripOffset_ : y - GripOffset_);
}

void TCustomSlider::ReleaseThumb(Qt::MouseButton button, Qt::KeyboardModifiers, int, int) {
  if (button != Qt::LeftButton) return;
  Dragging_ = false;
  ThumbPressed_ = false;
  InvalidateThumb();
  if (CanChangeValue()) NotifyChangeDone();
}

// --- Events ---------------------------------------------------------------------------------

void TCustomSlider::keyPressEvent(QKeyEvent* event) {
  TJumpKind kind = jkNone;
  int steps = 1;
  if (!(event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier))) {
    // Up moves toward the maximum and Down toward the minimum in either orientation, as Right
    // and Left do along a horizontal ruler; PageUp and PageDown move a page.
    const bool horizontal = Orientation_ == soHorizontal;
    switch (event->key()) {
      case Qt::Key_Home:
        kind = jkToMin;
        break;
      case Qt::Key_End:
        kind = jkToMax;
        break;
      case Qt::Key_Left:
        kind = horizontal ? jkPrior : jkNone;
        break;
      case Qt::Key_Right:
        kind = horizontal ? jkNext : jkNone;
        break;
      case Qt::Key_Up:
        kind = jkNext;
        break;
      case Qt::Key_Down:
        kind = jkPrior;
        break;
      case Qt::Key_PageUp:
        kind = jkNext;
        steps = PageSteps();
        break;
      case Qt::Key_PageDown:
        kind = jkPrior;
        steps = PageSteps();
        break;
      default:
        break;
    }
  }
  if (kind == jkNone || !CanChangeValue()) {
    QWidget::keyPressEvent(event);
    return;
  }
  event->accept();
  Keying_ = true;
  JumpBy(kind, steps);
  Keying_ = false;
  // Every handled key ends a gesture, also when the value could not move.
  NotifyChangeDone();
}

void TCustomSlider::mousePressEvent(QMouseEvent* event) {
  // Other buttons end here: they neither focus the slider nor reach its parent.
  if (event->button() != Qt::LeftButton) {
    event->accept();
    return;
  }
  if (CanFocus()) setFocus(Qt::MouseFocusReason);
  const QPoint point = event->position().toPoint();
  // Presses on the thumb's right and bottom edge still take the thumb.
  if (QRect(ThumbBounds_.topLeft(), ThumbBounds_.size() + QSize(1, 1)).contains(point)) {
    PressThumb(event->button(), event->modifiers(), point.x(), point.y());
    return;
  }
  QRect hotZone(RulerOrigin_, RulerSize_ + QSize(1, 1));
  if (Orientation_ == soHorizontal) {
    hotZone.adjust(0, -kRulerHotZone, 0, kRulerHotZone);
  } else {
    hotZone.adjust(-kRulerHotZone, 0, kRulerHotZone, 0);
  }
  if (!hotZone.contains(point) || !CanChangeValue()) return;
  Stepping_ = true;
  PointerPos_ = point;
  StepDirection_ = JumpDirectionAt(point);
  StepTick();
}

// The second press of a double click neither drags nor steps.
void TCustomSlider::mouseDoubleClickEvent(QMouseEvent* event) { event->accept(); }

void TCustomSlider::mouseMoveEvent(QMouseEvent* event) {
  const QPoint point = event->position().toPoint();
  if ((event->buttons() & Qt::LeftButton) && Dragging_) {
    DragThumb(event->buttons(), event->modifiers(), point.x(), point.y());
  } else if (Stepping_) {
    PointerPos_ = point;
  }
  // While a button is held the cursor stays as it was at the press.
  if (event->buttons() == Qt::NoButton) ShowThumbCursor(ThumbBounds_.contains(point));
  QWidget::mouseMoveEvent(event);
}

void TCustomSlider::mouseReleaseEvent(QMouseEvent* event) {
  StopStepping();
  if (Dragging_) {
    const QPoint point = event->position().toPoint();
    ReleaseThumb(event->button(), event->modifiers(), point.x(), point.y());
  }
  QWidget::mouseReleaseEvent(event);
}

void TCustomSlider::timerEvent(QTimerEvent* event) {
  if (event->timerId() == StepTimer_.timerId()) {
    StepTick();
    return;
  }
  QWidget::timerEvent(event);
}

void TCustomSlider::focusInEvent(QFocusEvent* event) {
  if (!HasFocus_) {
    HasFocus_ = true;
    if (Options_ & soShowFocus) update();
  }
  QWidget::focusInEvent(event);
}

void TCustomSlider::focusOutEvent(QFocusEvent* event) {
  // When the window loses activation or a popup opens, the focus stays with this control
  // inside its window, and so does the focus rectangle.
  const bool stays =
      event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason;
  if (!stays && HasFocus_) {
    HasFocus_ = false;
    if (Options_ & soShowFocus) update();
  }
  QWidget::focusOutEvent(event);
}

void TCustomSlider::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  switch (event->type()) {
    case QEvent::EnabledChange:
      if (!isEnabled()) {
        // No release reaches a disabled control: the drag or the click-and-hold ends here.
        StopStepping();
        if (Dragging_) ReleaseThumb(Qt::LeftButton, Qt::NoModifier, 0, 0);
      }
      // The thumb shows its second picture while the control is disabled; disabling may also
      // have moved the focus on without telling this control.
      InvalidateThumb();
      FocusMoved();
      break;
    case QEvent::ActivationChange:
      FocusMoved();
      break;
    default:
      break;
  }
}

bool TCustomSlider::CanFocus() const {
  return focusPolicy() != Qt::NoFocus && isEnabled() && isVisible();
}

// The frame shows while this control is its window's focus control, whether that window is
// active or not. Inside an inactive window the focus moves without focus events.
void TCustomSlider::FocusMoved() {
  const bool focused = window()->focusWidget() == this;
  if (focused == HasFocus_) return;
  HasFocus_ = focused;
  if (Options_ & soShowFocus) update();
}

void TCustomSlider::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (!Loading_) LayoutChanged();
}

void TCustomSlider::leaveEvent(QEvent* event) {
  ShowThumbCursor(false);
  QWidget::leaveEvent(event);
}

void TCustomSlider::hideEvent(QHideEvent* event) {
  ShowThumbCursor(false);
  QWidget::hideEvent(event);
}

// Over the thumb the pointer is the plain arrow whatever the Cursor property says. It is set
// as the application's cursor so that the property itself is left untouched.
void TCustomSlider::ShowThumbCursor(bool overThumb) {
  if (overThumb == ThumbCursorShown_) return;
  ThumbCursorShown_ = overThumb;
  if (overThumb) {
    QGuiApplication::setOverrideCursor(QCursor(Qt::ArrowCursor));
  } else {
    QGuiApplication::restoreOverrideCursor();
  }
}

// --- Painting -------------------------------------------------------------------------------

void TCustomSlider::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  Paint(painter, false);
}

void TCustomSlider::PaintCopy(QPainter& painter) { Paint(painter, true); }

void TCustomSlider::Paint(QPainter& painter, bool asCopy) {
  const TDevicePixels device(painter);
  const QRect area = device.Map(QRectF(rect()));
  if (BufferedPaint_) {
    // A paint while the buffer is being painted goes straight to its painter.
    PaintDevicePixels(painter, device.Exact() ? 1 : device.Ratio(), asCopy);
    return;
  }
  // Painted off-screen first and copied in one piece, so the thumb never flickers over the
  // freshly filled background.
  QImage buffer(area.size(), QImage::Format_RGB32);
  if (buffer.isNull()) return;
  {
    const TScopeValue buffered(BufferedPaint_, true);
    QPainter bufferPainter(&buffer);
    PaintDevicePixels(bufferPainter, device.Exact() ? 1 : device.Ratio(), asCopy);
  }
  painter.drawImage(area.topLeft(), buffer);
}

void TCustomSlider::PaintDevicePixels(QPainter& painter, qreal ratio, bool asCopy) {
  const TScopeValue scale(PaintRatio_, ratio);
  painter.setRenderHint(QPainter::Antialiasing, false);
  const QPoint thumbAt =
      asCopy ? SnapOffset(OffsetForValue(GetPaintValue())) : ThumbBounds_.topLeft();
  QPoint thumbDevice = ToDevice(QRect(thumbAt, QSize())).topLeft();
  // A thumb that shows its value stands at the value's own place, as its tick does.
  const int shown = asCopy ? GetPaintValue() : Value_;
  if (Orientation_ == soHorizontal && thumbAt.x() == OffsetForValue(shown)) {
    thumbDevice.setX(ToDevice(ExactOffset(shown)));
  } else if (Orientation_ == soVertical && thumbAt.y() == OffsetForValue(shown)) {
    thumbDevice.setY(ToDevice(ExactOffset(shown)));
  }
  QRect area = ToDevice(rect());
  if (BevelStyle_ != bvNone) DrawBevel(painter, area);
  // The palette's window brush is inherited from the parent; its origin is the parent's, so a
  // textured or gradient background continues seamlessly under the slider.
  painter.setBrushOrigin(-ToDevice(QRect(pos(), QSize())).topLeft());
  painter.fillRect(area, palette().brush(QPalette::Active, backgroundRole()));
  painter.setBrushOrigin(0, 0);
  DrawRuler(painter);
  if ((Options_ & soShowFocus) && HasFocus_) {
    DrawFocusRect(painter, ToDevice(GetInnerRect().adjusted(2, 2, -2, -2)));
  }
  if (Options_ & soShowPoints) {
    if (isSignalConnected(QMetaMethod::fromSignal(&TCustomSlider::OnDrawPoints))) {
      PointsPainter_ = &painter;
      emit OnDrawPoints(this);
      PointsPainter_ = nullptr;
    } else {
      PaintPoints(painter, Increment_, 3, 5);
    }
  }
  DrawThumb(painter, thumbDevice, asCopy ? !isEnabled() : ThumbPressed_ || !isEnabled());
}

int TCustomSlider::ToDevice(qreal logical) const {
  return static_cast<int>(std::round(logical * PaintRatio_));
}

QRect TCustomSlider::ToDevice(const QRect& logical) const {
  const int left = ToDevice(logical.x()), top = ToDevice(logical.y());
  return {left, top, ToDevice(logical.x() + logical.width()) - left,
          ToDevice(logical.y() + logical.height()) - top};
}

int TCustomSlider::LineWidth() const {
  return std::max(1, static_cast<int>(std::round(PaintRatio_)));
}

void TCustomSlider::DrawBevel(QPainter& painter, QRect& area) const {
  // Only the thumb shows whether the control is enabled: the rest keeps its active colours.
  const QColor shadow = palette().color(QPalette::Active, QPalette::Dark);
  const QColor highlight = palette().color(QPalette::Active, QPalette::Light);
  const QColor topLeft = BevelStyle_ == bvLowered ? shadow : highlight;
  const QColor bottomRight = BevelStyle_ == bvLowered ? highlight : shadow;
  const int n = LineWidth();
  for (int i = 0; i < kBevelWidth; ++i) {
    const int l = area.left(), t = area.top(), r = RightOf(area), b = BottomOf(area);
    // The bottom-right colour owns both the top-right and the bottom-left corner.
    painter.fillRect(QRect(l, t, n, b - t - n), topLeft);
    painter.fillRect(QRect(l, t, r - l - n, n), topLeft);
    painter.fillRect(QRect(r - n, t, n, b - t), bottomRight);
    painter.fillRect(QRect(l, b - n, r - l, n), bottomRight);
    area.adjust(n, n, -n, -n);
  }
}

void TCustomSlider::DrawRuler(QPainter& painter) const {
  if (RulerBitmap_.isNull()) return;
  const bool opaque = (Options_ & soRulerOpaque) != 0;
  if (PaintRatio_ == 1) {
    painter.drawImage(RulerOrigin_, opaque ? RulerBitmap_ : RulerTransparent_);
    return;
  }
  const bool horizontal = Orientation_ == soHorizontal;
  const QRect ruler = ToDevice(QRect(RulerOrigin_, RulerSize_));
  if (UserImages_ & (1 << (horizontal ? ImageHRulerSlot : ImageVRulerSlot))) {
    // A picture of the user's own: all there is to draw is its pixels, enlarged.
    painter.drawImage(ruler, opaque ? RulerBitmap_ : RulerTransparent_);
    return;
  }
  // The built-in ruler: a sunken groove four pixels across in the middle of its eight, on the
  // picture's magenta where it is drawn opaque.
  if (opaque) painter.fillRect(ruler, kBuiltinTransparent);
  const int n = LineWidth();
  QRect groove = ruler;
  if (horizontal) {
    groove.setTop(ToDevice(RulerOrigin_.y() + kGrooveOffset));
    groove.setHeight(kGrooveWidth * n);
  } else {
    groove.setLeft(ToDevice(RulerOrigin_.x() + kGrooveOffset));
    groove.setWidth(kGrooveWidth * n);
  }
  // Outer ring dark grey over white, inner ring black over light grey, as the picture has it.
  DrawSoftEdge(
      painter, groove, false, esAllSides,
      {QColor(255, 255, 255), QColor(192, 192, 192), QColor(0, 0, 0), QColor(128, 128, 128)}, n);
}

// The dotted focus rectangle inverts every other pixel of the frame, so it shows on any
// background and a second drawing would remove it.
void TCustomSlider::DrawFocusRect(QPainter& painter, const QRect& frame) const {
  if (frame.width() <= 0 || frame.height() <= 0) return;
  painter.save();
  painter.setCompositionMode(QPainter::RasterOp_NotDestination);
  // Dots of one logical pixel each, on a checkerboard of such pixels.
  const int n = LineWidth();
  const int l = frame.left(), t = frame.top(), r = RightOf(frame), b = BottomOf(frame);
  for (int y = t; y < b; ++y) {
    const bool edgeRow = y < t + n || y >= b - n;
    for (int x = l; x < r; ++x) {
      if (!edgeRow && x >= l + n && x < r - n) x = r - n;  // across the inside at once
      if ((x / n + y / n) % 2 == 0) painter.fillRect(QRect(x, y, 1, 1), Qt::black);
    }
  }
  painter.restore();
}

void TCustomSlider::DrawThumb(QPainter& painter, QPoint at, bool secondState) const {
  const QImage& picture = ThumbImage();
  QRect source = picture.rect();
  if (NumThumbStates_ == 2) {
    const int half = picture.width() / 2;
    source = secondState ? QRect(half, 0, picture.width() - half, picture.height())
                         : QRect(0, 0, half, picture.height());
  }
  const bool opaque = (Options_ & soThumbOpaque) != 0;
  if (PaintRatio_ == 1) {
    painter.drawImage(at, opaque ? picture : ThumbTransparent_, source);
    return;
  }
  const bool horizontal = Orientation_ == soHorizontal;
  const QRect target(at, ToDevice(QRect(QPoint(), source.size())).size());
  if (UserImages_ & (1 << (horizontal ? ImageHThumbSlot : ImageVThumbSlot))) {
    painter.drawImage(target, opaque ? picture : ThumbTransparent_, source);
    return;
  }
  if (opaque) painter.fillRect(target, kBuiltinTransparent);
  const int n = LineWidth();
  const int length = ToDevice(kThumbLength);
  DrawThumbShape(painter, at, ThumbAcross(), length, n, secondState, !horizontal);
}

int TCustomSlider::ThumbAcross() const {
  const bool horizontal = Orientation_ == soHorizontal;
  const int logical = horizontal ? ThumbWidth() : Images_[ImageVThumbSlot].height();
  if (PaintRatio_ == 1) return logical;
  if (UserImages_ & (1 << (horizontal ? ImageHThumbSlot : ImageVThumbSlot))) {
    return ToDevice(logical);
  }
  // The built-in thumb's point is one pixel: an odd number of pixels across.
  return 2 * std::max(1, static_cast<int>(std::round((kThumbAcross * PaintRatio_ - 1) / 2))) + 1;
}

qreal TCustomSlider::ExactOffset(int value) const {
  const std::int64_t range = Range();
  const qreal fraction =
      range > 0 ? (static_cast<qreal>(value) - MinValue_) / static_cast<qreal>(range) : 0;
  qreal offset = Travel() * fraction + Origin();
  if (Orientation_ == soVertical) {
    const QRect inner = GetInnerRect();
    offset = inner.top() + BottomOf(inner) - offset - Images_[ImageVThumbSlot].height();
  }
  return std::max<qreal>(offset, Origin());
}

void TCustomSlider::DrawPointsDefault(int step, int pointHeight, int extremePointHeight) {
  if (PointsPainter_) PaintPoints(*PointsPainter_, step, pointHeight, extremePointHeight);
}

void TCustomSlider::PaintPoints(QPainter& painter,
                                int step,
                                int pointHeight,
                                int extremePointHeight) {
  // A step of zero or less spaces no ticks (and would never finish widening).
  if (step <= 0) return;
  const int length = RulerLength();
  const Extended range = static_cast<Extended>(Range());

  // The step is widened to k * step until the ticks are at least kMinPointSpacing apart, i.e.
  // until Round(range / (step * k)) is at most `most`. No k below range / (step * (most + 1/2))
  // can get there, so the search starts just under that bound instead of at 1: a wide range
  // with a small step would otherwise take millions of rounds per paint.
  std::int64_t k = 0;
  const std::int64_t most = std::max(length / kMinPointSpacing, 1);
  if (range > 0 && length > 0) {
    k = std::max<std::int64_t>(
        Trunc(range / (static_cast<Extended>(step) * (Extended{most} + 0.5))) - 2, 0);
  }
  std::int64_t count = 0;
  for (;;) {
    ++k;
    count = RoundHalfEven(range / (static_cast<Extended>(step) * k)) + 1;
    const std::int64_t spacing = count > 1 ? length / (count - 1) : length;
    if (spacing >= kMinPointSpacing || spacing >= length) break;
  }
  // Without travel every tick lands on the same spot: the two extreme ones are enough.
  if (length <= 0) count = std::min<std::int64_t>(count, 2);

  painter.save();
  const QColor colour = palette().color(QPalette::Active, QPalette::WindowText);
  std::int64_t value = MinValue_;
  for (std::int64_t i = 1; i <= count; ++i) {
    if (i == count) value = MaxValue_;
    const int h = (value == MaxValue_ || value == MinValue_) ? extremePointHeight : pointHeight;
    if (PaintRatio_ != 1) {
      // At the value's own place, not rounded to a logical pixel first, so that the gaps
      // between ticks differ by one device pixel at most; under the thumb's point.
      const int n = LineWidth();
      const int at = ToDevice(ExactOffset(ToInt(value))) + (ThumbAcross() - n) / 2;
      if (Orientation_ == soHorizontal) {
        painter.fillRect(QRect(at, ToDevice(PointsBand_.top()), n, ToDevice(h)), colour);
      } else {
        painter.fillRect(QRect(ToDevice(PointsBand_.left()), at, ToDevice(h), n), colour);
      }
      value += std::int64_t{step} * k;
      continue;
    }
    const int offset = OffsetForValue(ToInt(value));
    // Lines leave out their end point: a tick of height h covers h pixels.
    if (Orientation_ == soHorizontal) {
      const int x = offset + (Images_[ImageHThumbSlot].width() / NumThumbStates_) / 2;
      painter.fillRect(QRect(x, PointsBand_.top(), 1, h), colour);
    } else {
      const int y = offset + Images_[ImageVThumbSlot].height() / 2;
      painter.fillRect(QRect(PointsBand_.left(), y, h, 1), colour);
    }
    value += std::int64_t{step} * k;
  }
  painter.restore();
}

}  // namespace glowstep
