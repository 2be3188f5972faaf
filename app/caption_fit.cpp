#include "app/caption_fit.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>

#include <algorithm>

namespace glowstep {
namespace {

// Measured in a box of the caption's width and of any height, so that the height it takes can
// be compared with the box's.
constexpr qreal kAnyHeight = 1 << 16;

int PixelSizeOf(const QFont& font) {
  return font.pixelSize() > 0 ? font.pixelSize() : QFontInfo(font).pixelSize();
}

// A widget in the font it fits in: none of its own where that is the inherited one, so that it
// follows the window's font as before.
void UseFont(QWidget& widget, const QFont& inherited, int pixelSize) {
  if (pixelSize == PixelSizeOf(inherited)) {
    if (widget.testAttribute(Qt::WA_SetFont)) widget.setFont(QFont());
    return;
  }
  QFont smaller = inherited;
  smaller.setPixelSize(pixelSize);
  widget.setFont(smaller);
}

}  // namespace

bool CaptionFits(const QFont& font, const QString& text, QSize size, int flags) {
  const QFontMetricsF metrics(font);
  if ((flags & Qt::TextWordWrap) != 0) {
    // Wrapped as the label wraps it; a word longer than a line makes the text wider than the
    // box.
    const int across = (flags & Qt::AlignHorizontal_Mask) | Qt::AlignTop | Qt::TextWordWrap;
    const QRectF needed =
        metrics.boundingRect(QRectF(0, 0, size.width(), kAnyHeight), across, text);
    return needed.width() <= size.width() && needed.height() <= size.height();
  }
  // One line, cut at the box's edge: what counts is where the last letter's ink ends, not the
  // room after it. Letters stand at fractional positions, so ink that ends within the first
  // pixel past the box loses no more than a faint fringe of that pixel.
  qreal width = metrics.horizontalAdvance(text);
  if (!text.isEmpty()) width -= std::max<qreal>(metrics.rightBearing(text.back()), 0);
  return width < size.width() + 1 && metrics.height() <= size.height();
}

int FittingPixelSize(const QFont& font, const QString& text, QSize size, int flags) {
  QFont trial = font;
  for (int pixels = PixelSizeOf(font); pixels > kSmallestCaptionPixels; --pixels) {
    trial.setPixelSize(pixels);
    if (CaptionFits(trial, text, size, flags)) return pixels;
  }
  return kSmallestCaptionPixels;
}

int CaptionFlags(const QLabel& label) {
  return static_cast<int>(label.alignment()) | (label.wordWrap() ? Qt::TextWordWrap : 0);
}

QSize CaptionBox(const QPushButton& button) {
  QStyleOptionButton option;
  option.initFrom(&button);
  option.text = button.text();
  return button.style()->subElementRect(QStyle::SE_PushButtonContents, &option, &button).size();
}

void FitCaption(QLabel& label, const QFont& font) {
  UseFont(label, font,
          FittingPixelSize(font, label.text(), label.contentsRect().size(), CaptionFlags(label)));
}

void FitCaption(QPushButton& button, const QFont& font) {
  const int flags = Qt::AlignCenter | Qt::TextShowMnemonic;
  UseFont(button, font, FittingPixelSize(font, button.text(), CaptionBox(button), flags));
}

}  // namespace glowstep
