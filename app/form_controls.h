// The window's plain controls: a label in a fixed box, a colour swatch, and a push button.
#pragma once

#include <QColor>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

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
// button pressed on it is reported through OnMouseDown.
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

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  QColor BrushColor_ = Qt::white;
};

// A push button with a caption and a click event.
class TBitBtn : public QPushButton {
  Q_OBJECT

 public:
  explicit TBitBtn(QWidget* parent = nullptr);
};

}  // namespace glowstep
