#include "widgets/spin_button.h"

#include "widgets/device_pixels.h"
#include "widgets/spin_button_cache.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QTimer>

#include <cmath>
#include <string>

namespace glowstep {

// --- TSpinButton ------------------------------------------------------------------------------

TSpinButton::TSpinButton(QWidget* parent)
    : QWidget(parent), Bitmaps_(std::make_unique<TSpinButtonBitmapsHold>()) {
  resize(20, 20);
  setMouseTracking(true);  // the hot half follows the pointer without a button held
  setFocusPolicy(Qt::NoFocus);
  setCursor(Qt::ArrowCursor);
  TSpinButtonBitmapsManager::RegisterClient();
}

TSpinButton::~TSpinButton() {
  ReleaseBitmaps();
  TSpinButtonBitmapsManager::UnregisterClient();
}

void TSpinButton::SetButtonStyle(TSpinButtonStyle style) {
  if (style == ButtonStyle_) return;
  ButtonStyle_ = style;
  GlyphsChanged();
}

void TSpinButton::SetUpGlyph(const QPixmap& glyph) {
  UpGlyph_ = glyph;
  GlyphsChanged();
}

void TSpinButton::SetDownGlyph(const QPixmap& glyph) {
  DownGlyph_ = glyph;
  GlyphsChanged();
}

void TSpinButton::GlyphsChanged() {
  ReleaseBitmaps();
  update();
}

bool TSpinButton::InBottomHalf(int x, int y) const {
  const int w = width(), h = height();
  if (ButtonStyle_ == sbsClassic) return y > h / 2;
  if (w <= 0) return false;
  return y > h - (static_cast<double>(h) / w) * x;
}

bool TSpinButton::VisualStyles() const {
  return style()->name().compare(QLatin1String("windows"), Qt::CaseInsensitive) != 0;
}

TSpinButtonImage TSpinButton::CurrentImage() const {
  if (!isEnabled()) return siDisabled;
  if (PressedHalf_ == THalf::Top) return siTopPressed;
  if (PressedHalf_ == THalf::Bottom) return siBottomPressed;
  if (VisualStyles()) {
    if (HotTop_) return siTopHot;
    if (HotBottom_) return siBottomHot;
  }
  return siReleased;
}

const TSpinButtonBitmaps* TSpinButton::Bitmaps() const { return Bitmaps_->Get(); }

void TSpinButton::FetchBitmaps(QSize deviceSize, qreal ratio) {
  const std::string look = style()->name().toLower().toStdString();
  const int ratioPerMille = static_cast<int>(std::lround(ratio * 1000));
  const TSpinButtonBitmaps* held = Bitmaps_->Get();
  if (held && (held->Width() != deviceSize.width() || held->Height() != deviceSize.height() ||
               held->Key().RatioPerMille != ratioPerMille || held->Look() != look)) {
    ReleaseBitmaps();
  }
  if (!Bitmaps_->Get()) {
    const TSpinButtonBitmaps::TKey key{deviceSize.width(),
                                       deviceSize.height(),
                                       ButtonStyle_,
                                       !UpGlyph_.isNull() || !DownGlyph_.isNull(),
                                       look,
                                       ratioPerMille};
    Bitmaps_->Reset(&TSpinButtonBitmapsManager::Instance()->Find(key, *this, VisualStyles()));
  }
  TSpinButtonBitmaps* bitmaps = Bitmaps_->Get();
  if (bitmaps->ResetOnDraw()) bitmaps->Draw(*this, bitmaps->Themed());
}

void TSpinButton::ReleaseBitmaps() { Bitmaps_->Reset(); }

void TSpinButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  // The images are drawn for the device pixels the button covers, so that they are copied one
  // to one at any scale.
  const TDevicePixels device(painter);
  const QRect area = device.Map(QRectF(rect()));
  FetchBitmaps(area.size(), device.Ratio());
  if (!isEnabled()) Dragging_ = false;
  const TSpinButtonImage image = CurrentImage();
  painter.drawImage(area.topLeft(), Bitmaps_->Get()->Image(image));
  if (UpGlyph_.isNull() && DownGlyph_.isNull()) return;
  const bool themed = Bitmaps_->Get()->Themed();
  if (themed && ButtonStyle_ == sbsClassic) return;  // the style's parts carry their arrows
  // The button's own pictures are drawn at their own size, scaled to the device pixels.
  painter.drawImage(area, DrawOwnGlyphs(UpGlyph_.toImage(), DownGlyph_.toImage(), size(),
                                        ButtonStyle_ == sbsClassic, themed, image, *this));
}

bool TSpinButton::Inside(QPoint point) const {
  return point.x() >= 0 && point.x() <= width() && point.y() >= 0 && point.y() <= height();
}

void TSpinButton::SetPressedHalf(THalf half) {
  if (half == PressedHalf_) return;
  PressedHalf_ = half;
  update();
}

