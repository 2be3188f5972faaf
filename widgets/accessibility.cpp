#include "widgets/accessibility.h"

#include <QAccessibleWidget>
#include <QFontMetrics>
#include <QLineEdit>
#include <QStringList>

#include "widgets/custom_spin_edit.h"
#include "widgets/led.h"
#include "widgets/slider.h"

namespace glowstep {

namespace {

// A control with a step either way, told as the two actions of stepping up and down while it is
// enabled.
class TAccessibleStepper : public QAccessibleWidget {
 public:
  using QAccessibleWidget::QAccessibleWidget;

  QStringList actionNames() const override {
    QStringList names = QAccessibleWidget::actionNames();
    if (widget()->isEnabled()) names << increaseAction() << decreaseAction();
    return names;
  }
  void doAction(const QString& name) override {
    const bool up = name == increaseAction();
    if ((up || name == decreaseAction()) && widget()->isEnabled()) {
      Step(up);
    } else {
      QAccessibleWidget::doAction(name);
    }
  }

 protected:
  virtual void Step(bool up) = 0;
};

// A numeric field: a spin box whose text can be read and edited, with its value and bounds and
// the two steps of its button.
class TAccessibleSpinEdit final : public TAccessibleStepper,
                                  public QAccessibleValueInterface,
                                  public QAccessibleTextInterface,
                                  public QAccessibleEditableTextInterface {
 public:
  explicit TAccessibleSpinEdit(TCustomSpinEdit* field)
      : TAccessibleStepper(field, QAccessible::SpinBox) {}

  TCustomSpinEdit* Field() const { return static_cast<TCustomSpinEdit*>(widget()); }

  void* interface_cast(QAccessible::InterfaceType type) override {
    switch (type) {
      case QAccessible::ValueInterface:
        return static_cast<QAccessibleValueInterface*>(this);
      case QAccessible::TextInterface:
        return static_cast<QAccessibleTextInterface*>(this);
      case QAccessible::EditableTextInterface:
        return Field()->isReadOnly() ? nullptr
                                     : static_cast<QAccessibleEditableTextInterface*>(this);
      default:
        return QAccessibleWidget::interface_cast(type);
    }
  }

  // The spin button is told as the field's two actions, not as an object of its own.
  int childCount() const override { return 0; }
  QAccessibleInterface* child(int /*index*/) const override { return nullptr; }
  int indexOfChild(const QAccessibleInterface* /*child*/) const override { return -1; }

  QString text(QAccessible::Text kind) const override {
    if (kind == QAccessible::Value) return Field()->text();
    return QAccessibleWidget::text(kind);
  }

  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    state.editable = !Field()->isReadOnly();
    state.readOnly = Field()->isReadOnly();
    state.selectableText = true;
    return state;
  }

  // --- Actions ---
  QStringList keyBindingsForAction(const QString& name) const override {
    if (name == increaseAction()) return {QStringLiteral("Up")};
    if (name == decreaseAction()) return {QStringLiteral("Down")};
    return QAccessibleWidget::keyBindingsForAction(name);
  }
  void Step(bool up) override {
    if (up)
      Field()->StepUp(Field());
    else
      Field()->StepDown(Field());
  }

  // --- Value ---
  QVariant currentValue() const override { return Field()->Value().ToDouble(); }
  void setCurrentValue(const QVariant& value) override {
    if (!Field()->isReadOnly()) Field()->SetValue(Extended{value.toDouble()});
  }
  QVariant maximumValue() const override { return Field()->MaxValue().ToDouble(); }
  QVariant minimumValue() const override { return Field()->MinValue().ToDouble(); }
  QVariant minimumStepSize() const override { return Field()->Increment().ToDouble(); }

