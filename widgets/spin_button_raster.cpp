#include "widgets/spin_button_raster.h"

#include "base/numbers.h"
#include "widgets/builtin_bitmaps.h"
#include "widgets/device_pixels.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <utility>

namespace glowstep {
namespace {

int RoundHalf(double value) {
  return static_cast<int>(RoundHalfEven(static_cast<Extended>(value)));
}

int Round(qreal value) { return static_cast<int>(std::round(value)); }

// The colours of the classic look, taken from the widget's palette.
struct TClassicColours {
  QColor Face, Highlight, Light, Shadow, DarkShadow, Frame;
  explicit TClassicColours(const QPalette& palette, QPalette::ColorGroup group = QPalette::Active)
      : Face(palette.color(group, QPalette::Button)),
        Highlight(palette.color(group, QPalette::Light)),
        Light(palette.color(group, QPalette::Midlight)),
        Shadow(palette.color(group, QPalette::Dark)),
        DarkShadow(palette.color(group, QPalette::Shadow)),
        Frame(palette.color(group, QPalette::WindowText)) {}
  TEdgeColours Edge() const { return {Highlight, Light, Shadow, DarkShadow}; }
};

void Plot(QImage& image, int x, int y, const QColor& colour, const QRect& clip) {
  if (clip.contains(x, y)) image.setPixelColor(x, y, colour);
}

// A one-pixel line that leaves out its end point, stepping one pixel along the longer axis at
// a time, so that 45-degree lines hit exactly the pixels of the diagonal.
void Line(QImage& image, QPoint from, QPoint to, const QColor& colour) {
  const QRect clip = image.rect();
  int x = from.x(), y = from.y();
  const int dx = std::abs(to.x() - x), dy = -std::abs(to.y() - y);
  const int sx = x < to.x() ? 1 : -1, sy = y < to.y() ? 1 : -1;
  int error = dx + dy;
  while (x != to.x() || y != to.y()) {
    Plot(image, x, y, colour, clip);
    const int twice = 2 * error;
    if (twice >= dy) {
      error += dy;
      x += sx;
    }
    if (twice <= dx) {
      error += dx;
      y += sy;
    }
  }
}

void SoftEdge(QImage& image,
              const QRect& rect,
              bool raised,
              int sides,
              const TClassicColours& c,
              int thickness) {
  QPainter painter(&image);
  DrawSoftEdge(painter, rect, raised, sides, c.Edge(), thickness);
}

// Paints the glyph's set pixels in one colour, clipped.
void PaintGlyph(QImage& image,
                const QImage& glyph,
                QPoint at,
                const QColor& colour,
                const QRect& clip) {
  for (int y = 0; y < glyph.height(); ++y) {
    for (int x = 0; x < glyph.width(); ++x) {
      if (glyph.pixelColor(x, y).alpha() != 0) Plot(image, at.x() + x, at.y() + y, colour, clip);
    }
  }
}

// The disabled look: the glyph embossed, highlight `offset` pixels right and down, shadow on top.
void PaintDisabledGlyph(QImage& image,
                        const QImage& glyph,
                        QPoint at,
                        const TClassicColours& c,
                        const QRect& clip,
                        int offset = 1) {
  PaintGlyph(image, glyph, at + QPoint(offset, offset), c.Highlight, clip);
  PaintGlyph(image, glyph, at, c.Shadow, clip);
}

// A two-colour glyph turned into a mask: opaque black where the glyph is, transparent elsewhere.
QImage GlyphMask(const QImage& source) {
  QImage mask(source.size(), QImage::Format_ARGB32);
  mask.fill(Qt::transparent);
  const bool hasAlpha = source.hasAlphaChannel();
  const QColor transparent = source.isNull() ? QColor() : source.pixelColor(0, source.height() - 1);
  for (int y = 0; y < source.height(); ++y) {
    for (int x = 0; x < source.width(); ++x) {
      const QColor pixel = source.pixelColor(x, y);
      const bool set = hasAlpha ? pixel.alpha() >= 128 : pixel != transparent;
      if (set) mask.setPixelColor(x, y, Qt::black);
    }
  }
  return mask;
}

// A mask made of rows: row y covers `span(y)` = [left, right) pixels.
template <typename TSpan>
QImage RowMask(QSize size, TSpan span) {
  QImage mask(size, QImage::Format_ARGB32);
  mask.fill(Qt::transparent);
  for (int y = 0; y < size.height(); ++y) {
    const auto [left, right] = span(y);
    for (int x = std::max(left, 0); x < std::min(right, size.width()); ++x) {
      mask.setPixelColor(x, y, Qt::black);
    }
  }
  return mask;
}

// A width of `width` pixels made to have the parity of `outer`, so that it centres within it.
int SameParity(int width, int outer) { return width + ((outer - width) % 2 == 0 ? 0 : 1); }

// The diagonal button's arrow at `ratio`: a head whose rows widen by one device pixel on each
// side from the point to the full width, over a stem of two logical pixels. At 1 it is the
// built-in glyph.
QImage ArrowGlyph(bool up, qreal ratio) {
  if (ratio == 1) return SpinGlyph(up ? "SpinUP" : "SpinDOWN");
  const int size = std::max(3, Round(6 * ratio));
  const int headRows = std::min(size, std::max(2, (size + 1) / 2));
  const int stem = std::min(size, SameParity(std::max(1, Round(2 * ratio)), size));
  return RowMask({size, size}, [=](int y) {
    const int row = up ? y : size - 1 - y;
    const int width = row < headRows ? size - 2 * (headRows - 1 - row) : stem;
    const int left = (size - width) / 2;
    return std::pair{left, left + width};
  });
}

// The classic button's triangle at `ratio`: rows one device pixel wider on each side than the
// one before, from a single pixel to the full width. At 1 it is the built-in glyph.
QImage PoleGlyph(bool up, qreal ratio) {
  if (ratio == 1) return SpinGlyph(up ? "SpinUPPOLE" : "SpinDOWNPOLE");
  const int width = 2 * std::max(1, Round((7 * ratio - 1) / 2)) + 1;
  const int rows = (width + 1) / 2;
  return RowMask({width, rows}, [=](int y) {
    const int row = up ? y : rows - 1 - y;
    return std::pair{rows - 1 - row, rows + row};
  });
}

// Where the classic look puts the glyph of one half: centred, clipped to the half, or aligned
// to the outer edge when taller than the half.
QPoint PoleGlyphPosition(int width, int height, QSize glyph, bool top) {
  const int half = height / 2;
  const int x = (width - glyph.width()) / 2;
  if (top) return {x, glyph.height() > half ? 0 : (half - glyph.height()) / 2};
  const int bottomHeight = height - half;
  if (glyph.height() > bottomHeight) return {x, height - glyph.height()};
  return {x, half + (bottomHeight - glyph.height()) / 2};
}

QRect HalfRect(int width, int height, bool top) {
  const int half = height / 2;
  return top ? QRect(0, 0, width, half) : QRect(0, half, width, height - half);
}

QPoint DiagonalUpPosition(int width, int height, QSize glyph, int offset) {
  return {offset + RoundHalf(width / 4.0 - glyph.width() / 2.0),
          offset + RoundHalf(height / 4.0 - glyph.height() / 2.0)};
}

QPoint DiagonalDownPosition(int width, int height, QSize glyph, int offset) {
  return {RoundHalf(3.0 * width / 4.0 - glyph.width() / 2.0) - offset,
          RoundHalf(3.0 * height / 4.0 - glyph.height() / 2.0) - offset};
}

// The three lines along the diagonal that separate the two halves. At a ratio of 1 they are
// one-pixel lines placed as designed; otherwise three bands of `thickness` pixels across, side
// by side along the diagonal from the bottom-left to the top-right corner, within the edges.
void DiagonalLines(QImage& image,
                   const QColor& c1,
                   const QColor& c2,
                   const QColor& c3,
                   int thickness,
                   qreal ratio) {
  const int w = image.width(), h = image.height();
  if (ratio == 1) {
    const int l = 1, t = 1, r = w - 1, b = h - 1;
    Line(image, {l, b - 2}, {r - 1, t - 1}, c1);
    Plot(image, r - 1, t, c2, image.rect());
    Line(image, {r - 1, t}, {l, b - 1}, c2);
    Line(image, {l + 1, b - 1}, {r, t}, c3);
    return;
  }
  const std::array<const QColor*, 3> colours = {&c1, &c2, &c3};
  for (int y = thickness; y < h - thickness; ++y) {
    for (int x = thickness; x < w - thickness; ++x) {
      // How far across the pixel's centre lies from the diagonal, in pixels.
      const qreal across = ((x + 0.5) / w + (y + 0.5) / h - 1) * w;
      const int band = static_cast<int>(std::floor(across / thickness + 0.5));
      if (band >= -1 && band <= 1) {
        const int index = band + 1;
        image.setPixelColor(x, y, *colours[static_cast<std::size_t>(index)]);
      }
    }
  }
}

enum TThemeState { tsNormal, tsHot, tsPressed, tsDisabled };

// Which background each image takes for its top and its bottom half.
constexpr std::array<std::pair<TThemeState, TThemeState>, siImageCount> kThemePairs = {{
    {tsNormal, tsNormal},      // released
    {tsPressed, tsNormal},     // top pressed
    {tsNormal, tsPressed},     // bottom pressed
    {tsDisabled, tsDisabled},  // disabled
    {tsHot, tsNormal},         // top hot
    {tsNormal, tsHot},         // bottom hot
}};

void InitThemeOption(QStyleOption& option, const QWidget& widget, TThemeState state) {
  option.initFrom(&widget);
  option.state &= ~(QStyle::State_MouseOver | QStyle::State_Sunken | QStyle::State_HasFocus);
  option.state |= QStyle::State_Enabled | QStyle::State_Raised;
  option.palette.setCurrentColorGroup(QPalette::Active);
  switch (state) {
    case tsNormal:
      break;
    case tsHot:
      option.state |= QStyle::State_MouseOver;
      break;
    case tsPressed:
      option.state |= QStyle::State_Sunken;
      option.state &= ~QStyle::State_Raised;
      break;
    case tsDisabled:
      option.state &= ~QStyle::State_Enabled;
      option.palette.setCurrentColorGroup(QPalette::Disabled);
      break;
  }
}

QImage NewImage(QSize size, const QColor& fill) {
  QImage image(size.expandedTo(QSize(0, 0)), QImage::Format_ARGB32_Premultiplied);
  image.fill(fill);
  return image;
}

// An image the style draws into at `ratio`, in logical coordinates; the caller takes its pixels
// as device pixels.
QImage NewStyleImage(QSize size, qreal ratio, const QColor& fill) {
  QImage image = NewImage(size, fill);
  image.setDevicePixelRatio(ratio);
  return image;
}

void DrawClassic(TSpinButtonImages& images,
                 const TSpinButtonShape& shape,
                 const QPalette& palette) {
  const int w = shape.Size.width(), h = shape.Size.height();
  const qreal ratio = shape.Ratio;
  const int line = std::max(1, Round(ratio));
  const TClassicColours c(palette);
  for (auto& image : images) image = NewImage(shape.Size, c.Face);
  // The hot looks exist only with the style's own look; keep them equal to the released one.
  if (!shape.Classic) {
    const QImage up = ArrowGlyph(true, ratio);
    const QImage down = ArrowGlyph(false, ratio);
    struct TLook {
      TSpinButtonImage Image = siReleased;
      bool TopRaised = true, BottomRaised = true;
      QColor C1, C2, C3;
    };
    const TLook looks[] = {
        {siReleased, true, true, c.Shadow, c.DarkShadow, c.Highlight},
        {siTopPressed, false, true, c.Face, c.Highlight, c.Highlight},
        {siBottomPressed, true, false, c.Shadow, c.Shadow, c.Frame},
        {siDisabled, true, true, c.Shadow, c.DarkShadow, c.Highlight},
    };
    for (const TLook& look : looks) {
      QImage& image = images[look.Image];
      SoftEdge(image, image.rect(), look.TopRaised, esTopLeft, c, line);
      SoftEdge(image, image.rect(), look.BottomRaised, esBottomRight, c, line);
      DiagonalLines(image, look.C1, look.C2, look.C3, line, ratio);
      if (shape.CustomGlyphs) continue;
      const QPoint upAt =
          DiagonalUpPosition(w, h, up.size(), (look.Image == siTopPressed ? 2 : 1) * line);
      const QPoint downAt = DiagonalDownPosition(w, h, down.size(), line);
      if (look.Image == siDisabled) {
        PaintDisabledGlyph(image, up, upAt, c, image.rect(), line);
        PaintDisabledGlyph(image, down, downAt, c, image.rect(), line);
      } else {
        PaintGlyph(image, up, upAt, Qt::black, image.rect());
        PaintGlyph(image, down, downAt, Qt::black, image.rect());
      }
    }
  } else {
    const QImage up = PoleGlyph(true, ratio);
    const QImage down = PoleGlyph(false, ratio);
    for (TSpinButtonImage which : {siReleased, siTopPressed, siBottomPressed, siDisabled}) {
      QImage& image = images[which];
      const bool topPressed = which == siTopPressed;
      // The bottom half goes first; the top half, one pixel taller unless it is pressed, then
      // lays its lower edge over the seam.
      SoftEdge(image, HalfRect(w, h, false), which != siBottomPressed, esAllSides, c, line);
      QRect top = HalfRect(w, h, true);
      if (!topPressed) top.setHeight(top.height() + line);
      SoftEdge(image, top, !topPressed, esAllSides, c, line);
      if (shape.CustomGlyphs) continue;
      for (bool isTop : {true, false}) {
        const QImage& glyph = isTop ? up : down;
        const QPoint at = PoleGlyphPosition(w, h, glyph.size(), isTop);
        const QRect clip = HalfRect(w, h, isTop);
        if (which == siDisabled) {
          PaintDisabledGlyph(image, glyph, at, c, clip, line);
        } else {
          PaintGlyph(image, glyph, at, Qt::black, clip);
        }
      }
    }
  }
  images[siTopHot] = images[siReleased];
  images[siBottomHot] = images[siReleased];
}

void DrawThemed(TSpinButtonImages& images, const TSpinButtonShape& shape, const QWidget& widget) {
  const int w = shape.Size.width(), h = shape.Size.height();
  const qreal ratio = shape.Ratio;
  const int line = std::max(1, Round(ratio));
  // The style draws in logical coordinates over the device pixels of the images.
  const qreal logicalW = w / ratio, logicalH = h / ratio;
  QStyle* style = widget.style();
  const QColor face = widget.palette().color(QPalette::Button);
  if (!shape.Classic) {
    // One push-button background per state over the rectangle grown by a pixel, so that the
    // button's own rim lies just outside the image.
    std::array<QImage, 4> backgrounds;
    for (int state = tsNormal; state <= tsDisabled; ++state) {
      QImage& background = backgrounds[static_cast<std::size_t>(state)];
      background = NewStyleImage(shape.Size, ratio, face);
      QPainter painter(&background);
      QStyleOptionButton option;
      InitThemeOption(option, widget, static_cast<TThemeState>(state));
      option.rect = QRectF(-1, -1, logicalW + 2, logicalH + 2).toRect();
      style->drawPrimitive(QStyle::PE_PanelButtonCommand, &option, &painter, &widget);
    }
    // The cut runs from the grown rectangle's bottom-left to its top-right corner.
    const double ax = -ratio, ay = h + ratio, bx = w + ratio, by = -ratio;
    const QPalette& palette = widget.palette();
    const QImage up = ArrowGlyph(true, ratio);
    const QImage down = ArrowGlyph(false, ratio);
    const TClassicColours disabledColours(palette, QPalette::Disabled);
    for (std::size_t i = 0; i < images.size(); ++i) {
      const auto [topState, bottomState] = kThemePairs[i];
      QImage& image = images[i];
      image = NewImage(shape.Size, face);
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
          const double cross = (bx - ax) * (y + 0.5 - ay) - (by - ay) * (x + 0.5 - ax);
          const TThemeState state = cross < 0 ? topState : bottomState;
          image.setPixel(x, y, backgrounds[static_cast<std::size_t>(state)].pixel(x, y));
        }
      }
      DiagonalLines(image, palette.color(QPalette::Light), palette.color(QPalette::Dark),
                    palette.color(QPalette::Mid), line, ratio);
      if (shape.CustomGlyphs) continue;
      const QPoint upAt = DiagonalUpPosition(w, h, up.size(), line);
      const QPoint downAt = DiagonalDownPosition(w, h, down.size(), line);
      if (i == siDisabled) {
        PaintDisabledGlyph(image, up, upAt, disabledColours, image.rect(), line);
        PaintDisabledGlyph(image, down, downAt, disabledColours, image.rect(), line);
      } else {
        const QColor text = palette.color(QPalette::ButtonText);
        PaintGlyph(image, up, upAt, text, image.rect());
        PaintGlyph(image, down, downAt, text, image.rect());
      }
    }
  } else {
    // The style's spin-box arrows over its push-button panels, one per half.
    const int logicalHeight = static_cast<int>(std::round(logicalH));
    const int logicalWidth = static_cast<int>(std::round(logicalW));
    for (std::size_t i = 0; i < images.size(); ++i) {
      QImage& image = images[i];
      image = NewStyleImage(shape.Size, ratio, face);
      {
        QPainter painter(&image);
        for (bool isTop : {true, false}) {
          const TThemeState state = isTop ? kThemePairs[i].first : kThemePairs[i].second;
          const QRect half = HalfRect(logicalWidth, logicalHeight, isTop);
          painter.save();
          painter.setClipRect(half);
          QStyleOptionButton panel;
          InitThemeOption(panel, widget, state);
          panel.rect = half.adjusted(-1, -1, 1, 1);
          style->drawPrimitive(QStyle::PE_PanelButtonCommand, &panel, &painter, &widget);
          QStyleOption arrow;
          InitThemeOption(arrow, widget, state);
          arrow.rect = half;
          style->drawPrimitive(isTop ? QStyle::PE_IndicatorSpinUp : QStyle::PE_IndicatorSpinDown,
                               &arrow, &painter, &widget);
          painter.restore();
        }
      }
      image.setDevicePixelRatio(1);
    }
  }
}

}  // namespace

