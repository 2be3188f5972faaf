// A bare Qt window of the configurator's size: the yardstick for its start-up figures.
#include <QApplication>
#include <QWidget>

#include "first_paint_probe.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget window;
  window.setWindowTitle(QStringLiteral("Bare window"));
  window.resize(421, 651);
  glowstep::TFirstPaintProbe::InstallOn(&window);
  window.show();
  return QApplication::exec();
}
