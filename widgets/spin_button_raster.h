// The spin button's looks, drawn pixel by pixel into images: the 3-D edges, the three lines
// along the diagonal (or the seam between the halves) and the arrows, in the classic colours or
// over the widget style's own push-button panels.
//
// At a device pixel ratio of 1 every pixel is placed as the button was designed, from the
// built-in glyph bitmaps. At any other ratio the same shapes are drawn at that ratio in device
// pixels: edges and lines as many device pixels wide as a logical pixel is, the diagonal lines
// as bands of that width, and arrows with one device pixel's step per row along their slopes.
#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <array>

class QWidget;

namespace glowstep {

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

using TSpinButtonImages = std::array<QImage, siImageCount>;

// What the images are drawn for: their size in device pixels, the device pixels per logical
// pixel, how the button is split, and whether the button brings glyphs of its own (then no
// built-in arrows are drawn).
struct TSpinButtonShape {
  QSize Size;
  qreal Ratio = 1;
  bool Classic = false;  // split across the middle rather than along the diagonal
  bool CustomGlyphs = false;
};

// Draws the six looks in `widget`'s palette: in the classic colours, or over the panels of
// `widget`'s style ("themed"). Without the style's look the two hot images equal the released
// one.
void DrawSpinButtonImages(TSpinButtonImages& images,
                          const TSpinButtonShape& shape,
                          const QWidget& widget,
                          bool themed);

// The button's own glyphs drawn over its image, at the built-in glyphs' places for its size and
// look (the up glyph one pixel further right and down while the top half is pressed in the
// classic look), clipped to their halves where the button is split across, in the disabled look
// when disabled. `up` and `down` may be null. The result is of the button's logical size.
QImage DrawOwnGlyphs(const QImage& up,
                     const QImage& down,
                     QSize size,
                     bool classic,
                     bool themed,
                     TSpinButtonImage image,
                     const QWidget& widget);

// The built-in glyphs ("SpinUP", "SpinDOWN", "SpinUPPOLE", "SpinDOWNPOLE"), loaded once from
// the program's resources: black pixels are the glyph, white ones are transparent.
const QImage& SpinGlyph(const char* name);

}  // namespace glowstep
