// The window's plain controls drawn at device pixel ratios other than 1.
#include <QTest>

#include <cmath>

#include "app/form_controls.h"

using namespace glowstep;

class FormControlsTest : public QObject {
  Q_OBJECT

 private slots:
  void swatchFrameIsAsThickOnEverySide_data() {
    QTest::addColumn<qreal>("ratio");
    for (const qreal ratio : {1.0, 1.25, 1.5, 1.75, 2.0, 3.0}) QTest::addRow("%g", ratio) << ratio;
  }
  void swatchFrameIsAsThickOnEverySide() {
    QFETCH(qreal, ratio);
    TShape swatch;
    swatch.resize(113, 73);  // the window's
    swatch.SetBrushColor(Qt::white);
    // One logical pixel in from the corner: at 125 % and 150 % a fraction of a device pixel.
    QImage image(static_cast<int>(std::ceil(115 * ratio)), static_cast<int>(std::ceil(75 * ratio)),
                 QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::red);
    swatch.render(&image, QPoint(1, 1));
    image.setDevicePixelRatio(1);
    const auto black = [&](QPoint from, QPoint step) {
      int length = 0;
      for (QPoint at = from; image.rect().contains(at) && image.pixel(at) != qRgb(255, 255, 255);
           at += step) {
        if (image.pixel(at) == qRgb(0, 0, 0)) ++length;
      }
      return length;
    };
    const int line = std::max(1, static_cast<int>(std::round(ratio)));
    const int midX = image.width() / 2, midY = image.height() / 2;
    QCOMPARE(black({0, midY}, {1, 0}), line);
    QCOMPARE(black({image.width() - 1, midY}, {-1, 0}), line);
    QCOMPARE(black({midX, 0}, {0, 1}), line);
    QCOMPARE(black({midX, image.height() - 1}, {0, -1}), line);
  }
};

QTEST_MAIN(FormControlsTest)
#include "form_controls_test.moc"
