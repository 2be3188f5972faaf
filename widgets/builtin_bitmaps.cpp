#include "widgets/builtin_bitmaps.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace glowstep {
namespace {

// Colours of the 16-colour palette the pictures use. The magenta dot is the slider pictures'
// transparent colour: it is their bottom-left pixel.
QRgb ColourOf(char letter) {
  switch (letter) {
    case 'K':
      return qRgb(0, 0, 0);
    case 'D':
      return qRgb(128, 128, 128);
    case 'L':
      return qRgb(192, 192, 192);
    case 'H':
      return qRgb(255, 255, 255);
    case 'G':
      return qRgb(0, 255, 0);
    case '.':
      return qRgb(255, 0, 255);
    default:
      return qRgb(0, 0, 0);
  }
}

struct TPicture {
  std::string_view Name;
  std::size_t Rows;
  const std::string_view* Pixels;
};

// The spin button's glyphs: black on white, and white is transparent where they are drawn.
constexpr std::array<std::string_view, 6> kSpinUp = {
    "HHKKHH",  //
    "HKKKKH",  //
    "KKKKKK",  //
    "HHKKHH",  //
    "HHKKHH",  //
    "HHKKHH",  //
};

constexpr std::array<std::string_view, 6> kSpinDown = {
    "HHKKHH",  //
    "HHKKHH",  //
    "HHKKHH",  //
    "KKKKKK",  //
    "HKKKKH",  //
    "HHKKHH",  //
};

// The classic button's triangles.
constexpr std::array<std::string_view, 4> kSpinUpPole = {
    "HHHKHHH",  //
    "HHKKKHH",  //
    "HKKKKKH",  //
    "KKKKKKK",  //
};

constexpr std::array<std::string_view, 4> kSpinDownPole = {
    "KKKKKKK",  //
    "HKKKKKH",  //
    "HHKKKHH",  //
    "HHHKHHH",  //
};

// Horizontal thumb: the normal picture and, right of it, the pressed (dithered) one.
constexpr std::array<std::string_view, 17> kHorizontalThumb = {
    "HHHHHHHHKHHHHHHHHK",  //
    "HLLLLLLDKHLLLLLLDK",  //
    "HLLLLLLDKHLHLHLHDK",  //
    "HLLLLLLDKHLLHLHLDK",  //
    "HLLLLLLDKHLHLHLHDK",  //
    "HLLLLLLDKHLLHLHLDK",  //
    "HLLLLLLDKHLHLHLHDK",  //
    "HLLLLLLDKHLLHLHLDK",  //
    "HLLLLLLDKHLHLHLHDK",  //
    "HLLLLLLDKHLLHLHLDK",  //
    "HLLLLLLDKHLHLHLHDK",  //
    "HLLLLLLDKHLLHLHLDK",  //
    "HLLLLLLDKHLHLHLHDK",  //
    ".HLLLLDK..HLHLHDK.",  //
    "..HLLDK....HLHDK..",  //
    "...HDK......HDK...",  //
    "....K........K....",  //
};

// Horizontal groove, four pixels high.
constexpr std::array<std::string_view, 8> kHorizontalRuler = {
    "..........",  //
    "..........",  //
    "DDDDDDDDDH",  //
    "DKKKKKKKLH",  //
    "DLLLLLLLLH",  //
    "HHHHHHHHHH",  //
    "..........",  //
    "..........",  //
};

// Vertical thumb: normal and pressed, side by side.
constexpr std::array<std::string_view, 9> kVerticalThumb = {
    ".KKKKKKKKKKKKK......KKKKKKKKKKKKK.....",  //
    ".HDDDDDDDDDDDDK.....HDDDDDDDDDDDDK....",  //
    ".HLLLLLLLLLLLLDK....HLHLHLHLHLHLHDK...",  //
    ".HLLLLLLLLLLLLLDK...HLLHLHLHLHLHLHDK..",  //
    ".HLLLLLLLLLLLLLLDK..HLHLHLHLHLHLHLHDK.",  //
    ".HLLLLLLLLLLLLLLH...HLLHLHLHLHLHLHLH..",  //
    ".HLLLLLLLLLLLLLH....HLHLHLHLHLHLHLH...",  //
    ".HLLLLLLLLLLLLH.....HLLLLLLLLLLLLH....",  //
    ".HHHHHHHHHHHHH......HHHHHHHHHHHHH.....",  //
};

// Vertical groove, four pixels wide.
constexpr std::array<std::string_view, 10> kVerticalRuler = {
    "..DDDH..",  //
    "..DKLH..",  //
    "..DKLH..",  //
    "..DKLH..",  //
    "..DKLH..",  //
    "..DKLH..",  //
    "..DKLH..",  //
    "..DKLH..",  //
    "..DLLH..",  //
    "..HHHH..",  //
};

// The LED: black surroundings, dark grey rim, green disc with a white highlight. Only the pure
// green pixels are recoloured when the LED shows another colour.
constexpr std::array<std::string_view, 17> kLedPicture = {
    "KKKKKKKKKKKKKKKKK",  //
    "KKKKKKKKKKKKKKKKK",  //
    "KKKKKKDDDDDKKKKKK",  //
    "KKKKDDGGGGGDDKKKK",  //
    "KKKDGGGGGGGGGDKKK",  //
    "KKKDGGHHHGGGGDKKK",  //
    "KKDGGHHHGGGGGGDKK",  //
    "KKDGGHHGGGGGGGDKK",  //
    "KKDGGHGGGGGGGGDKK",  //
    "KKDGGGGGGGGGGGDKK",  //
    "KKDGGGGGGGGGGGDKK",  //
    "KKKDGGGGGGGGGDKKK",  //
    "KKKDGGGGGGGGGDKKK",  //
    "KKKKDDGGGGGDDKKKK",  //
    "KKKKKKDDDDDDKKKKK",  //
    "KKKKKKKKKKKKKKKKK",  //
    "KKKKKKKKKKKKKKKKK",  //
};

// The LED's mask: white where the background shows, black over the LED and its rim.
constexpr std::array<std::string_view, 17> kLedMask = {
    "HHHHHHHHHHHHHHHHH",  //
    "HHHHHHHHHHHHHHHHH",  //
    "HHHHHHKKKKKHHHHHH",  //
    "HHHHKKKKKKKKKHHHH",  //
    "HHHKKKKKKKKKKKHHH",  //
    "HHHKKKKKKKKKKKHHH",  //
    "HHKKKKKKKKKKKKKHH",  //
    "HHKKKKKKKKKKKKKHH",  //
    "HHKKKKKKKKKKKKKHH",  //
    "HHKKKKKKKKKKKKKHH",  //
    "HHKKKKKKKKKKKKKHH",  //
    "HHHKKKKKKKKKKKHHH",  //
    "HHHKKKKKKKKKKKHHH",  //
    "HHHHKKKKKKKKKHHHH",  //
    "HHHHHHKKKKKKHHHHH",  //
    "HHHHHHHHHHHHHHHHH",  //
    "HHHHHHHHHHHHHHHHH",  //
};

constexpr std::array<TPicture, 10> kPictures = {{
    {"SpinUP", kSpinUp.size(), kSpinUp.data()},
    {"SpinDOWN", kSpinDown.size(), kSpinDown.data()},
    {"SpinUPPOLE", kSpinUpPole.size(), kSpinUpPole.data()},
    {"SpinDOWNPOLE", kSpinDownPole.size(), kSpinDownPole.data()},
    {"W95HTB", kHorizontalThumb.size(), kHorizontalThumb.data()},
    {"W95HRL", kHorizontalRuler.size(), kHorizontalRuler.data()},
    {"W95VTB", kVerticalThumb.size(), kVerticalThumb.data()},
    {"W95VRL", kVerticalRuler.size(), kVerticalRuler.data()},
    {"CustomLEDGREEN", kLedPicture.size(), kLedPicture.data()},
    {"CustomLEDMASK", kLedMask.size(), kLedMask.data()},
}};

// Every row of a picture has the width of its first row; a typo in the table fails the build.
constexpr bool RowsAreEven(const TPicture& picture) {
  for (std::size_t row = 0; row < picture.Rows; ++row) {
    if (picture.Pixels[row].size() != picture.Pixels[0].size()) return false;
  }
  return true;
}
static_assert(std::all_of(kPictures.begin(), kPictures.end(), RowsAreEven));

QImage MakeImage(const TPicture& picture) {
  const auto width = static_cast<int>(picture.Pixels[0].size());
  QImage image(width, static_cast<int>(picture.Rows), QImage::Format_RGB32);
  for (std::size_t row = 0; row < picture.Rows; ++row) {
    for (int x = 0; x < width; ++x) {
      image.setPixel(x, static_cast<int>(row),
                     ColourOf(picture.Pixels[row][static_cast<std::size_t>(x)]));
    }
  }
  return image;
}

}  // namespace

QImage LoadBuiltinBitmap(std::string_view name) {
  // Made once per name; QImage shares the pixels, and a caller that paints into its copy
  // detaches from the cached one.
  static std::array<QImage, kPictures.size()> cache;
  for (std::size_t i = 0; i < kPictures.size(); ++i) {
    if (kPictures[i].Name != name) continue;
    if (cache[i].isNull()) cache[i] = MakeImage(kPictures[i]);
    return cache[i];
  }
  return {};
}

}  // namespace glowstep
