// All behaviour of the numeric field: value rules, text handling, stepping, keys and placing the
// spin button.
#pragma once

#include "base/numbers.h"
#include "widgets/mask_edit_base.h"

#include <QStringList>

#include <functional>
#include <optional>
#include <stdexcept>

namespace glowstep {

class TSpinButton;
class TSpinUpDown;

// A value outside the enforced bounds where the field is told to refuse rather than crop it.
class ERangeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
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

  // The event a step request of the up-down is posted as.
  enum TMessage : int { StepMessage = 0x8486 };

  explicit TCustomSpinEdit(QWidget* parent = nullptr);
  ~TCustomSpinEdit() override;

  // --- Separators (process-wide; the user's locale unless set) ---
  static TNumberFormat NumberFormat();
  static void SetNumberFormat(const TNumberFormat& format);
  static void UseLocaleNumberFormat();

  // --- Where a range error on leaving a field is shown (process-wide; the application's error
  // display). Without one it goes unsaid; the field keeps the focus and its text selected all
  // the same.
  using TErrorDisplay = std::function<void(const QString& message)>;
  static void SetErrorDisplay(TErrorDisplay display);

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

  Extended MinValue() const { return MinValue_; }
  void SetMinValue(Extended value);
  Extended MaxValue() const { return MaxValue_; }
  void SetMaxValue(Extended value);
  bool CheckMinValue() const { return CheckMinValue_; }
  void SetCheckMinValue(bool check);
  bool CheckMaxValue() const { return CheckMaxValue_; }
  void SetCheckMaxValue(bool check);
  TCheckOptions CheckOptions() const { return CheckOptions_; }
  void SetCheckOptions(TCheckOptions options) { CheckOptions_ = options; }
  Extended Increment() const { return Increment_; }
  void SetIncrement(Extended increment) { Increment_ = increment; }
  TValueType ValueType() const { return ValueType_; }
  int Decimal() const { return Decimal_; }
  void SetDecimal(int decimal);
  QString DisplayFormat() const { return DisplayFormat_; }
  void SetDisplayFormat(const QString& format);
  bool Thousands() const { return Thousands_; }
  void SetThousands(bool thousands);
  Qt::Alignment Alignment() const { return alignment() & Qt::AlignHorizontal_Mask; }
  void SetAlignment(Qt::Alignment alignment);
  TSpinButtonKind ButtonKind() const { return ButtonKind_; }
  void SetButtonKind(TSpinButtonKind kind);
  bool ShowButton() const { return ShowButton_; }
  void SetShowButton(bool show);
  bool ArrowKeys() const { return ArrowKeys_; }
  void SetArrowKeys(bool arrowKeys) { ArrowKeys_ = arrowKeys; }
  bool EditorEnabled() const { return EditorEnabled_; }
  void SetEditorEnabled(bool enabled) { EditorEnabled_ = enabled; }
  QStringList Items() const { return Items_; }
  void SetItems(const QStringList& items);
  bool BeepOnError() const { return BeepOnError_; }
  void SetBeepOnError(bool beep) { BeepOnError_ = beep; }
  bool AutoSelect() const { return AutoSelect_; }
  void SetAutoSelect(bool autoSelect) { AutoSelect_ = autoSelect; }

  // Whether a check flag differs from what the bounds imply, i.e. whether a stored form needs
  // to carry it.
  bool IsCheckMinValueStored() const;
  bool IsCheckMaxValueStored() const;

  // --- Loading from the window's form, which sets the properties in stored order ---
  void BeginLoad() { Loading_ = true; }
  bool Loading() const { return Loading_; }
  // Loading ended: the bound setters may set the check flags again, and the value now shown
  // is the one the next change is measured against.
  void EndLoad();

  // The bounds applied to x, and the same with a range error where the options ask for one.
  Extended ClampValue(Extended x) const;
  Extended CheckRange(Extended x, bool raise) const;

  // --- Button and layout ---
  int StandardButtonWidth() const;
  int ButtonWidth() const;
  int MinimumHeight() const;
  // The child that holds the spin button (none for the up-down or without a button).
  QWidget* ButtonHost() const { return ButtonHost_; }
  TSpinButton* Button() const { return SpinButton_; }
  TSpinUpDown* UpDown() const { return UpDown_; }

  bool HasFocusFlag() const { return HasFocus_; }

 signals:
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
  bool KeepMinus() const { return KeepMinus_; }

  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool AllowsCommand(TClipboardCommand command) const override;

 private:
  void ChangeReaction();
  // The characters of typed or input-method text that the field takes, with the error beep for
  // those it refuses. None when a second decimal separator sent the caret behind the first.
  std::optional<QString> AcceptedText(const QString& typed);
  void Step(bool up, QObject* sender);
  void BuildButton();
  void PlaceButton();
  void UpdateTextMargins();
  void Exit();

  Extended MinValue_ = 0;
  Extended MaxValue_ = 0;
  Extended Increment_ = 1;
  Extended LastNotifiedValue_ = 0;
  bool CheckMinValue_ = false;
  bool CheckMaxValue_ = false;
  bool AutoCheckMin_ = true;
  bool AutoCheckMax_ = true;
  TCheckOptions CheckOptions_ = {coCheckOnChange, coCheckOnExit, coCropBeyondLimit};
  TValueType ValueType_ = vtInteger;
  int Decimal_ = 2;
  QString DisplayFormat_;
  bool Thousands_ = false;
  TSpinButtonKind ButtonKind_ = bkDiagonal;
  bool ShowButton_ = true;
  bool ArrowKeys_ = true;
  bool EditorEnabled_ = true;
  bool BeepOnError_ = true;
  bool AutoSelect_ = true;
  QStringList Items_;
  bool HasFocus_ = false;
  bool Updating_ = false;
  bool KeepMinus_ = false;
  bool Loading_ = false;
  bool Destroying_ = false;
  QWidget* ButtonHost_ = nullptr;
  TSpinButton* SpinButton_ = nullptr;
  TSpinUpDown* UpDown_ = nullptr;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(TCustomSpinEdit::TCheckOptions)

}  // namespace glowstep
