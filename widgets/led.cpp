#include "widgets/led.h"

#include "widgets/builtin_bitmaps.h"
#include "widgets/device_pixels.h"

#include <QApplication>
#include <QPaintEngine>
#include <QPainter>
#include <QTimerEvent>

#include <algorithm>
#include <limits>

namespace glowstep {
namespace {

constexpr const char* kPictureName = "CustomLEDGREEN";
constexpr const char* kMaskName = "CustomLEDMASK";
// The picture's pixels of this colour are the disc, recoloured to the colour shown.
constexpr QRgb kDiscColour = qRgb(0, 255, 0);
constexpr QRgb kMaskBackground = qRgb(255, 255, 255);
// The disc in the picture: its centre and radius (rim included), and the gleam's arc: radius,
// width and the angles it spans, counter-clockwise from three o'clock in degrees.
constexpr qreal kDiscCentre = 8.5;
constexpr qreal kDiscRadius = 6.5;
constexpr qreal kGleamRadius = 2.9;
constexpr qreal kGleamWidth = 1.4;
constexpr int kGleamFrom = 95;
constexpr int kGleamSpan = 80;

}  // namespace

TCustomLED::TCustomLED(QWidget* parent) : QWidget(parent) {
  LedMask_ = LoadBuiltinBitmap(kMaskName);
  PaintMask_ = LedMask_.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  SetColor(QColor(0, 255, 0));
  resize(LedMask_.size());
  ColorOn_ = QColor(0, 255, 0);
  ColorOff_ = QColor(255, 0, 0);
  Active_ = false;
  SetStatus(true);
}

TCustomLED::~TCustomLED() {
  if (BlinkTimerId_ != 0) killTimer(BlinkTimerId_);
}

void TCustomLED::SetStatus(bool value) {
  if (value == Status_) return;
  Status_ = value;
  SetColor(value ? ColorOn_ : ColorOff_);
  emit OnChange(this);
}

void TCustomLED::SetColorOn(const QColor& value) {
  ColorOn_ = value;
  if (Status_) SetColor(value);
}

void TCustomLED::SetColorOff(const QColor& value) {
  ColorOff_ = value;
  if (!Status_) SetColor(value);
}

void TCustomLED::SetActive(bool value) {
  if (value == Active_) return;
  Active_ = value;
  UpdateBlinkTimer();
}

void TCustomLED::SetInterval(std::uint32_t value) {
  if (value == Interval_) return;
  Interval_ = value;
  UpdateBlinkTimer();
}

void TCustomLED::SetAutoSize(bool value) {
  if (value == AutoSize_) return;
  AutoSize_ = value;
  if (value) {
    SavedMinimumSize_ = minimumSize();
    SavedMaximumSize_ = maximumSize();
    setFixedSize(LedMask_.size());
  } else {
    setMinimumSize(SavedMinimumSize_);
    setMaximumSize(SavedMaximumSize_);
  }
}

// The picture is recoloured only when the colour shown really changes, never per paint.
void TCustomLED::SetColor(const QColor& value) {
  if (Color_.isValid() && value.rgba() == Color_.rgba()) return;
  Color_ = value;
  RebuildImage();
}

void TCustomLED::RebuildImage() {
  QImage image = LoadBuiltinBitmap(kPictureName).convertToFormat(QImage::Format_RGB32);
  const QRgb shown = Color_.rgb();
  for (int x = 0; x < image.width(); ++x) {
    for (int y = 0; y < image.height(); ++y) {
      if (image.pixel(x, y) == kDiscColour) image.setPixel(x, y, shown);
    }
  }
  LedImage_ = image;
  // The copy that is painted is clear where the mask lets the background through. On an opaque
  // surface OR-ing clear pixels is the same as OR-ing the picture's black; on a surface with
  // alpha it keeps the background's alpha, and drawn normally it needs no mask at all.
  PaintImage_ = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  for (int y = 0; y < PaintImage_.height(); ++y) {
    for (int x = 0; x < PaintImage_.width(); ++x) {
      if (LedMask_.pixel(x, y) == kMaskBackground) PaintImage_.setPixel(x, y, 0);
    }
  }
  update();
}

void TCustomLED::UpdateBlinkTimer() {
  if (BlinkTimerId_ != 0) killTimer(BlinkTimerId_);
  BlinkTimerId_ = 0;
  if (!Active_ || Interval_ == 0) return;
  // Longer intervals are cut to the longest the timer takes, as the platform does.
  const auto ms = static_cast<int>(std::min<std::uint32_t>(
      Interval_, static_cast<std::uint32_t>(std::numeric_limits<int>::max())));
  BlinkTimerId_ = StartBlinkTimer(ms);
  if (BlinkTimerId_ == 0) throw ELEDError(tr("Not enough timers available").toStdString());
}

int TCustomLED::StartBlinkTimer(int intervalMs) { return startTimer(intervalMs); }

// The application counts as minimised when it shows windows and all of them are minimised.
bool TCustomLED::ApplicationMinimised() const {
  bool minimised = false;
  const auto windows = QApplication::topLevelWidgets();
  for (const QWidget* window : windows) {
    const Qt::WindowType type = window->windowType();
    if (!window->isVisible() || (type != Qt::Window && type != Qt::Dialog)) continue;
    if (!window->isMinimized()) return false;
    minimised = true;
  }
  return minimised;
}

void TCustomLED::BlinkTick() {
  if (!ApplicationMinimised()) SetStatus(!Status_);
}

void TCustomLED::timerEvent(QTimerEvent* event) {
  if (BlinkTimerId_ != 0 && event->timerId() == BlinkTimerId_) {
    BlinkTick();
    return;
  }
  QWidget::timerEvent(event);
}

void TCustomLED::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing, false);
  // Centred, clipped when the control is smaller than the picture (the division truncates
  // toward zero: a 10 x 10 control draws at -3, -3).
  const QPoint at((width() - LedImage_.width()) / 2, (height() - LedImage_.height()) / 2);
  const TDevicePixels device(painter);
  if (!device.Exact()) {
    PaintDisc(painter, device, at);
    return;
  }
  // Qt's AND makes every pixel it touches opaque, so on a translucent window, or a device that
  // has no raster operations, the prepared picture is drawn normally instead.
  const QPaintEngine* engine = painter.paintEngine();
  const bool rasterOps = engine && engine->hasFeature(QPaintEngine::RasterOpModes) &&
                         !window()->testAttribute(Qt::WA_TranslucentBackground);
  if (!rasterOps) {
    painter.drawImage(at, PaintImage_);
    return;
  }
  // The mask clears the disc to black and keeps the background around it; the picture is then
  // OR-ed in, so its black surroundings leave that background as it was.
  painter.setCompositionMode(QPainter::RasterOp_SourceAndDestination);
  painter.drawImage(at, PaintMask_);
  painter.setCompositionMode(QPainter::RasterOp_SourceOrDestination);
  painter.drawImage(at, PaintImage_);
}

void TCustomLED::PaintDisc(QPainter& painter, const TDevicePixels& device, QPoint at) const {
  // The picture's disc: a grey rim one pixel wide around the colour shown, with a white gleam
  // at the upper left, drawn round at the device pixels' own size.
  const qreal ratio = device.Ratio();
  const QPointF centre(device.X(at.x() + kDiscCentre), device.Y(at.y() + kDiscCentre));
  const qreal radius = kDiscRadius * ratio;
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(128, 128, 128));
  painter.drawEllipse(centre, radius, radius);
  painter.setBrush(Color_);
  painter.drawEllipse(centre, radius - ratio, radius - ratio);
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(Qt::white, kGleamWidth * ratio, Qt::SolidLine, Qt::RoundCap));
  const qreal gleam = kGleamRadius * ratio;
  painter.drawArc(QRectF(centre - QPointF(gleam, gleam), QSizeF(2 * gleam, 2 * gleam)),
                  kGleamFrom * 16, kGleamSpan * 16);
}

}  // namespace glowstep
