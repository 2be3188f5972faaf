#include "app/main_window.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QColorDialog>
#include <QFont>
#include <QFontDatabase>
#include <QScreen>
#include <QScrollArea>
#include <QShowEvent>
#include <QStyle>
#include <QTimer>

#include <algorithm>

#include "app/application.h"
#include "app/caption_fit.h"
#include "app/language.h"
#include "ui_main_window.h"
#include "widgets/accessibility.h"
#include "widgets/form_loading.h"

namespace glowstep {

TColor ToColorValue(const QColor& color) {
  const QColor rgb = color.toRgb();
  return static_cast<TColor>(rgb.red()) | (static_cast<TColor>(rgb.green()) << 8) |
         (static_cast<TColor>(rgb.blue()) << 16);
}

QColor FromColorValue(TColor color) {
  return {static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
          static_cast<int>((color >> 16) & 0xFF)};
}

namespace {

// The window's font: "MS Sans Serif" at 11 pixels or, where it is not installed, the first of
// its look-alikes that is, among the families that carry Cyrillic; Liberation Sans has the
// metrics the form was laid out for, and a wider family gets captions fitted to their boxes. The
// family is looked up once per run: every window and control then name an installed family,
// which spares the font matcher its search through the system's fallbacks for a missing one.
QFont WindowFont() {
  static const QString family = [] {
    const QStringList installed = QFontDatabase::families(QFontDatabase::Cyrillic);
    for (const char* candidate : {"MS Sans Serif", "Microsoft Sans Serif", "Tahoma",
                                  "Liberation Sans", "Arimo", "DejaVu Sans"}) {
      QString name = QString::fromLatin1(candidate);
      if (installed.contains(name, Qt::CaseInsensitive)) return name;
    }
    return QStringLiteral("MS Sans Serif");  // the system's own fallback then
  }();
  QFont font(family);
  font.setPixelSize(11);
  return font;
}

// How assistive tools learn of the window (a frame named by its title), its swatches and the
// custom controls.
QAccessibleInterface* AccessibleWindowPart(const QString& className, QObject* object) {
  if (auto* window = qobject_cast<TMainWindow*>(object))
    return new QAccessibleWidget(window, QAccessible::Window);
  return AccessibleFormControl(className, object);
}

void InstallAccessibleWindow() {
  static const bool installed = [] {
    InstallAccessibleControls();
    QAccessible::installFactory(&AccessibleWindowPart);
    return true;
  }();
  (void)installed;
}

}  // namespace

TMainWindow::TMainWindow(THidBackend& platform, TMainThreadPort& port, QWidget* parent)
    : QWidget(parent), Form_(std::make_unique<Ui::TMainWindow>()) {
  InstallAccessibleWindow();
  // The window's font is the program's too: a line edit lays out its text in the program's font
  // before it takes its own, and one font for both spares loading a second one at start-up.
  const QFont font = WindowFont();
  if (QApplication::font() != font) QApplication::setFont(font);
  setFont(font);
  setPalette(QPalette(palette().color(QPalette::Button)));
  setAutoFillBackground(true);
  {
    // The controls take their stored properties in order, then learn that loading ended.
    TFormLoading loading;
    Form_->setupUi(this);
  }
  FormReady_ = true;
  DescribeDeviceStatus();
  FitCaptions();
  move(kPosition);

  ReplyTimer_ = new QTimer(this);
  ReplyTimer_->setSingleShot(true);
  // A coarse timer may end up to 5 % early: the user is told a full second passed.
  ReplyTimer_->setTimerType(Qt::PreciseTimer);
  ReplyTimer_->setInterval(kReplyPatience);
  connect(ReplyTimer_, &QTimer::timeout, this, [this] { Link_->ReplyOverdue(); });

  HidController_ = std::make_unique<THidDeviceController>(platform, port);
  // The controller's own failures go to the error box as they come.
  HidController_->SetOnError(THidErrorEvent(
      [this](THidDeviceController* /*Sender*/, const TMessage& message) { ShowError(message); }));
  HidController_->SetLoading(true);
  HidController_->SetDevThreadSleepTime(kDevThreadSleepTime);
  Link_ = std::make_unique<TControllerLink>(*HidController_, *this);
  Link_->Bind();
  HidController_->SetLoading(false);

  connect(Form_->Read_btn, &QPushButton::clicked, this, &TMainWindow::Read_btnClick);
  connect(Form_->Write_btn, &QPushButton::clicked, this, &TMainWindow::Write_btnClick);
  connect(Form_->MainColor, &TShape::OnMouseDown, this, &TMainWindow::MainColorMouseDown);
  connect(Form_->IdleColor, &TShape::OnMouseDown, this, &TMainWindow::IdleColorMouseDown);
  connect(Form_->MainColor, &TShape::Activated, this, &TMainWindow::MainColorMouseDown);
  connect(Form_->IdleColor, &TShape::Activated, this, &TMainWindow::IdleColorMouseDown);

  FormCreate();
}

TMainWindow::~TMainWindow() {
  // The link's handlers go before the controller and its devices.
  Link_.reset();
  HidController_.reset();
}

void TMainWindow::FormCreate() { Link_->ResetColors(); }

void TMainWindow::Read_btnClick() { Link_->RequestSettings(); }

void TMainWindow::Write_btnClick() { Link_->WriteSettings(); }

void TMainWindow::MainColorMouseDown() { PickColor(TColorSwatch::MainColor); }

void TMainWindow::IdleColorMouseDown() { PickColor(TColorSwatch::IdleColor); }

QColorDialog& TMainWindow::ColorDialog() {
  if (ColorDialog_ == nullptr) {
    // Building the dialog costs about as much as the whole rest of the window, so it waits
    // for the first pick. The custom colours are kept by Qt for the whole program, not by the
    // dialog, so making it late loses none.
    ColorDialog_ = new QColorDialog(this);
    ColorDialog_->setOption(QColorDialog::DontUseNativeDialog);
    ColorDialog_->setWindowModality(Qt::ApplicationModal);
  }
  return *ColorDialog_;
}

void TMainWindow::PickColor(TColorSwatch swatch) {
  TSettingsCodec& codec = Link_->Codec();
  const bool main = swatch == TColorSwatch::MainColor;
  QColorDialog& dialog = ColorDialog();
  dialog.setCurrentColor(FromColorValue(main ? codec.MainColorValue() : codec.IdleColorValue()));
  dialog.adjustSize();
  dialog.move(ColorDialogPosition(dialog.frameGeometry().size()));
  if (dialog.exec() != QDialog::Accepted) return;
  const TColor picked = ToColorValue(dialog.selectedColor());
  if (main) {
    codec.SetMainColorValue(picked);
  } else {
    codec.SetIdleColorValue(picked);
  }
  SetSwatchColor(swatch, NormalizeColor(picked));
}

QPoint TMainWindow::ColorDialogPosition(QSize dialogSize) const {
  const QScreen* screen = this->screen();
  const QRect area = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
  const int left = area.left() + (area.width() - dialogSize.width()) / 2;
  const int top = area.top() + (area.height() - dialogSize.height()) / 3;
  return {left, top};
}

TSpinEdit* TMainWindow::Field(TSettingsField field) const {
  switch (field) {
    case TSettingsField::Stairs_count:
      return Form_->Stairs_count;
    case TSettingsField::LEDs_in_one_stair:
      return Form_->LEDs_in_one_stair;
    case TSettingsField::Idle_LEDs:
      return Form_->Idle_LEDs;
    case TSettingsField::ON_time:
      return Form_->ON_time;
    case TSettingsField::Delay_time:
      return Form_->Delay_time;
    case TSettingsField::Sensor_time:
      return Form_->Sensor_time;
    case TSettingsField::Photo_time:
      return Form_->Photo_time;
    case TSettingsField::PhotoLevel:
      return nullptr;
  }
  return nullptr;
}

Extended TMainWindow::FieldValue(TSettingsField field) const {
  if (field == TSettingsField::PhotoLevel) return Form_->PhotoLevel->Value();
  return Field(field)->Value();
}

void TMainWindow::SetFieldValue(TSettingsField field, Extended value) {
  if (field == TSettingsField::PhotoLevel) {
    Form_->PhotoLevel->SetValue(static_cast<int>(Trunc(value)));
    return;
  }
  Field(field)->SetValue(value);
}

void TMainWindow::SetSwatchColor(TColorSwatch swatch, TColor color) {
  TShape* shape = swatch == TColorSwatch::MainColor ? Form_->MainColor : Form_->IdleColor;
  shape->SetBrushColor(FromColorValue(color));
}

void TMainWindow::SetDeviceStatus(bool on) {
  Form_->Device_status_LED->SetStatus(on);
  DescribeDeviceStatus();
}

void TMainWindow::SetReplyAwaited(bool awaited) {
  if (awaited) {
    ReplyTimer_->start();
  } else {
    ReplyTimer_->stop();
  }
}

void TMainWindow::DescribeDeviceStatus() {
  // The LED's colour in words, for a pointer's tip and for assistive tools.
  THidDevice* held = Link_ ? Link_->HeldDevice() : nullptr;
  const QString state =
      Form_->Device_status_LED->Status() && held != nullptr
          ? tr("Controller ready: %1").arg(QString::fromStdU16String(held->QueryProductName()))
          : tr("No controller");
  Form_->Device_status_LED->setToolTip(state);
  Form_->Device_status_LED->setAccessibleName(state);
}

void TMainWindow::ShowStatus(const TMessage& status) {
  Status_ = status;
  const QString text = Translated(status);
  Form_->StatusLine->setText(text);
  Form_->StatusLine->setToolTip(text);
}

void TMainWindow::SetPhotoControlsEnabled(bool enabled) {
  Form_->PhotoLevel->setEnabled(enabled);
  Form_->PhotoLabel->setEnabled(enabled);
}

void TMainWindow::SetErrorCaption(const TMessage& caption) {
  ErrorCaption_ = caption;
  Form_->Label2->setText(Translated(caption));
}

void TMainWindow::ShowError(const TMessage& message) {
  if (TApplication* application = TApplication::Instance())
    application->ShowError(Translated(message));
}

QRect TMainWindow::Placement(const QRect& available, const QMargins& frame) const {
  const QSize frameSize(frame.left() + frame.right(), frame.top() + frame.bottom());
  const QSize content = Form_->Content->size();
  QSize outer = kOuterSize;
  if (outer.height() > available.height()) {
    outer.setHeight(available.height());
    // The controls scroll up and down: a scroll bar's width more keeps them from scrolling
    // sideways too.
    const QSize client = outer - frameSize;
    if (client.height() < content.height()) {
      outer.setWidth(std::max(outer.width(), content.width() + frameSize.width() +
                                                 style()->pixelMetric(QStyle::PM_ScrollBarExtent)));
    }
  }
  outer = outer.boundedTo(available.size());
  const int left = std::clamp(kPosition.x(), available.left(),
                              std::max(available.left(), available.right() + 1 - outer.width()));
  const int top = std::clamp(kPosition.y(), available.top(),
                             std::max(available.top(), available.bottom() + 1 - outer.height()));
  return {QPoint(left, top), outer};
}

void TMainWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (OuterSizeApplied_ || event->spontaneous()) return;
  OuterSizeApplied_ = true;
  // The designed size counts the frame; the frame is known once the window is shown.
  const QRect frameRect = frameGeometry();
  const QRect client = geometry();
  const QMargins frame(client.left() - frameRect.left(), client.top() - frameRect.top(),
                       frameRect.right() - client.right(), frameRect.bottom() - client.bottom());
  const QScreen* screen = this->screen();
  const QRect available = screen ? screen->availableGeometry() : QRect(QPoint(), kOuterSize);
  const QRect outer = Placement(available, frame);
  resize(outer.size() - QSize(frame.left() + frame.right(), frame.top() + frame.bottom()));
  move(outer.topLeft());
}

void TMainWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (!FormReady_) return;
  const QSize content = Form_->Content->size();
  if (!ScrollArea_ && (width() < content.width() || height() < content.height())) {
    MakeScrollable();
  }
  if (ScrollArea_) ScrollArea_->setGeometry(rect());
}

void TMainWindow::MakeScrollable() {
  // Made only when needed: a window that fits its screen draws and starts as if it had none.
  ScrollArea_ = new QScrollArea(this);
  ScrollArea_->setFrameShape(QFrame::NoFrame);
  // The window's own background shows behind the controls, as without the scroll area.
  ScrollArea_->viewport()->setAutoFillBackground(false);
  ScrollArea_->setWidget(Form_->Content);
  ScrollArea_->setGeometry(rect());
  ScrollArea_->show();
}

void TMainWindow::FitCaptions() {
  const QFont& base = font();
  for (QLabel* label : Form_->Content->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
    // The status line wraps what it says; it is no caption.
    if (!label->isHidden() && label != Form_->StatusLine) FitCaption(*label, base);
  }
  for (QPushButton* button :
       Form_->Content->findChildren<QPushButton*>(Qt::FindDirectChildrenOnly)) {
    FitCaption(*button, base);
  }
}

void TMainWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (!FormReady_) return;
  switch (event->type()) {
    case QEvent::LanguageChange:
      Form_->retranslateUi(this);
      if (!ErrorCaption_.Empty()) Form_->Label2->setText(Translated(ErrorCaption_));
      if (!Status_.Empty()) ShowStatus(Status_);
      DescribeDeviceStatus();
      FitCaptions();
      break;
    case QEvent::FontChange:
      FitCaptions();
      break;
    default:
      break;
  }
}

}  // namespace glowstep