const QImage& SpinGlyph(const char* name) {
  static std::map<std::string, QImage> glyphs;
  auto it = glyphs.find(name);
  if (it == glyphs.end()) {
    const QImage loaded = LoadBuiltinBitmap(name);
    QImage mask(loaded.size(), QImage::Format_ARGB32);
    mask.fill(Qt::transparent);
    for (int y = 0; y < loaded.height(); ++y) {
      for (int x = 0; x < loaded.width(); ++x) {
        if (qGray(loaded.pixel(x, y)) < 128) mask.setPixelColor(x, y, Qt::black);
      }
    }
    it = glyphs.emplace(name, mask).first;
  }
  return it->second;
}

void DrawSpinButtonImages(TSpinButtonImages& images,
                          const TSpinButtonShape& shape,
                          const QWidget& widget,
                          bool themed) {
  if (themed) {
    DrawThemed(images, shape, widget);
  } else {
    DrawClassic(images, shape, widget.palette());
  }
}

QImage DrawOwnGlyphs(const QImage& up,
                     const QImage& down,
                     QSize size,
                     bool classic,
                     bool themed,
                     TSpinButtonImage image,
                     const QWidget& widget) {
  // Drawn through an image so the clipping and the disabled look match the built-in glyphs.
  QImage layer(size, QImage::Format_ARGB32_Premultiplied);
  layer.fill(Qt::transparent);
  const TClassicColours colours(widget.palette(),
                                widget.isEnabled() ? QPalette::Active : QPalette::Disabled);
  for (bool isTop : {true, false}) {
    const QImage& source = isTop ? up : down;
    if (source.isNull()) continue;
    const QImage mask = GlyphMask(source);
    QPoint at;
    QRect clip = layer.rect();
    if (classic) {
      at = PoleGlyphPosition(size.width(), size.height(), source.size(), isTop);
      clip = HalfRect(size.width(), size.height(), isTop);
    } else if (isTop) {
      at = DiagonalUpPosition(size.width(), size.height(), source.size(),
                              !themed && image == siTopPressed ? 2 : 1);
    } else {
      at = DiagonalDownPosition(size.width(), size.height(), source.size(), 1);
    }
    if (image == siDisabled) {
      PaintDisabledGlyph(layer, mask, at, colours, clip);
      continue;
    }
    for (int y = 0; y < source.height(); ++y) {
      for (int x = 0; x < source.width(); ++x) {
        if (mask.pixelColor(x, y).alpha() != 0) {
          Plot(layer, at.x() + x, at.y() + y, source.pixelColor(x, y), clip);
        }
      }
    }
  }
  return layer;
}

}  // namespace glowstep
