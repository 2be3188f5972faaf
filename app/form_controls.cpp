#include "app/form_controls.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "widgets/device_pixels.h"

namespace glowstep {

TFixedLabel::TFixedLabel(QWidget* parent) : QLabel(parent) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

namespace {

// Whether `event` is one of the keys that press a button: Space, Return or keypad Enter, alone.
bool IsPressKey(const QKeyEvent& event) {
  const auto modifiers = event.modifiers() & ~Qt::KeypadModifier;
  return modifiers == Qt::NoModifier && !event.isAutoRepeat() &&
         (event.key() == Qt::Key_Space || event.key() == Qt::Key_Return ||
          event.key() == Qt::Key_Enter);
}

}  // namespace

TShape::TShape(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::TabFocus);
}

void TShape::SetBrushColor(const QColor& color) {
  if (color == BrushColor_) return;
  BrushColor_ = color;
  update();
  if (QAccessible::isActive()) {
    QAccessibleEvent changed(this, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&changed);
  }
}

void TShape::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  // The outline is one pixel inside the control on every side, the fill within it; at any
  // scale, in whole device pixels, as thick on every side.
  const TDevicePixels device(painter);
  const QRect area = device.Map(QRectF(rect()));
  const int line = device.Thickness();
  painter.fillRect(area, Qt::black);
  painter.fillRect(area.adjusted(line, line, -line, -line), BrushColor_);
  if (hasFocus()) {
    // A dotted frame three pixels inside the outline, black on a light colour and white on a
    // dark one.
    const bool light = qGray(BrushColor_.rgb()) >= 128;
    QPen pen(light ? Qt::black : Qt::white, line, Qt::DotLine);
    painter.setPen(pen);
    const int inset = 3 * line;
    const QRectF frame = QRectF(area.adjusted(inset, inset, -inset, -inset))
                             .adjusted(line / 2.0, line / 2.0, -line / 2.0, -line / 2.0);
    painter.drawRect(frame);
  }
}

void TShape::mousePressEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  emit OnMouseDown(this, event->button(), event->modifiers(), at.x(), at.y());
}

void TShape::keyPressEvent(QKeyEvent* event) {
  if (!IsPressKey(*event)) {
    QWidget::keyPressEvent(event);
    return;
  }
  event->accept();
  emit Activated();
}

void TShape::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  update();
}

void TShape::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  update();
}

TBitBtn::TBitBtn(QWidget* parent) : QPushButton(parent) { setAutoDefault(false); }

void TBitBtn::keyPressEvent(QKeyEvent* event) {
  // Space is the button's own; Return and Enter press it too, though it is no dialog's default.
  if (event->key() != Qt::Key_Space && IsPressKey(*event)) {
    event->accept();
    animateClick();
    return;
  }
  QPushButton::keyPressEvent(event);
}

namespace {

// A swatch: a button named by its label, its colour in its description, pressed as by the keys.
class TAccessibleSwatch final : public QAccessibleWidget {
 public:
  explicit TAccessibleSwatch(TShape* swatch) : QAccessibleWidget(swatch, QAccessible::Button) {}

  QString text(QAccessible::Text kind) const override {
    if (kind == QAccessible::Description && widget()->accessibleDescription().isEmpty())
      return static_cast<TShape*>(widget())->BrushColor().name(QColor::HexRgb).toUpper();
    return QAccessibleWidget::text(kind);
  }

  QStringList actionNames() const override {
    return QStringList{pressAction()} + QAccessibleWidget::actionNames();
  }

  void doAction(const QString& action) override {
    if (action == pressAction() && widget()->isEnabled()) {
      emit static_cast<TShape*>(widget())->Activated();
      return;
    }
    QAccessibleWidget::doAction(action);
  }
};

}  // namespace

QAccessibleInterface* AccessibleFormControl(const QString& /*className*/, QObject* object) {
  if (auto* swatch = qobject_cast<TShape*>(object)) return new TAccessibleSwatch(swatch);
  return nullptr;
}

}  // namespace glowstep
