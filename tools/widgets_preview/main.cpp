// Shows every control in its typical settings, to look at them and try them as a user does:
// the window's seven numeric fields with their ranges, one field per button kind, a disabled
// field, sliders in several settings and LEDs on a coloured background.
//   glowstep-widgets-preview [milliseconds until it closes]
#include "widgets/led.h"
#include "widgets/slider.h"
#include "widgets/spin_edit.h"

#include <QApplication>
#include <QLabel>
#include <QTimer>

namespace {

using glowstep::operator""_ext;
using glowstep::TCustomSpinEdit;
using glowstep::TLED;
using glowstep::TSlider;
using glowstep::TSpinEdit;

TSpinEdit* AddField(QWidget& window,
                    int top,
                    const QString& caption,
                    double min,
                    double max,
                    double value,
                    bool real = false) {
  auto* field = new TSpinEdit(&window);
  field->setGeometry(32, top, 121, 21);
  // Set up as the window's form does: properties in their stored order, then loading ends.
  field->BeginLoad();
  if (real) {
    field->SetIncrement(0.1_ext);
    field->SetMaxValue(max);
    field->SetValueType(TCustomSpinEdit::vtFloat);
  } else {
    field->SetMinValue(min);
    field->SetMaxValue(max);
  }
  field->SetValue(TSpinEdit::FromDouble(value));
  field->EndLoad();
  auto* label = new QLabel(caption, &window);
  label->move(168, top + 3);
  return field;
}

void AddFields(QWidget& window) {
  AddField(window, 16, QStringLiteral("Stairs (3 to 250)"), 3, 250, 10);
  AddField(window, 48, QStringLiteral("LEDs in one stair (3 to 240)"), 3, 240, 60);
  AddField(window, 80, QStringLiteral("Standby LEDs (0 to 120)"), 0, 120, 1);
  AddField(window, 112, QStringLiteral("Switch-on time (1 to 300)"), 1, 300, 20);
  AddField(window, 144, QStringLiteral("Delay (1 to 300)"), 1, 300, 15);
  AddField(window, 176, QStringLiteral("Sensor signal (0 to 2.5)"), 0, 2.5, 0.1, true);
  AddField(window, 208, QStringLiteral("Photo-sensor time (1 to 1800)"), 1, 1800, 10);
  TSpinEdit* classic = AddField(window, 240, QStringLiteral("Classic button"), 0, 100, 50);
  classic->SetButtonKind(TCustomSpinEdit::bkClassic);
  TSpinEdit* standard = AddField(window, 272, QStringLiteral("Up-down"), 0, 100, 50);
  standard->SetButtonKind(TCustomSpinEdit::bkStandard);
  TSpinEdit* disabled = AddField(window, 304, QStringLiteral("Disabled"), 0, 100, 7);
  disabled->setEnabled(false);
}

void AddSliders(QWidget& window) {
  auto* level = new TSlider(&window);
  level->setGeometry(24, 344, 353, 40);
  level->SetMaxValue(1000);
  level->SetIncrement(20);
  level->SetValue(100);
  auto* label = new QLabel(&window);
  label->setGeometry(24, 388, 353, 16);
  const auto showValue = [label, level] {
    label->setText(QStringLiteral("Value %1").arg(level->Value()));
  };
  QObject::connect(level, &TSlider::OnChange, label, showValue);
  showValue();

  auto* bevelled = new TSlider(&window);
  bevelled->setGeometry(24, 412, 187, 40);
  bevelled->SetBevelStyle(TSlider::bvLowered);
  bevelled->SetValue(70);

  auto* disabled = new TSlider(&window);
  disabled->move(220, 412);
  disabled->SetValue(40);
  disabled->setEnabled(false);

  auto* vertical = new TSlider(&window);
  vertical->move(400, 16);
  vertical->SetOrientation(TSlider::soVertical);
  vertical->SetValue(30);
}

void AddLeds(QWidget& window) {
  auto* coloured = new QWidget(&window);
  coloured->setGeometry(24, 468, 200, 60);
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
  ready->move(240, 488);
  ready->SetStatus(false);
  auto* readyLabel = new QLabel(QStringLiteral("Device ready"), &window);
  readyLabel->move(264, 490);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QFont font = QApplication::font();
  font.setPixelSize(11);
  QApplication::setFont(font);
  QWidget window;
  window.setWindowTitle(QStringLiteral("Controls preview"));
  window.resize(460, 548);
  AddFields(window);
  AddSliders(window);
  AddLeds(window);
  window.show();
  if (argc > 1)
    QTimer::singleShot(QString::fromLocal8Bit(argv[1]).toInt(), &app, &QApplication::quit);
  return QApplication::exec();
}
