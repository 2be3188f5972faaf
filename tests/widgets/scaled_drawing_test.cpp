// The controls rendered offscreen at device pixel ratios other than 1, as on screens at 125 to
// 300 %: their shapes are drawn at the ratio, not their 100 % pictures enlarged. What is checked
// are the shapes' properties, not pixels: the arrows and the thumb's point narrow by one device
// pixel on each side per row (an enlarged picture narrows in steps of two rows or more), the
// ticks stand at gaps that differ by one device pixel at most, the bevel is as thick on every
// side, and the LED is round.
#include <QTest>

#include <cmath>
#include <optional>
#include <vector>

#include "widgets/led.h"
#include "widgets/slider.h"
#include "widgets/spin_button.h"

using namespace glowstep;

namespace {

const QColor kBackground(20, 40, 160);

QImage Render(QWidget& widget, qreal ratio) {
  // The device pixels the widget covers when it stands at the origin.
  const QSize size(static_cast<int>(std::round(widget.width() * ratio)),
                   static_cast<int>(std::round(widget.height() * ratio)));
  QImage image(size, QImage::Format_RGB32);
  image.setDevicePixelRatio(ratio);
  image.fill(kBackground);
  widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
  image.setDevicePixelRatio(1);
  return image;
}

// The first and one past the last pixel of row `y` in [from, to) that `is` picks, if any.
template <typename TPick>
std::optional<std::pair<int, int>> Span(const QImage& image, int y, int from, int to, TPick is) {
  std::optional<std::pair<int, int>> span;
  for (int x = std::max(from, 0); x < std::min(to, image.width()); ++x) {
    if (!is(image.pixel(x, y))) continue;
    if (!span) span = std::pair{x, x};
    span->second = x + 1;
  }
  return span;
}

// From row to row along a point, the span narrows by one pixel on each side (or, read the other
// way, widens): no two rows alike, no step of two pixels.
void CheckNarrowsByOnePixel(const std::vector<std::pair<int, int>>& rows, const char* what) {
  QVERIFY2(rows.size() >= 2, what);
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const int left = rows[i].first - rows[i - 1].first;
    const int right = rows[i - 1].second - rows[i].second;
    QVERIFY2(std::abs(left) == 1 && right == left,
             qPrintable(QStringLiteral("%1: row %2 spans %3..%4 after %5..%6")
                            .arg(what)
                            .arg(i)
                            .arg(rows[i].first)
                            .arg(rows[i].second)
                            .arg(rows[i - 1].first)
                            .arg(rows[i - 1].second)));
  }
}

void AddRatios() {
  QTest::addColumn<qreal>("ratio");
  for (const qreal ratio : {1.25, 1.5, 1.75, 2.0, 3.0}) QTest::addRow("%g", ratio) << ratio;
}

}  // namespace

class ScaledDrawingTest : public QObject {
  Q_OBJECT

 private slots:
  void spinButtonArrowsNarrowByOnePixelPerRow_data() { AddRatios(); }
  void spinButtonArrowsNarrowByOnePixelPerRow() {
    QFETCH(qreal, ratio);
    TSpinButton button;
    button.resize(17, 17);
    // The arrows in a colour nothing else of the button has.
    QPalette palette = button.palette();
    palette.setColor(QPalette::ButtonText, QColor(255, 0, 0));
    button.setPalette(palette);
    const QImage image = Render(button, ratio);
    const auto arrow = [](QRgb pixel) { return pixel == qRgb(255, 0, 0); };
    const int w = image.width(), h = image.height();
    for (const bool up : {true, false}) {
      // The arrow's head: from its point to its widest row.
      std::vector<std::pair<int, int>> head;
      for (int i = 0; i < h; ++i) {
        const int y = up ? i : h - 1 - i;
        // Only the arrow on this side of the diagonal.
        const auto span =
            up ? Span(image, y, 0, w - y * w / h, arrow) : Span(image, y, w - y * w / h, w, arrow);
        if (!span) continue;
        if (!head.empty() && span->second - span->first <= head.back().second - head.back().first)
          break;
        head.push_back(*span);
      }
      CheckNarrowsByOnePixel(head, up ? "up arrow" : "down arrow");
    }
  }

