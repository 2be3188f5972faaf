// The single-line numeric field with a spin button at its right edge. It keeps its number only
// as text: reading Value parses the text, setting Value clamps the number and writes it back.
#pragma once

#include "numbers.h"

#include <QLineEdit>
#include <QPointer>
#include <QStringList>

#include <stdexcept>

namespace glowstep {

class TSpinButton;

// A value outside the enforced bounds where the field is told to refuse rather than crop it.
class ERangeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A single-line edit that honours only the clipboard and undo requests it is allowed, and can
// sound the error beep.
class TMaskEditBase : public QLineEdit {
  Q_OBJECT
  Q_PROPERTY(TClipboardCommands ClipboardCommands READ ClipboardCommands WRITE SetClipboardCommands)

 public:
  enum TClipboardCommand {
    caCopy = 0x01,
    caCut = 0x02,
    caPaste = 0x04,
    caClear = 0x08,
    caUndo = 0x10,
  };
  Q_DECLARE_FLAGS(TClipboardCommands, TClipboardCommand)
  Q_FLAG(TClipboardCommands)

  explicit TMaskEditBase(QWidget* parent = nullptr);

  TClipboardCommands ClipboardCommands() const { return clipboardCommands_; }
  void SetClipboardCommands(TClipboardCommands commands) { clipboardCommands_ = commands; }

  // Whether a clipboard or undo request may reach the edit now.
  virtual bool AllowsCommand(TClipboardCommand command) const;

  // The platform's error beep; also announced by Beeped() so that it can be observed.
  void ErrorBeep();

 Q_SIGNALS:
  void Beeped();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  TClipboardCommands clipboardCommands_ = {caCopy, caCut, caPaste, caClear, caUndo};
};

// The up-down of the button kind bkStandard: two arrows stacked, each press one notification.
class TSpinUpDown : public QWidget {
  Q_OBJECT

 public:
  explicit TSpinUpDown(int standardWidth, QWidget* parent = nullptr);
  ~TSpinUpDown() override;

  // The width the up-down keeps, whatever it is resized to.
  void SetStandardWidth(int width);
  int Position() const { return position_; }

  // The arrow under a point: +1 for the upper (next), -1 for the lower (previous).
  int ArrowAt(QPoint point) const { return point.y() < height() / 2 ? 1 : -1; }

 Q_SIGNALS:
  // One arrow was pressed: next for the upper one, previous for the lower one.
  void OnClick(QObject* sender, bool previous);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void PositionChanged(int position);

  int standardWidth_;
  int position_ = 0;
  int pressed_ = 0;
  bool reacting_ = false;
};

// All behaviour of the numeric field: value rules, text handling, stepping, keys and placing
// the button. Reading and writing the value are left to the concrete class.
class TCustomSpinEdit : public TMaskEditBase {
  Q_OBJECT

 public:
  enum TValueType { vtInteger, vtFloat, vtHex, vtString };
  Q_ENUM(TValueType)
  enum TSpinButtonKind { bkStandard, bkDiagonal, bkClassic };
  Q_ENUM(TSpinButtonKind)
  enum TCheckOption {
    coCheckOnChange = 0x01,
    coCheckOnExit = 0x02,
    coCropBeyondLimit = 0x04,
  };
  Q_DECLARE_FLAGS(TCheckOptions, TCheckOption)
  Q_FLAG(TCheckOptions)

  // The message a step request of the up-down is posted as.
  static constexpr int StepMessage = 0x8486;

  explicit TCustomSpinEdit(QWidget* parent = nullptr);
  ~TCustomSpinEdit() override;

  // --- Separators (process-wide; the user's locale unless set) ---
  static TNumberFormat NumberFormat();
  static void SetNumberFormat(const TNumberFormat& format);
  static void UseLocaleNumberFormat();

  // --- Value interface, in the order of the virtual slots ---
  virtual Extended GetValue() const = 0;
  virtual void ShowEditFormat();
  virtual void SetValue(Extended value) = 0;
  virtual void SetValueType(TValueType type);
  virtual QString DefaultDisplayFormat() const { return QStringLiteral(",0.##"); }
  virtual bool AcceptsChar(QChar c) const;
  virtual void StepDown(QObject* sender);
  virtual void StepUp(QObject* sender);

  Extended Value() const { return GetValue(); }

