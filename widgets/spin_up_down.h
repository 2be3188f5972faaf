// The up-down of the numeric field's button kind bkStandard.
#pragma once

#include <QWidget>

namespace glowstep {

// The up-down of the button kind bkStandard: two arrows stacked, each press one notification.
class TSpinUpDown : public QWidget {
  Q_OBJECT

 public:
  explicit TSpinUpDown(int standardWidth, QWidget* parent = nullptr);
  ~TSpinUpDown() override;

  // The width the up-down keeps, whatever it is resized to.
  void SetStandardWidth(int width);
  int Position() const { return Position_; }

  // The arrow under a point: +1 for the upper (next), -1 for the lower (previous).
  int ArrowAt(QPoint point) const { return point.y() < height() / 2 ? 1 : -1; }

 signals:
  // One arrow was pressed: next for the upper one, previous for the lower one.
  void OnClick(QObject* sender, bool previous);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void PositionChanged(int position);

  int StandardWidth_;
  int Position_ = 0;
  int Pressed_ = 0;
  bool Reacting_ = false;
};

// All behaviour of the numeric field: value rules, text handling, stepping, keys and placing

}  // namespace glowstep