  void sliderTicksStandAtEvenGapsUnderTheThumbsPoint_data() { AddRatios(); }
  void sliderTicksStandAtEvenGapsUnderTheThumbsPoint() {
    QFETCH(qreal, ratio);
    // The window's photo-sensor slider.
    TSlider slider;
    slider.resize(353, 40);
    slider.SetMaxValue(1000);
    slider.SetIncrement(20);
    slider.SetValue(100);
    QPalette palette = slider.palette();
    palette.setColor(QPalette::WindowText, QColor(0, 0, 255));
    palette.setColor(QPalette::Window, kBackground);
    slider.setPalette(palette);
    const QImage image = Render(slider, ratio);
    // The ticks, one device row into their band.
    const int y = static_cast<int>(std::round(slider.PointsBand().top() * ratio)) + 1;
    std::vector<std::pair<int, int>> ticks;
    for (int x = 0; x < image.width(); ++x) {
      if (image.pixel(x, y) != qRgb(0, 0, 255)) continue;
      if (!ticks.empty() && ticks.back().second == x) {
        ++ticks.back().second;
      } else {
        ticks.emplace_back(x, x + 1);
      }
    }
    QCOMPARE(ticks.size(), std::size_t{51});
    int fewest = image.width(), most = 0;
    for (std::size_t i = 1; i < ticks.size(); ++i) {
      QCOMPARE(ticks[i].second - ticks[i].first, ticks[0].second - ticks[0].first);
      const int gap = ticks[i].first - ticks[i - 1].first;
      fewest = std::min(fewest, gap);
      most = std::max(most, gap);
    }
    QVERIFY2(most - fewest <= 1, qPrintable(QStringLiteral("gaps %1 to %2").arg(fewest).arg(most)));

    // The thumb's point, between the ruler and the ticks: one pixel narrower per row on each
    // side, down to the pixel its value's tick stands under.
    const auto thumb = [](QRgb pixel) { return pixel != kBackground.rgb(); };
    std::vector<std::pair<int, int>> rows;
    const int belowRuler = slider.RulerOrigin().y() + slider.RulerBitmap().height();
    for (int row = static_cast<int>(std::ceil(belowRuler * ratio)); row < y - 1; ++row) {
      const auto span = Span(image, row, 0, image.width(), thumb);
      if (span) rows.push_back(*span);
    }
    // From the last of the thumb's widest rows down.
    std::size_t widest = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (rows[i].second - rows[i].first >= rows[widest].second - rows[widest].first) widest = i;
    }
    const std::vector<std::pair<int, int>> point(rows.begin() + static_cast<std::ptrdiff_t>(widest),
                                                 rows.end());
    CheckNarrowsByOnePixel(point, "thumb's point");
    QCOMPARE(point.back().second - point.back().first, 1);
    const auto tick = std::find_if(ticks.begin(), ticks.end(), [&](const auto& t) {
      return t.second > point.back().first && t.first <= point.back().first;
    });
    QVERIFY2(tick != ticks.end(), "the thumb's point has a tick under it");
  }

  void sliderBevelIsAsThickOnEverySide_data() { AddRatios(); }
  void sliderBevelIsAsThickOnEverySide() {
    QFETCH(qreal, ratio);
    TSlider slider;
    slider.resize(151, 41);
    slider.SetBevelStyle(TSlider::bvLowered);
    QPalette palette = slider.palette();
    palette.setColor(QPalette::Dark, QColor(255, 0, 0));
    palette.setColor(QPalette::Light, QColor(0, 0, 255));
    palette.setColor(QPalette::Window, kBackground);
    slider.setPalette(palette);
    const QImage image = Render(slider, ratio);
    const int line = std::max(1, static_cast<int>(std::round(ratio)));
    const int midX = image.width() / 2, midY = image.height() / 2;
    const auto run = [&](QPoint from, QPoint step, QRgb colour) {
      int length = 0;
      for (QPoint at = from; image.rect().contains(at) && image.pixel(at) == colour; at += step)
        ++length;
      return length;
    };
    const QRgb shadow = qRgb(255, 0, 0), highlight = qRgb(0, 0, 255);
    QCOMPARE(run({0, midY}, {1, 0}, shadow), line);
    QCOMPARE(run({midX, 0}, {0, 1}, shadow), line);
    QCOMPARE(run({image.width() - 1, midY}, {-1, 0}, highlight), line);
    QCOMPARE(run({midX, image.height() - 1}, {0, -1}, highlight), line);
  }

  void ledIsRound_data() { AddRatios(); }
  void ledIsRound() {
    QFETCH(qreal, ratio);
    TLED led;
    led.resize(25, 25);
    const QImage image = Render(led, ratio);
    // The picture's disc, centred in the control: 6.5 pixels in radius around its centre.
    const qreal centre = (4 + 8.5) * ratio, radius = 6.5 * ratio;
    // Pixels at least half covered by the disc, whose grey rim is what meets the background.
    const auto distance = [](QRgb a, QRgb b) {
      return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
             std::abs(qBlue(a) - qBlue(b));
    };
    const int half = distance(qRgb(128, 128, 128), kBackground.rgb()) / 2;
    const auto disc = [&](QRgb pixel) { return distance(pixel, kBackground.rgb()) > half; };
    // Within a device pixel of the circle's edge the pixels may go either way; inside it every
    // one is the disc's, outside it none.
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        const qreal fromCentre = std::hypot(x + 0.5 - centre, y + 0.5 - centre);
        if (std::abs(fromCentre - radius) <= 1) continue;
        QVERIFY2(disc(image.pixel(x, y)) == (fromCentre < radius),
                 qPrintable(QStringLiteral("pixel %1,%2, %3 from the centre of a circle of %4")
                                .arg(x)
                                .arg(y)
                                .arg(fromCentre)
                                .arg(radius)));
      }
    }
  }
};

QTEST_MAIN(ScaledDrawingTest)
#include "scaled_drawing_test.moc"
