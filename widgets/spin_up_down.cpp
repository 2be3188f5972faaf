#include "widgets/spin_up_down.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace glowstep {

TSpinUpDown::TSpinUpDown(int standardWidth, QWidget* parent)
    : QWidget(parent), StandardWidth_(standardWidth) {
  setFocusPolicy(Qt::NoFocus);
  setCursor(Qt::ArrowCursor);
}

TSpinUpDown::~TSpinUpDown() { disconnect(this, &TSpinUpDown::OnClick, nullptr, nullptr); }

void TSpinUpDown::SetStandardWidth(int width) {
  StandardWidth_ = width;
  if (this->width() != width) resize(width, height());
}

void TSpinUpDown::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (width() != StandardWidth_) resize(StandardWidth_, height());
}

void TSpinUpDown::PositionChanged(int position) {
  if (Reacting_) return;
  Reacting_ = true;
  Position_ = position;
  if (Position_ > 0) {
    emit OnClick(this, false);
  } else if (Position_ < 0) {
    emit OnClick(this, true);
  }
  Position_ = 0;  // every notification is one step
  Reacting_ = false;
}

void TSpinUpDown::mousePressEvent(QMouseEvent* event) {
  QWidget::mousePressEvent(event);
  if (event->button() != Qt::LeftButton || !isEnabled()) return;
  event->accept();
  Pressed_ = ArrowAt(event->position().toPoint());
  update();
  PositionChanged(Pressed_);
}

void TSpinUpDown::mouseReleaseEvent(QMouseEvent* event) {
  QWidget::mouseReleaseEvent(event);
  if (event->button() != Qt::LeftButton) return;
  Pressed_ = 0;
  update();
}

void TSpinUpDown::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const int half = height() / 2;
  for (int arrow : {1, -1}) {
    const QRect area =
        arrow > 0 ? QRect(0, 0, width(), half) : QRect(0, half, width(), height() - half);
    QStyleOptionButton panel;
    panel.initFrom(this);
    panel.rect = area;
    panel.state |= Pressed_ == arrow ? QStyle::State_Sunken : QStyle::State_Raised;
    style()->drawPrimitive(QStyle::PE_PanelButtonBevel, &panel, &painter, this);
    QStyleOption indicator;
    indicator.initFrom(this);
    indicator.rect = area;
    if (Pressed_ == arrow) indicator.state |= QStyle::State_Sunken;
    style()->drawPrimitive(arrow > 0 ? QStyle::PE_IndicatorSpinUp : QStyle::PE_IndicatorSpinDown,
                           &indicator, &painter, this);
  }
}

}  // namespace glowstep
