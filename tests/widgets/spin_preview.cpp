// A manual test window for the numeric fields: the window's seven fields with their ranges,
// and one field per button kind. Run it and type, step, wheel and hold the buttons.
#include "spin_edit.h"

#include <QApplication>
#include <QLabel>
#include <QStyleFactory>
#include <QWidget>

using glowstep::operator""_ext;
using glowstep::TCustomSpinEdit;
using glowstep::TSpinEdit;

namespace {

TSpinEdit* AddField(QWidget& window,
                    int top,
                    const QString& caption,
                    double min,
                    double max,
                    double value,
                    bool real = false) {
  auto* field = new TSpinEdit(&window);
  field->setGeometry(32, top, 121, 21);
  field->BeginLoading();
  if (real) {
    field->SetIncrement(0.1_ext);
    field->SetMaxValue(max);
    field->SetValueType(TCustomSpinEdit::vtFloat);
  } else {
    field->SetMinValue(min);
    field->SetMaxValue(max);
  }
  field->SetValue(TSpinEdit::FromDouble(value));
  field->Loaded();
  auto* label = new QLabel(caption, &window);
  label->move(168, top + 3);
  return field;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QFont font = app.font();
  font.setPixelSize(11);
  app.setFont(font);
  QWidget window;
  window.setWindowTitle(QStringLiteral("Spin edit preview"));
  window.resize(420, 420);
  AddField(window, 32, QStringLiteral("Stairs (3 to 250)"), 3, 250, 10);
  AddField(window, 72, QStringLiteral("LEDs in one stair (3 to 240)"), 3, 240, 60);
  AddField(window, 112, QStringLiteral("Standby LEDs (0 to 120)"), 0, 120, 1);
  AddField(window, 152, QStringLiteral("Switch-on time (1 to 300)"), 1, 300, 20);
  AddField(window, 192, QStringLiteral("Delay (1 to 300)"), 1, 300, 15);
  AddField(window, 232, QStringLiteral("Sensor signal (0 to 2.5)"), 0, 2.5, 0.1, true);
  AddField(window, 272, QStringLiteral("Photo-sensor time (1 to 1800)"), 1, 1800, 10);
  TSpinEdit* classic = AddField(window, 312, QStringLiteral("Classic button"), 0, 100, 50);
  classic->SetButtonKind(TCustomSpinEdit::bkClassic);
  TSpinEdit* standard = AddField(window, 352, QStringLiteral("Up-down"), 0, 100, 50);
  standard->SetButtonKind(TCustomSpinEdit::bkStandard);
  TSpinEdit* disabled = AddField(window, 392, QStringLiteral("Disabled"), 0, 100, 7);
  disabled->setEnabled(false);
  window.show();
  return app.exec();
}
