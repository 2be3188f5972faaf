#include "slider_led_bitmaps.h"

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

// Horizontal thumb: the normal picture and, right of it, the pressed (dithered) one.
constexpr std::array<std::string_view, 17> W95HTB = {
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
constexpr std::array<std::string_view, 8> W95HRL = {
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
constexpr std::array<std::string_view, 9> W95VTB = {
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
constexpr std::array<std::string_view, 10> W95VRL = {
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
constexpr std::array<std::string_view, 17> CustomLEDGREEN = {
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
constexpr std::array<std::string_view, 17> CustomLEDMASK = {
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

constexpr std::array<TPicture, 6> Pictures = {{
    {"W95HTB", W95HTB.size(), W95HTB.data()},
    {"W95HRL", W95HRL.size(), W95HRL.data()},
    {"W95VTB", W95VTB.size(), W95VTB.data()},
    {"W95VRL", W95VRL.size(), W95VRL.data()},
    {"CustomLEDGREEN", CustomLEDGREEN.size(), CustomLEDGREEN.data()},
    {"CustomLEDMASK", CustomLEDMASK.size(), CustomLEDMASK.data()},
}};

// Every row of a picture has the width of its first row; a typo in the table fails the build.
constexpr bool RowsAreEven(const TPicture& picture) {
  for (std::size_t row = 0; row < picture.Rows; ++row) {
    if (picture.Pixels[row].size() != picture.Pixels[0].size()) return false;
  }
  return true;
}
static_assert(RowsAreEven(Pictures[0]) && RowsAreEven(Pictures[1]) && RowsAreEven(Pictures[2]) &&
              RowsAreEven(Pictures[3]) && RowsAreEven(Pictures[4]) && RowsAreEven(Pictures[5]));

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

QImage LoadSliderLedBitmap(std::string_view name) {
  // Made once per name; QImage shares the pixels, and a caller that paints into its copy
  // detaches from the cached one.
  static std::array<QImage, Pictures.size()> cache;
  for (std::size_t i = 0; i < Pictures.size(); ++i) {
    if (Pictures[i].Name != name) continue;
    if (cache[i].isNull()) cache[i] = MakeImage(Pictures[i]);
    return cache[i];
  }
  return {};
}

}  // namespace glowstep
