// The LED indicator: a round LED picture shown in ColorOn while Status is true and in ColorOff
// while it is false, drawn through a mask so that the background around the disc shows. It
// can blink by toggling Status on a timer.
//
// TCustomLED holds the behaviour; TLED publishes it as Qt properties for forms.
#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>

class QPainter;

#include <cstdint>
#include <stdexcept>

namespace glowstep {

class TDevicePixels;

// The blink timer could not be started ("Not enough timers available").
class ELEDError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TCustomLED : public QWidget {
  Q_OBJECT

 public:
  explicit TCustomLED(QWidget* parent = nullptr);
  ~TCustomLED() override;

  bool Status() const { return Status_; }
  void SetStatus(bool value);
  QColor ColorOn() const { return ColorOn_; }
  void SetColorOn(const QColor& value);
  QColor ColorOff() const { return ColorOff_; }
  void SetColorOff(const QColor& value);
  // Blinking; throws ELEDError when the timer cannot be started.
  bool Active() const { return Active_; }
  void SetActive(bool value);
  // Milliseconds between blinks; 0 stops the blinking. Throws like SetActive.
  std::uint32_t Interval() const { return Interval_; }
  void SetInterval(std::uint32_t value);
  // While set, the control keeps the picture's size whatever size it is given.
  bool AutoSize() const { return AutoSize_; }
  void SetAutoSize(bool value);

  // The colour being shown, and the picture recoloured to it.
  QColor Color() const { return Color_; }
  const QImage& LedImage() const { return LedImage_; }

  QSize sizeHint() const override { return LedMask_.size(); }

 signals:
  void OnChange(QObject* sender);

 protected:
  // Starts the platform timer that drives the blinking; returns its id, 0 when refused.
  virtual int StartBlinkTimer(int intervalMs);
  // Whether the application is minimised: then blink ticks are ignored.
  virtual bool ApplicationMinimised() const;

  void paintEvent(QPaintEvent* event) override;
  void timerEvent(QTimerEvent* event) override;

 private:
  // The picture drawn at a device pixel ratio other than 1, from its shape.
  void PaintDisc(QPainter& painter, const TDevicePixels& device, QPoint at) const;
  void SetColor(const QColor& value);
  void RebuildImage();
  void UpdateBlinkTimer();
  void BlinkTick();

  QImage LedImage_;
  QImage LedMask_;
  // The same pictures as drawn: see RebuildImage.
  QImage PaintImage_;
  QImage PaintMask_;
  int BlinkTimerId_ = 0;
  QColor Color_;
  QColor ColorOn_;
  QColor ColorOff_;
  bool Active_ = false;
  bool Status_ = false;
  std::uint32_t Interval_ = 1000;
  bool AutoSize_ = false;
  QSize SavedMinimumSize_;
  QSize SavedMaximumSize_;
};

// The LED as forms use it: every setting is a property of the same name.
class TLED : public TCustomLED {
  Q_OBJECT
  Q_PROPERTY(bool Status READ Status WRITE SetStatus)
  Q_PROPERTY(QColor ColorOn READ ColorOn WRITE SetColorOn)
  Q_PROPERTY(QColor ColorOff READ ColorOff WRITE SetColorOff)
  Q_PROPERTY(bool Active READ Active WRITE SetActive)
  Q_PROPERTY(uint Interval READ Interval WRITE SetInterval)
  Q_PROPERTY(bool AutoSize READ AutoSize WRITE SetAutoSize)

 public:
  explicit TLED(QWidget* parent = nullptr) : TCustomLED(parent) {}
};

}  // namespace glowstep