  // --- Text, through the line edit's own selection and caret ---
  void selection(int selectionIndex, int* startOffset, int* endOffset) const override {
    *startOffset = *endOffset = 0;
    if (selectionIndex != 0 || !Field()->hasSelectedText()) return;
    *startOffset = Field()->selectionStart();
    *endOffset = Field()->selectionEnd();
  }
  int selectionCount() const override { return Field()->hasSelectedText() ? 1 : 0; }
  void addSelection(int startOffset, int endOffset) override {
    setSelection(0, startOffset, endOffset);
  }
  void removeSelection(int selectionIndex) override {
    if (selectionIndex == 0) Field()->deselect();
  }
  void setSelection(int selectionIndex, int startOffset, int endOffset) override {
    if (selectionIndex == 0) Field()->setSelection(startOffset, endOffset - startOffset);
  }
  int cursorPosition() const override { return Field()->cursorPosition(); }
  void setCursorPosition(int position) override { Field()->setCursorPosition(position); }
  QString text(int startOffset, int endOffset) const override {
    return Field()->text().mid(startOffset, endOffset - startOffset);
  }
  int characterCount() const override { return static_cast<int>(Field()->text().size()); }
  QRect characterRect(int offset) const override {
    const QString text = Field()->text();
    if (offset < 0 || offset >= text.size()) return {};
    // The caret's rectangle at the offset, as wide as the character there.
    const QRect caret = Field()->inputMethodQuery(Qt::ImCursorRectangle).toRect();
    const QFontMetrics metrics(Field()->font());
    const int caretX = caret.center().x();
    const int shift = metrics.horizontalAdvance(text.left(offset)) -
                      metrics.horizontalAdvance(text.left(Field()->cursorPosition()));
    const QRect local(caretX + shift, caret.top(), metrics.horizontalAdvance(text.at(offset)),
                      caret.height());
    return {Field()->mapToGlobal(local.topLeft()), local.size()};
  }
  int offsetAtPoint(const QPoint& point) const override {
    return Field()->cursorPositionAt(Field()->mapFromGlobal(point));
  }
  void scrollToSubstring(int /*startIndex*/, int endIndex) override {
    Field()->setCursorPosition(endIndex);
  }
  QString attributes(int offset, int* startOffset, int* endOffset) const override {
    *startOffset = *endOffset = offset;
    return {};
  }

  // --- Editing: the field checks what it is given, as it checks what is typed or pasted ---
  void deleteText(int startOffset, int endOffset) override {
    replaceText(startOffset, endOffset, {});
  }
  void insertText(int offset, const QString& text) override { replaceText(offset, offset, text); }
  void replaceText(int startOffset, int endOffset, const QString& text) override {
    if (Field()->isReadOnly()) return;
    QString whole = Field()->text();
    whole.replace(startOffset, endOffset - startOffset, text);
    Field()->setText(whole);
  }
};

// A slider: its value, range and step, and a step either way as actions.
class TAccessibleSlider final : public TAccessibleStepper, public QAccessibleValueInterface {
 public:
  explicit TAccessibleSlider(TCustomSlider* slider)
      : TAccessibleStepper(slider, QAccessible::Slider) {}

  TCustomSlider* Slider() const { return static_cast<TCustomSlider*>(widget()); }

  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }

  QString text(QAccessible::Text kind) const override {
    if (kind == QAccessible::Value) return QString::number(Slider()->Value());
    return QAccessibleWidget::text(kind);
  }

  void Step(bool up) override {
    Slider()->JumpBy(up ? TCustomSlider::jkNext : TCustomSlider::jkPrior);
  }

  QVariant currentValue() const override { return Slider()->Value(); }
  void setCurrentValue(const QVariant& value) override {
    if (Slider()->isEnabled()) Slider()->SetValue(value.toInt());
  }
  QVariant maximumValue() const override { return Slider()->MaxValue(); }
  QVariant minimumValue() const override { return Slider()->MinValue(); }
  QVariant minimumStepSize() const override { return Slider()->Increment(); }
};

}  // namespace

QAccessibleInterface* AccessibleControl(const QString& /*className*/, QObject* object) {
  if (auto* field = qobject_cast<TCustomSpinEdit*>(object)) return new TAccessibleSpinEdit(field);
  if (auto* slider = qobject_cast<TCustomSlider*>(object)) return new TAccessibleSlider(slider);
  // The window says what the LED's light means; its description carries that in words.
  if (auto* led = qobject_cast<TCustomLED*>(object))
    return new QAccessibleWidget(led, QAccessible::Indicator);
  return nullptr;
}

void InstallAccessibleControls() {
  static const bool installed = [] {
    QAccessible::installFactory(&AccessibleControl);
    return true;
  }();
  (void)installed;
}

}  // namespace glowstep
