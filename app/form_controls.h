// The window's plain controls: a label in a fixed box, a colour swatch, and a push button.
#pragma once

#include <QColor>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

class QAccessibleInterface;
class QFocusEvent;
class QKeyEvent;
class QMouseEvent;

namespace glowstep {

// A static label drawn in the box it was given: it never resizes itself to its text, and wraps
// words where WordWrap is set.
class TFixedLabel : public QLabel {
  Q_OBJECT

 public:
  explicit TFixedLabel(QWidget* parent = nullptr);
};

// A rectangle filled with a brush colour and outlined with a one-pixel black pen. Any mouse
// button pressed on it is reported through OnMouseDown. The keyboard reaches it with Tab (a click
// leaves the focus where it was, so a field being edited keeps it); Space, Return or Enter then
// report Activated. To assistive tools it is a button named by its label, its colour (#RRGGBB)
// in its description.
class TShape : public QWidget {
  Q_OBJECT
  Q_PROPERTY(QColor BrushColor READ BrushColor WRITE SetBrushColor)

 public:
  explicit TShape(QWidget* parent = nullptr);

  QColor BrushColor() const { return BrushColor_; }
  void SetBrushColor(const QColor& color);

 signals:
  void OnMouseDown(QObject* Sender,
                   Qt::MouseButton Button,
                   Qt::KeyboardModifiers Shift,
                   int X,
                   int Y);
  void Activated();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  QColor BrushColor_ = Qt::white;
};

// A push button with a caption and a click event. Space, Return and Enter press it while it has
// the focus.
class TBitBtn : public QPushButton {
  Q_OBJECT

 public:
  explicit TBitBtn(QWidget* parent = nullptr);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

// How assistive tools learn of a swatch (none for other objects): a factory for
// QAccessible::installFactory.
QAccessibleInterface* AccessibleFormControl(const QString& className, QObject* object);

}  // namespace glowstep
