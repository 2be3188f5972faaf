#include "app/form_controls.h"

#include <QMouseEvent>
#include <QPainter>

#include "widgets/device_pixels.h"

namespace glowstep {

TFixedLabel::TFixedLabel(QWidget* parent) : QLabel(parent) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

TShape::TShape(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent); }

void TShape::SetBrushColor(const QColor& color) {
  if (color == BrushColor_) return;
  BrushColor_ = color;
  update();
}

void TShape::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  // The outline is one pixel inside the control on every side, the fill within it; at any
  // scale, in whole device pixels, as thick on every side.
  const TDevicePixels device(painter);
  const QRect area = device.Map(QRectF(rect()));
  const int line = device.Thickness();
  painter.fillRect(area, Qt::black);
  painter.fillRect(area.adjusted(line, line, -line, -line), BrushColor_);
}

void TShape::mousePressEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  emit OnMouseDown(this, event->button(), event->modifiers(), at.x(), at.y());
}

TBitBtn::TBitBtn(QWidget* parent) : QPushButton(parent) { setAutoDefault(false); }

}  // namespace glowstep
