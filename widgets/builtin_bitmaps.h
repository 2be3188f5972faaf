// The built-in pictures of the controls: the spin button's glyphs, the slider's thumbs and
// rulers, and the LED with its mask.
//
// They are kept as rows of letters in builtin_bitmaps.cpp, one letter per pixel, so that the
// pictures can be read and reviewed as text; an image is made from its rows on first use.
#pragma once

#include <QImage>

#include <string_view>

namespace glowstep {

// The picture registered under `name` ("SpinUP", "SpinDOWN", "SpinUPPOLE", "SpinDOWNPOLE",
// "W95HTB", "W95HRL", "W95VTB", "W95VRL", "CustomLEDGREEN", "CustomLEDMASK"), as an opaque
// 32-bit image; a null image for any other name.
QImage LoadBuiltinBitmap(std::string_view name);

}  // namespace glowstep
