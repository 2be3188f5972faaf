// The single-line numeric field with a spin button at its right edge. It keeps its number only
// as text: reading Value parses the text, setting Value clamps the number and writes it back.
#pragma once

#include "widgets/custom_spin_edit.h"

namespace glowstep {

// The numeric field as the window uses it: value reading and writing for the four value types,
// and every setting as a property a form can set.
class TSpinEdit : public TCustomSpinEdit {
  Q_OBJECT
  // Designer forms carry numbers as doubles; they are widened through their shortest decimal
  // text, so a stored 0.1 becomes the extended value nearest to 0.1.
  Q_PROPERTY(double Value READ ValueAsDouble WRITE SetValueFromDouble)
  Q_PROPERTY(double MinValue READ MinValueAsDouble WRITE SetMinValueFromDouble)
  Q_PROPERTY(double MaxValue READ MaxValueAsDouble WRITE SetMaxValueFromDouble)
  Q_PROPERTY(bool CheckMinValue READ CheckMinValue WRITE SetCheckMinValue)
  Q_PROPERTY(bool CheckMaxValue READ CheckMaxValue WRITE SetCheckMaxValue)
  Q_PROPERTY(TCheckOptions CheckOptions READ CheckOptions WRITE SetCheckOptions)
  Q_PROPERTY(double Increment READ IncrementAsDouble WRITE SetIncrementFromDouble)
  Q_PROPERTY(TValueType ValueType READ ValueType WRITE SetValueType)
  Q_PROPERTY(int Decimal READ Decimal WRITE SetDecimal)
  Q_PROPERTY(QString DisplayFormat READ DisplayFormat WRITE SetDisplayFormat)
  Q_PROPERTY(bool Thousands READ Thousands WRITE SetThousands)
  Q_PROPERTY(Qt::Alignment Alignment READ Alignment WRITE SetAlignment)
  Q_PROPERTY(TSpinButtonKind ButtonKind READ ButtonKind WRITE SetButtonKind)
  Q_PROPERTY(bool ShowButton READ ShowButton WRITE SetShowButton)
  Q_PROPERTY(bool ArrowKeys READ ArrowKeys WRITE SetArrowKeys)
  Q_PROPERTY(bool EditorEnabled READ EditorEnabled WRITE SetEditorEnabled)
  Q_PROPERTY(QStringList Items READ Items WRITE SetItems)
  Q_PROPERTY(bool BeepOnError READ BeepOnError WRITE SetBeepOnError)
  Q_PROPERTY(bool AutoSelect READ AutoSelect WRITE SetAutoSelect)

 public:
  explicit TSpinEdit(QWidget* parent = nullptr);

  Extended GetValue() const override;
  void SetValue(Extended value) override;

  // The extended value a double from a form stands for.
  static Extended FromDouble(double value);

 private:
  double ValueAsDouble() const { return RoundToDouble(Value()); }
  void SetValueFromDouble(double value) { SetValue(FromDouble(value)); }
  double MinValueAsDouble() const { return RoundToDouble(MinValue()); }
  void SetMinValueFromDouble(double value) { SetMinValue(FromDouble(value)); }
  double MaxValueAsDouble() const { return RoundToDouble(MaxValue()); }
  void SetMaxValueFromDouble(double value) { SetMaxValue(FromDouble(value)); }
  double IncrementAsDouble() const { return RoundToDouble(Increment()); }
  void SetIncrementFromDouble(double value) { SetIncrement(FromDouble(value)); }
  Extended ReadText() const;
};

}  // namespace glowstep