void TSpinButton::Click() {
  const QPointer<TSpinButton> self(this);
  if (PressedHalf_ == THalf::Bottom) {
    emit OnBottomClick(this);
  } else if (PressedHalf_ == THalf::Top) {
    emit OnTopClick(this);
  }
  if (!self) return;
  // A handler may run a nested loop during which the button came up.
  if (!MouseHeld_) PressedHalf_ = THalf::None;
}

void TSpinButton::mousePressEvent(QMouseEvent* event) {
  QWidget::mousePressEvent(event);
  if (event->button() != Qt::LeftButton || !isEnabled()) return;
  event->accept();
  const QPointer<TSpinButton> self(this);
  MouseHeld_ = true;
  QWidget* focus = FocusControl_;
  if (focus && (focus->focusPolicy() & Qt::TabFocus) && focus->isEnabled() && focus->isVisible() &&
      !focus->hasFocus()) {
    focus->setFocus(Qt::MouseFocusReason);
    if (!self) return;
  }
  if (PressedHalf_ == THalf::None) {
    LastPressedHalf_ = THalf::None;
    const QPoint at = event->position().toPoint();
    PressedHalf_ = InBottomHalf(at.x(), at.y()) ? THalf::Bottom : THalf::Top;
    Click();
    if (!self) return;
    if (PressedHalf_ != LastPressedHalf_) {
      LastPressedHalf_ = PressedHalf_;
      update();
    }
    if (!RepeatTimer_) {
      RepeatTimer_ = new QTimer(this);
      connect(RepeatTimer_, &QTimer::timeout, this, &TSpinButton::RepeatTick);
    }
    RepeatTimer_->setInterval(InitRepeatPause_);
    RepeatTimer_->start();
  }
  Dragging_ = true;
}

void TSpinButton::EndPress() {
  MouseHeld_ = false;
  Dragging_ = false;
  if (RepeatTimer_) RepeatTimer_->stop();
  LastPressedHalf_ = THalf::None;
  SetPressedHalf(THalf::None);
}

void TSpinButton::RepeatTick() {
  RepeatTimer_->setInterval(RepeatPause_);
  if (PressedHalf_ == THalf::None || !MouseHeld_) return;
  try {
    Click();
  } catch (...) {
    RepeatTimer_->stop();
    throw;
  }
}

void TSpinButton::mouseMoveEvent(QMouseEvent* event) {
  QWidget::mouseMoveEvent(event);
  const QPoint at = event->position().toPoint();
  if (Dragging_) {
    if (!Inside(at)) {
      SetPressedHalf(THalf::None);
    } else if (InBottomHalf(at.x(), at.y())) {
      if (PressedHalf_ != THalf::Bottom) {
        SetPressedHalf(LastPressedHalf_ == THalf::Bottom ? THalf::Bottom : THalf::None);
      }
    } else if (PressedHalf_ != THalf::Top) {
      SetPressedHalf(LastPressedHalf_ == THalf::Top ? THalf::Top : THalf::None);
    }
  } else if (VisualStyles() && (HotTop_ || HotBottom_)) {
    const bool bottom = InBottomHalf(at.x(), at.y());
    SetHot(!bottom, bottom);
  }
}

void TSpinButton::mouseReleaseEvent(QMouseEvent* event) {
  QWidget::mouseReleaseEvent(event);
  if (event->button() != Qt::LeftButton) return;
  MouseHeld_ = false;
  // Nothing repeats without a held button; the next press starts the timer again.
  if (RepeatTimer_) RepeatTimer_->stop();
  if (!Dragging_) return;
  Dragging_ = false;
  // Released inside: both halves come up. Released outside without a move reported on the
  // way out: the pressed half comes up all the same, as a move outside would have done.
  if (Inside(event->position().toPoint())) LastPressedHalf_ = THalf::None;
  SetPressedHalf(THalf::None);
}

void TSpinButton::SetHot(bool top, bool bottom) {
  if (top == HotTop_ && bottom == HotBottom_) return;
  HotTop_ = top;
  HotBottom_ = bottom;
  if (VisualStyles()) update();
}

void TSpinButton::enterEvent(QEnterEvent* event) {
  QWidget::enterEvent(event);
  if (HotTop_ || HotBottom_) return;
  const QPoint at = event->position().toPoint();
  const bool bottom = InBottomHalf(at.x(), at.y());
  SetHot(!bottom, bottom);
}

void TSpinButton::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  SetHot(false, false);
}

void TSpinButton::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  EndPress();
}

void TSpinButton::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  switch (event->type()) {
    case QEvent::PaletteChange:
      // Colours of the whole system changed: the shared images are redrawn at the next paint.
      if (TSpinButtonBitmaps* bitmaps = Bitmaps_->Get()) bitmaps->SetResetOnDraw(true);
      update();
      break;
    case QEvent::StyleChange:
      // Another look: the next paint takes the image set of that look.
      ReleaseBitmaps();
      update();
      break;
    case QEvent::EnabledChange:
      // A disabled button gets no release: the press ends here.
      if (!isEnabled()) EndPress();
      update();
      break;
    default:
      break;
  }
}

}  // namespace glowstep
