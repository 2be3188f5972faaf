// Times the spin edit taking a paste of 100,000 characters over its whole text: the change
// reaction reads the text, clamps the number and writes it formatted. Three texts: digits in
// an integer field (3 to 250), "0." and digits in a real field with two decimals (0 to 2.5), and
// letters, which do not parse. Each paste is repeated and the median is printed.
//
// Usage: glowstep-paste-bench [repeats]   (runs on the offscreen platform unless told otherwise)
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "widgets/spin_edit.h"

using namespace glowstep;

namespace {

constexpr int kPasteLength = 100000;

QString Digits(const QString& head) {
  QString text = head;
  for (int i = static_cast<int>(text.size()); i < kPasteLength; ++i) {
    text.append(QChar(u'0' + (i * 7 + 3) % 10));
  }
  return text;
}

double MedianPasteMs(TSpinEdit& field, const QString& text, int repeats) {
  QApplication::clipboard()->setText(text);
  std::vector<double> times;
  for (int r = 0; r < repeats; ++r) {
    field.SetValue(1);
    field.selectAll();
    QElapsedTimer timer;
    timer.start();
    field.paste();
    times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int repeats = argc > 1 ? std::atoi(argv[1]) : 15;

  QWidget window;
  auto* integer = new TSpinEdit(&window);
  integer->setGeometry(10, 10, 121, 21);
  integer->SetMinValue(3);
  integer->SetMaxValue(250);
  auto* real = new TSpinEdit(&window);
  real->setGeometry(10, 40, 121, 21);
  real->SetMaxValue(2.5);
  real->SetValueType(TCustomSpinEdit::vtFloat);
  window.show();

  const double digits = MedianPasteMs(*integer, Digits(QString()), repeats);
  const double fraction = MedianPasteMs(*real, Digits(QStringLiteral("0.")), repeats);
  const double letters = MedianPasteMs(*integer, QString(kPasteLength, QChar(u'x')), repeats);
  std::printf("100,000-character paste, median of %d:\n", repeats);
  std::printf("  digits into an integer field:   %.2f ms (shows %s)\n", digits,
              qPrintable(integer->text()));
  std::printf("  0.digits into a real field:     %.2f ms (shows %s)\n", fraction,
              qPrintable(real->text()));
  std::printf("  letters into an integer field:  %.2f ms (shows %s)\n", letters,
              qPrintable(integer->text()));
  return EXIT_SUCCESS;
}
