// Shows the slider and the LED in their typical settings, to look at them as a user does.
#include "led.h"
#include "slider.h"

#include <QApplication>
#include <QLabel>
#include <QTimer>

using glowstep::TLED;
using glowstep::TSlider;

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget window;
  window.setWindowTitle("Slider and LED");
  window.resize(420, 460);

  auto* level = new TSlider(&window);
  level->setGeometry(24, 16, 353, 40);
  level->SetMaxValue(1000);
  level->SetIncrement(20);
  level->SetValue(100);
  auto* label = new QLabel(&window);
  label->setGeometry(24, 60, 353, 16);
  QObject::connect(level, &TSlider::OnChange, label,
                   [label, level] { label->setText(QString("Value %1").arg(level->Value())); });
  label->setText(QString("Value %1").arg(level->Value()));

  auto* plain = new TSlider(&window);
  plain->move(24, 84);
  plain->setFocus();

  auto* bevelled = new TSlider(&window);
  bevelled->setGeometry(190, 84, 187, 40);
  bevelled->SetBevelStyle(TSlider::bvLowered);
  bevelled->SetValue(70);

  auto* disabled = new TSlider(&window);
  disabled->move(24, 132);
  disabled->SetValue(40);
  disabled->setEnabled(false);

  auto* vertical = new TSlider(&window);
  vertical->move(24, 180);
  vertical->SetOrientation(TSlider::soVertical);
  vertical->SetValue(30);

  auto* coloured = new QWidget(&window);
  coloured->setGeometry(100, 200, 200, 60);
  coloured->setAutoFillBackground(true);
  QPalette palette = coloured->palette();
  palette.setColor(QPalette::Window, QColor(40, 80, 200));
  coloured->setPalette(palette);
  auto* on = new TLED(coloured);
  on->move(10, 20);
  auto* off = new TLED(coloured);
  off->move(40, 20);
  off->SetStatus(false);
  auto* large = new TLED(coloured);
  large->setGeometry(70, 16, 25, 25);
  large->SetColorOn(QColor(255, 200, 0));
  auto* small = new TLED(coloured);
  small->setGeometry(110, 20, 10, 10);
  auto* blinking = new TLED(coloured);
  blinking->move(140, 20);
  blinking->SetInterval(500);
  blinking->SetActive(true);

  auto* ready = new TLED(&window);
  ready->move(32, 400);
  ready->SetStatus(false);
  auto* readyLabel = new QLabel("Device ready", &window);
  readyLabel->move(56, 402);

  window.show();
  if (argc > 1) QTimer::singleShot(QString(argv[1]).toInt(), &app, &QApplication::quit);
  return QApplication::exec();
}
