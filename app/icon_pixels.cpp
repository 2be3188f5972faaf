// Build step: writes the pixels of an image as a C++ header, so that the program shows its icon
// without decoding an image file at start-up.
//   glowstep-icon-pixels <image> <header> <name>
// The header defines <name>Width, <name>Height and <name>Pixels: one 0xAARRGGBB value per pixel,
// row by row, which is how QImage::Format_ARGB32 lays out its pixels in memory.
#include <QFile>
#include <QFileInfo>
#include <QImage>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s <image> <header> <name>\n", argv[0]);
    return 2;
  }
  const QImage image =
      QImage(QString::fromLocal8Bit(argv[1])).convertToFormat(QImage::Format_ARGB32);
  if (image.isNull()) {
    std::fprintf(stderr, "%s: cannot read the image %s\n", argv[0], argv[1]);
    return 1;
  }
  const QByteArray name(argv[3]);
  const QByteArray source = QFileInfo(QString::fromLocal8Bit(argv[1])).fileName().toUtf8();
  QByteArray text = "// Made by glowstep-icon-pixels from " + source + ".\n#pragma once\n\n";
  text += "#include <cstdint>\n\n";
  text += "inline constexpr int " + name + "Width = " + QByteArray::number(image.width()) + ";\n";
  text += "inline constexpr int " + name + "Height = " + QByteArray::number(image.height()) + ";\n";
  text += "alignas(4) inline constexpr std::uint32_t " + name + "Pixels[] = {";
  for (int y = 0; y < image.height(); ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    text += "\n   ";
    for (int x = 0; x < image.width(); ++x) {
      text += " 0x" + QByteArray::number(row[x], 16).rightJustified(8, '0') + ',';
    }
  }
  text += "\n};\n";
  QFile header(QString::fromLocal8Bit(argv[2]));
  if (!header.open(QIODevice::WriteOnly) || header.write(text) != text.size()) {
    std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[2]);
    return 1;
  }
  return 0;
}