  Extended MinValue() const { return minValue_; }
  void SetMinValue(Extended value);
  Extended MaxValue() const { return maxValue_; }
  void SetMaxValue(Extended value);
  bool CheckMinValue() const { return checkMinValue_; }
  void SetCheckMinValue(bool check);
  bool CheckMaxValue() const { return checkMaxValue_; }
  void SetCheckMaxValue(bool check);
  TCheckOptions CheckOptions() const { return checkOptions_; }
  void SetCheckOptions(TCheckOptions options) { checkOptions_ = options; }
  Extended Increment() const { return increment_; }
  void SetIncrement(Extended increment) { increment_ = increment; }
  TValueType ValueType() const { return valueType_; }
  int Decimal() const { return decimal_; }
  void SetDecimal(int decimal);
  QString DisplayFormat() const { return displayFormat_; }
  void SetDisplayFormat(const QString& format);
  bool Thousands() const { return thousands_; }
  void SetThousands(bool thousands);
  Qt::Alignment Alignment() const { return alignment() & Qt::AlignHorizontal_Mask; }
  void SetAlignment(Qt::Alignment alignment);
  TSpinButtonKind ButtonKind() const { return buttonKind_; }
  void SetButtonKind(TSpinButtonKind kind);
  bool ShowButton() const { return showButton_; }
  void SetShowButton(bool show);
  bool ArrowKeys() const { return arrowKeys_; }
  void SetArrowKeys(bool arrowKeys) { arrowKeys_ = arrowKeys; }
  bool EditorEnabled() const { return editorEnabled_; }
  void SetEditorEnabled(bool enabled) { editorEnabled_ = enabled; }
  QStringList Items() const { return items_; }
  void SetItems(const QStringList& items);
  bool BeepOnError() const { return beepOnError_; }
  void SetBeepOnError(bool beep) { beepOnError_ = beep; }
  bool AutoSelect() const { return autoSelect_; }
  void SetAutoSelect(bool autoSelect) { autoSelect_ = autoSelect; }

  // Whether a check flag differs from what the bounds imply, i.e. whether a stored form needs
  // to carry it.
  bool IsCheckMinValueStored() const;
  bool IsCheckMaxValueStored() const;

  // --- Loading from the window's form, which sets the properties in stored order ---
  void BeginLoading() { loading_ = true; }
  bool Loading() const { return loading_; }
  // Loading ended: the bound setters may set the check flags again, and the value now shown
  // is the one the next change is measured against.
  void Loaded();

  // The bounds applied to x, and the same with a range error where the options ask for one.
  Extended ClampValue(Extended x) const;
  Extended CheckRange(Extended x, bool raise) const;

  // --- Button and layout ---
  int StandardButtonWidth() const;
  int ButtonWidth() const;
  int MinimumHeight() const;
  // The child that holds the spin button (none for the up-down or without a button).
  QWidget* ButtonHost() const { return buttonHost_; }
  TSpinButton* Button() const { return spinButton_; }
  TSpinUpDown* UpDown() const { return upDown_; }

  bool HasFocusFlag() const { return hasFocus_; }

 Q_SIGNALS:
  void OnChange(QObject* sender);
  void OnTopClick(QObject* sender);
  void OnBottomClick(QObject* sender);

 protected:
  // Writes the text as the value's own text: unchanged text is left alone (caret, selection)
  // and the modified flag survives.
  void WriteText(const QString& text);
  QChar DecimalSeparator() const;
  QChar ThousandsSeparator() const;
  bool WindowExists() const;
  void RewriteValue() { SetValue(GetValue()); }
  // The Value written while the change reaction rewrites a text that begins with "-".
  bool KeepMinus() const { return keepMinus_; }

  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool AllowsCommand(TClipboardCommand command) const override;

 private:
  void ChangeReaction();
  void Step(bool up, QObject* sender);
  void BuildButton();
  void PlaceButton();
  void UpdateTextMargins();
  void Exit();

  Extended minValue_ = 0;
  Extended maxValue_ = 0;
  Extended increment_ = 1;
  Extended lastNotifiedValue_ = 0;
  bool checkMinValue_ = false;
  bool checkMaxValue_ = false;
  bool autoCheckMin_ = true;
  bool autoCheckMax_ = true;
  TCheckOptions checkOptions_ = {coCheckOnChange, coCheckOnExit, coCropBeyondLimit};
  TValueType valueType_ = vtInteger;
  int decimal_ = 2;
  QString displayFormat_;
  bool thousands_ = false;
  TSpinButtonKind buttonKind_ = bkDiagonal;
  bool showButton_ = true;
  bool arrowKeys_ = true;
  bool editorEnabled_ = true;
  bool beepOnError_ = true;
  bool autoSelect_ = true;
  QStringList items_;
  bool hasFocus_ = false;
  bool updating_ = false;
  bool keepMinus_ = false;
  bool loading_ = false;
  bool destroying_ = false;
  QWidget* buttonHost_ = nullptr;
  TSpinButton* spinButton_ = nullptr;
  TSpinUpDown* upDown_ = nullptr;
};

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

  // The number picture of DisplayFormat applied to a value, and its text read back.
  QString FormatDisplay(Extended value) const;
  QString DisplayTextToNumber(const QString& text) const;

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

Q_DECLARE_OPERATORS_FOR_FLAGS(TMaskEditBase::TClipboardCommands)
Q_DECLARE_OPERATORS_FOR_FLAGS(TCustomSpinEdit::TCheckOptions)

}  // namespace glowstep
