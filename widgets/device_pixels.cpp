#include "widgets/device_pixels.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace glowstep {

TDevicePixels::TDevicePixels(QPainter& painter) : Painter_(painter) {
  const QTransform device = painter.deviceTransform();
  Ratio_ = device.m11();
  Origin_ = device.map(QPointF(0, 0));
  const QPointF snapped(std::round(Origin_.x()), std::round(Origin_.y()));
  Snapped_ = snapped;
  painter.save();
  // The world transform that, followed by the painter's own mapping to the device, moves one
  // unit to one device pixel from the snapped origin.
  const QTransform base = painter.worldTransform().inverted() * device;
  painter.setWorldTransform(QTransform::fromTranslate(snapped.x(), snapped.y()) * base.inverted());
}

TDevicePixels::~TDevicePixels() { Painter_.restore(); }

int TDevicePixels::X(qreal logical) const {
  return static_cast<int>(std::round(Origin_.x() + logical * Ratio_) - Snapped_.x());
}

int TDevicePixels::Y(qreal logical) const {
  return static_cast<int>(std::round(Origin_.y() + logical * Ratio_) - Snapped_.y());
}

QRect TDevicePixels::Map(const QRectF& logical) const {
  const int left = X(logical.left()), top = Y(logical.top());
  return {left, top, X(logical.left() + logical.width()) - left,
          Y(logical.top() + logical.height()) - top};
}

int TDevicePixels::Thickness(qreal logical) const {
  return std::max(1, static_cast<int>(std::round(logical * Ratio_)));
}

void DrawSoftEdge(QPainter& painter,
                  const QRect& rect,
                  bool raised,
                  int sides,
                  const TEdgeColours& colours,
                  int thickness) {
  const QColor outerTL = raised ? colours.Highlight : colours.DarkShadow;
  const QColor innerTL = raised ? colours.Light : colours.Shadow;
  const QColor outerBR = raised ? colours.DarkShadow : colours.Highlight;
  const QColor innerBR = raised ? colours.Shadow : colours.Light;
  const int n = thickness;
  const int l = rect.left(), t = rect.top(), r = rect.left() + rect.width(),
            b = rect.top() + rect.height();
  const bool tl = (sides & esTopLeft) != 0, br = (sides & esBottomRight) != 0;
  const int ltPlus = tl ? n : 0;  // top and left both drawn
  const int rtPlus = tl && br ? n : 0;
  const int lbPlus = rtPlus;
  const int rbPlus = br ? n : 0;
  const auto across = [&painter, n](int x0, int x1, int y, const QColor& colour) {
    if (x1 > x0) painter.fillRect(QRect(x0, y, x1 - x0, n), colour);
  };
  const auto down = [&painter, n](int x, int y0, int y1, const QColor& colour) {
    if (y1 > y0) painter.fillRect(QRect(x, y0, n, y1 - y0), colour);
  };
  if (tl) {
    across(l, r, t, outerTL);
    down(l, t, b, outerTL);
  }
  if (br) {
    across(l, r, b - n, outerBR);
    down(r - n, t, b, outerBR);
  }
  if (tl) {
    across(l + ltPlus, r - rtPlus, t + n, innerTL);
    down(l + n, t + ltPlus, b - lbPlus, innerTL);
  }
  if (br) {
    across(l + lbPlus, r - rbPlus, b - 2 * n, innerBR);
    down(r - 2 * n, t + rtPlus, b - rbPlus, innerBR);
  }
}

}  // namespace glowstep
