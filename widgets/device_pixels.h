// Drawing in whole device pixels. At a device pixel ratio other than 1 (a HiDPI screen at 200 %,
// or 150 %, where a logical pixel is one and a half device pixels) a control's logical pixels do
// not fall on whole device pixels, and a picture drawn for 100 % is blurred or its pixels
// doubled unevenly. The controls then draw their shapes themselves, in device pixels: every
// edge on a pixel boundary, every one-pixel line at least one device pixel wide.
#pragma once

#include <QColor>
#include <QRect>
#include <QTransform>

class QPainter;

namespace glowstep {

class TDevicePixels {
 public:
  // While it lives, `painter` draws in device pixels: one unit is one device pixel and (0, 0) is
  // the device pixel at which the painter's logical (0, 0) begins. The painter's transform must
  // be a scale and a move only.
  explicit TDevicePixels(QPainter& painter);
  ~TDevicePixels();
  TDevicePixels(const TDevicePixels&) = delete;
  TDevicePixels& operator=(const TDevicePixels&) = delete;

  // Device pixels per logical pixel; 1 where the logical pixels are the device pixels.
  qreal Ratio() const { return Ratio_; }
  bool Exact() const { return Ratio_ == 1 && Origin_ == Snapped_; }
  // A logical coordinate in device pixels (across or down), rounded to the nearest boundary.
  int X(qreal logical) const;
  int Y(qreal logical) const;
  // A logical rectangle in device pixels, each edge rounded to the nearest boundary.
  QRect Map(const QRectF& logical) const;
  // How many device pixels a logical line of `logical` pixels is wide: never less than one.
  int Thickness(qreal logical = 1) const;

 private:
  QPainter& Painter_;
  qreal Ratio_ = 1;
  // Where the painter's logical (0, 0) falls, in device pixels, and the device pixel taken for
  // the origin.
  QPointF Origin_;
  QPointF Snapped_;
};

// One band of a soft 3-D edge: the sides it is drawn on.
enum TEdgeSides { esTopLeft = 1, esBottomRight = 2, esAllSides = 3 };

// The colours of a 3-D edge, outer ring first: raised, the top and left sides take the two
// light colours and the bottom and right sides the two dark ones; sunken, the other way round.
struct TEdgeColours {
  QColor Highlight, Light, Shadow, DarkShadow;
};

// The soft two-ring 3-D edge inside `rect`, each ring `thickness` pixels wide. The outer ring
// is drawn before the inner one and the bottom-right sides after the top-left ones, so the
// corners fall to the darker side of a raised edge; the inner lines stop short of a corner only
// where both of its sides are drawn.
void DrawSoftEdge(QPainter& painter,
                  const QRect& rect,
                  bool raised,
                  int sides,
                  const TEdgeColours& colours,
                  int thickness);

}  // namespace glowstep
