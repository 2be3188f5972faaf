// Captions that fit their boxes whatever the font: the form gives every label and button a fixed
// rectangle, laid out for one family's metrics. Where the family drawn is wider (only a fallback
// is installed) or a translation is longer, the caption's font is made smaller by whole pixels
// until the caption fits its rectangle, wrapping words where the label wraps them.
#pragma once

#include <QFont>
#include <QSize>
#include <QString>

class QPushButton;
class QLabel;

namespace glowstep {

// No caption is made smaller than this: below it the text could not be read.
inline constexpr int kSmallestCaptionPixels = 7;

// Whether `text`, drawn in `font` with the drawing flags `flags` (alignment, Qt::TextWordWrap),
// stays within a box of `size`.
bool CaptionFits(const QFont& font, const QString& text, QSize size, int flags);

// The largest pixel size, from `font`'s own down to kSmallestCaptionPixels, at which `text`
// fits `size`; kSmallestCaptionPixels when none does.
int FittingPixelSize(const QFont& font, const QString& text, QSize size, int flags);

// The flags a label draws its text with, and the box a button leaves for its caption.
int CaptionFlags(const QLabel& label);
QSize CaptionBox(const QPushButton& button);

// Gives the caption the font it fits in: `font` itself (the label inherits it again), or the
// same font a few pixels smaller.
void FitCaption(QLabel& label, const QFont& font);
void FitCaption(QPushButton& button, const QFont& font);

}  // namespace glowstep
