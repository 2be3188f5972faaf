// The configurator's one window: a field per controller setting, two colour swatches, the read
// and write buttons and the readiness LED, laid out in fixed pixel positions by its form. It
// carries the HID device controller, whose events drive the controller link.
//
// Its texts are English and translated (see app/language.h); each caption is fitted to the box
// the form gives it (app/caption_fit.h). On a screen whose free area is smaller than the window,
// the window opens within that area and its controls scroll.
#pragma once

#include <QWidget>

#include <memory>
#include <optional>

#include "hid/hid_device_controller.h"
#include "protocol/controller_link.h"

class QColorDialog;
class QScrollArea;
class QTimer;

// The form compiler puts the window's form in its own namespace.
namespace Ui {  // NOLINT(readability-identifier-naming)
class TMainWindow;
}  // namespace Ui

namespace glowstep {

class THidBackend;
class TMainThreadPort;
class TSpinEdit;

class TMainWindow : public QWidget, public TControllerView {
  Q_OBJECT

 public:
  // The window's designed outer size, frame included, and its place on the screen.
  static constexpr QSize kOuterSize{421, 651};
  static constexpr QPoint kPosition{398, 130};
  static constexpr std::int32_t kDevThreadSleepTime = 50;

  TMainWindow(THidBackend& platform, TMainThreadPort& port, QWidget* parent = nullptr);
  ~TMainWindow() override;

  // --- The form's controls ----------------------------------------------------------------
  Ui::TMainWindow& Form() { return *Form_; }
  THidDeviceController& HidController() { return *HidController_; }
  TControllerLink& Link() { return *Link_; }
  // Made when first needed; its custom colours are the program's, shared by both swatches.
  QColorDialog& ColorDialog();

  // --- Handlers -------------------------------------------------------------------------------
  void FormCreate();
  void Read_btnClick();
  void Write_btnClick();
  void MainColorMouseDown();
  void IdleColorMouseDown();

  // --- TControllerView ------------------------------------------------------------------------
  Extended FieldValue(TSettingsField field) const override;
  void SetFieldValue(TSettingsField field, Extended value) override;
  void SetSwatchColor(TColorSwatch swatch, TColor color) override;
  void SetDeviceStatus(bool on) override;
  void SetPhotoControlsEnabled(bool enabled) override;
  void SetErrorCaption(const TMessage& caption) override;
  void ShowError(const TMessage& message) override;
  void ShowStatus(const TMessage& status) override;
  void SetReplyAwaited(bool awaited) override;

  // Where the colour dialog goes on the window's screen: centred across, its top at one third
  // of the height left free above and below it.
  QPoint ColorDialogPosition(QSize dialogSize) const;

  // Where the window goes, frame included, on a screen whose free area is `available`, given the
  // frame's margins: at its designed place and size where they fit; otherwise as large as the
  // area allows (the controls then scroll, and the window is a scroll bar wider where the width
  // allows, so that only one scroll bar is needed), moved just far enough to lie wholly within
  // the area.
  QRect Placement(const QRect& available, const QMargins& frame) const;
  // The scroll area that holds the controls once the window is smaller than they need; none
  // before.
  QScrollArea* ScrollArea() const { return ScrollArea_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  // Words the LED's state in its tip and for assistive tools.
  void DescribeDeviceStatus();
  // Gives every caption the font it fits its box in.
  void FitCaptions();
  // Puts the controls into a scroll area filling the window.
  void MakeScrollable();
  TSpinEdit* Field(TSettingsField field) const;
  // Opens the colour dialog on a stored colour; confirming stores the pick and shows it
  // normalised on the swatch.
  void PickColor(TColorSwatch swatch);

  // The generated form; kept behind a pointer so that users of the window need not see it.
  std::unique_ptr<Ui::TMainWindow> Form_;
  std::unique_ptr<THidDeviceController> HidController_;
  std::unique_ptr<TControllerLink> Link_;
  QColorDialog* ColorDialog_ = nullptr;
  QScrollArea* ScrollArea_ = nullptr;
  // Runs while a read request waits for its answer (kReplyPatience).
  QTimer* ReplyTimer_ = nullptr;
  // Label2's caption once the link has set one; the label is worded anew in another language.
  TMessage ErrorCaption_;
  // What the status line says, worded anew in another language.
  TMessage Status_;
  bool FormReady_ = false;
  bool OuterSizeApplied_ = false;
};

// QColor <-> the controller's colour value (red in the low byte).
TColor ToColorValue(const QColor& color);
QColor FromColorValue(TColor color);

}  // namespace glowstep
