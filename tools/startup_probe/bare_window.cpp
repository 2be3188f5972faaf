// A bare Qt window of the configurator's size: the yardstick for its start-up figures.
//   glowstep-bare-window [--with-text]
// With --with-text the window also carries one line of Cyrillic text and one spin box: the least
// a window with text and an edit field costs (the font database, shaping, glyph rendering).
#include <QApplication>
#include <QLabel>
#include <QSpinBox>
#include <QWidget>

#include "tools/startup_probe/first_paint_probe.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget window;
  window.setWindowTitle(QStringLiteral("Bare window"));
  window.resize(421, 651);
  if (QApplication::arguments().contains(QStringLiteral("--with-text"))) {
    auto* label = new QLabel(QStringLiteral(u"Прочитать настройки"), &window);
    label->move(8, 8);
    auto* spinBox = new QSpinBox(&window);
    spinBox->move(8, 32);
  }
  glowstep::TFirstPaintProbe::InstallOn(&window);
  window.show();
  return QApplication::exec();
}
