#include "spin_edit.h"

#include "form_loading.h"
#include "spin_button.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLocale>
#include <QMenu>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QWheelEvent>

#include <charconv>
#include <cmath>
#include <optional>

namespace glowstep {

namespace {

std::optional<TNumberFormat>& FormatSlot() {
  static std::optional<TNumberFormat> format;
  return format;
}

std::u16string U16(const QString& text) { return text.toStdU16String(); }
QString Q(const std::u16string& text) { return QString::fromStdU16String(text); }

// A step request of the up-down, carried out when the edit processes it.
class TStepEvent : public QEvent {
 public:
  TStepEvent(QObject* sender, bool previous)
      : QEvent(static_cast<QEvent::Type>(TCustomSpinEdit::StepMessage)),
        Sender(sender),
        Previous(previous) {}
  QPointer<QObject> Sender;
  bool Previous;
};

// Sets a flag for the lifetime of a scope, also when the scope is left by an exception.
class TFlagScope {
 public:
  TFlagScope(bool& flag, bool value) : flag_(flag) { flag_ = value; }
  ~TFlagScope() { flag_ = false; }
  TFlagScope(const TFlagScope&) = delete;
  TFlagScope& operator=(const TFlagScope&) = delete;

 private:
  bool& flag_;
};

bool IsExitReason(Qt::FocusReason reason) {
  // A window losing activation or a popup opening does not move the focus to another control.
  return reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason;
}

}  // namespace

// --- TMaskEditBase ----------------------------------------------------------------------------

TMaskEditBase::TMaskEditBase(QWidget* parent) : QLineEdit(parent) {}

bool TMaskEditBase::AllowsCommand(TClipboardCommand command) const {
  return clipboardCommands_.testFlag(command);
}

void TMaskEditBase::ErrorBeep() {
  QApplication::beep();
  emit Beeped();
}

void TMaskEditBase::keyPressEvent(QKeyEvent* event) {
  std::optional<TClipboardCommand> command;
  if (event->matches(QKeySequence::Copy)) {
    command = caCopy;
  } else if (event->matches(QKeySequence::Cut)) {
    command = caCut;
  } else if (event->matches(QKeySequence::Paste)) {
    command = caPaste;
  } else if (event->matches(QKeySequence::Undo) || event->matches(QKeySequence::Redo)) {
    command = caUndo;
  }
  if (command && !AllowsCommand(*command)) {
    event->accept();  // answered as handled, nothing done
    return;
  }
  QLineEdit::keyPressEvent(event);
}

void TMaskEditBase::contextMenuEvent(QContextMenuEvent* event) {
  QMenu* menu = createStandardContextMenu();
  const std::pair<const char*, TClipboardCommand> gated[] = {
      {"edit-undo", caUndo}, {"edit-redo", caUndo},   {"edit-cut", caCut},
      {"edit-copy", caCopy}, {"edit-paste", caPaste}, {"edit-delete", caClear},
  };
  for (QAction* action : menu->actions()) {
    for (const auto& [name, command] : gated) {
      if (action->objectName() == QLatin1String(name) && !AllowsCommand(command)) {
        action->setEnabled(false);
      }
    }
  }
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(event->globalPos());
}

void TMaskEditBase::mouseReleaseEvent(QMouseEvent* event) {
  // The middle button pastes the selection where the platform has one.
  if (event->button() == Qt::MiddleButton && !AllowsCommand(caPaste)) {
    event->accept();
    return;
  }
  QLineEdit::mouseReleaseEvent(event);
}

void TMaskEditBase::dropEvent(QDropEvent* event) {
  if (!AllowsCommand(caPaste)) {
    event->ignore();
    return;
  }
  QLineEdit::dropEvent(event);
}

// --- TSpinUpDown ------------------------------------------------------------------------------

TSpinUpDown::TSpinUpDown(int standardWidth, QWidget* parent)
    : QWidget(parent), standardWidth_(standardWidth) {
  setFocusPolicy(Qt::NoFocus);
  setCursor(Qt::ArrowCursor);
}

TSpinUpDown::~TSpinUpDown() { disconnect(this, &TSpinUpDown::OnClick, nullptr, nullptr); }

void TSpinUpDown::SetStandardWidth(int width) {
  standardWidth_ = width;
  if (this->width() != width) resize(width, height());
}

void TSpinUpDown::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (width() != standardWidth_) resize(standardWidth_, height());
}

void TSpinUpDown::PositionChanged(int position) {
  if (reacting_) return;
  reacting_ = true;
  position_ = position;
  if (position_ > 0) {
    emit OnClick(this, false);
  } else if (position_ < 0) {
    emit OnClick(this, true);
  }
  position_ = 0;  // every notification is one step
  reacting_ = false;
}

void TSpinUpDown::mousePressEvent(QMouseEvent* event) {
  QWidget::mousePressEvent(event);
  if (event->button() != Qt::LeftButton || !isEnabled()) return;
  event->accept();
  pressed_ = ArrowAt(event->position().toPoint());
  update();
  PositionChanged(pressed_);
}

void TSpinUpDown::mouseReleaseEvent(QMouseEvent* event) {
  QWidget::mouseReleaseEvent(event);
  if (event->button() != Qt::LeftButton) return;
  pressed_ = 0;
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
    panel.state |= pressed_ == arrow ? QStyle::State_Sunken : QStyle::State_Raised;
    style()->drawPrimitive(QStyle::PE_PanelButtonBevel, &panel, &painter, this);
    QStyleOption indicator;
    indicator.initFrom(this);
    indicator.rect = area;
    if (pressed_ == arrow) indicator.state |= QStyle::State_Sunken;
    style()->drawPrimitive(arrow > 0 ? QStyle::PE_IndicatorSpinUp : QStyle::PE_IndicatorSpinDown,
                           &indicator, &painter, this);
  }
}

// --- TCustomSpinEdit --------------------------------------------------------------------------

TCustomSpinEdit::TCustomSpinEdit(QWidget* parent) : TMaskEditBase(parent) {
  // Built by a form: its stored properties follow, then the form says loading ended.
  if (TFormLoading::Enlist(this, [this] { Loaded(); })) BeginLoading();
  connect(this, &QLineEdit::textChanged, this, [this] { ChangeReaction(); });
  BuildButton();
  setText(QStringLiteral("0"));
  setMinimumHeight(MinimumHeight());
  PlaceButton();
  UpdateTextMargins();
}

TCustomSpinEdit::~TCustomSpinEdit() {
  // No change reaction during teardown.
  destroying_ = true;
  updating_ = true;
  disconnect(this, &QLineEdit::textChanged, this, nullptr);
}

TNumberFormat TCustomSpinEdit::NumberFormat() {
  if (!FormatSlot()) {
    const QLocale locale;
    TNumberFormat format;
    const QString decimal = locale.decimalPoint();
    const QString group = locale.groupSeparator();
    if (!decimal.isEmpty()) format.DecimalSeparator = decimal.at(0).unicode();
    if (!group.isEmpty()) format.ThousandsSeparator = group.at(0).unicode();
    FormatSlot() = format;
  }
  return *FormatSlot();
}

void TCustomSpinEdit::SetNumberFormat(const TNumberFormat& format) { FormatSlot() = format; }

void TCustomSpinEdit::UseLocaleNumberFormat() { FormatSlot().reset(); }

QChar TCustomSpinEdit::DecimalSeparator() const { return QChar(NumberFormat().DecimalSeparator); }

QChar TCustomSpinEdit::ThousandsSeparator() const {
  return QChar(NumberFormat().ThousandsSeparator);
}

bool TCustomSpinEdit::WindowExists() const {
  return !loading_ && !destroying_ && testAttribute(Qt::WA_WState_Created);
}

void TCustomSpinEdit::WriteText(const QString& text) {
  if (text == this->text()) return;
  const bool modified = isModified();
  setText(text);
  setModified(modified);
}

// --- Bounds -----------------------------------------------------------------------------------

Extended TCustomSpinEdit::ClampValue(Extended x) const {
  if (!checkMinValue_ && !checkMaxValue_) return x;
  Extended r = x;
  if (checkMinValue_ && minValue_ > x) r = minValue_;
  if (checkMaxValue_ && maxValue_ < x) r = maxValue_;
  return r;
}

Extended TCustomSpinEdit::CheckRange(Extended x, bool raise) const {
  const Extended r = ClampValue(x);
  if ((checkMinValue_ || checkMaxValue_) && raise && r != x) {
    const char16_t decimal = NumberFormat().DecimalSeparator;
    const QString message =
        QStringLiteral("Value must be between %1 and %2")
            .arg(Q(FormatGeneral(minValue_, decimal)), Q(FormatGeneral(maxValue_, decimal)));
    throw ERangeError(message.toStdString());
  }
  return r;
}

bool TCustomSpinEdit::IsCheckMinValueStored() const {
  return minValue_ == 0 && checkMinValue_ != (maxValue_ != 0);
}

bool TCustomSpinEdit::IsCheckMaxValueStored() const {
  return maxValue_ == 0 && checkMaxValue_ != (minValue_ != 0);
}

void TCustomSpinEdit::SetCheckMinValue(bool check) {
  if (loading_) autoCheckMin_ = false;
  checkMinValue_ = minValue_ != 0 || check;
  RewriteValue();
}

void TCustomSpinEdit::SetCheckMaxValue(bool check) {
  if (loading_) autoCheckMax_ = false;
  checkMaxValue_ = maxValue_ != 0 || check;
  RewriteValue();
}

void TCustomSpinEdit::SetMinValue(Extended value) {
  if (value == minValue_) return;
  const bool wasStored = IsCheckMinValueStored();
  const Extended old = minValue_;
  minValue_ = value;
  if ((old == 0) != (value == 0) && autoCheckMin_) {
    const bool bounded = minValue_ != 0 || maxValue_ != 0;
    SetCheckMinValue(bounded);
    if (!wasStored && autoCheckMax_) SetCheckMaxValue(bounded);
  }
  RewriteValue();
}

void TCustomSpinEdit::SetMaxValue(Extended value) {
  if (value == maxValue_) return;
  const bool wasStored = IsCheckMaxValueStored();
  const Extended old = maxValue_;
  maxValue_ = value;
  if ((old == 0) != (value == 0) && autoCheckMax_) {
    const bool bounded = minValue_ != 0 || maxValue_ != 0;
    SetCheckMaxValue(bounded);
    if (!wasStored && autoCheckMin_) SetCheckMinValue(bounded);
  }
  RewriteValue();
}

void TCustomSpinEdit::Loaded() {
  loading_ = false;
  autoCheckMin_ = autoCheckMax_ = true;
  lastNotifiedValue_ = GetValue();
}

// --- Properties that re-write the value -------------------------------------------------------

void TCustomSpinEdit::SetValueType(TValueType type) {
  if (type == valueType_) return;
  valueType_ = type;
  RewriteValue();  // the old text read under the new type
  if (type == vtInteger || type == vtHex) {
    increment_ = static_cast<Extended>(RoundHalfEven(increment_));
    if (increment_ == 0) increment_ = 1;
  }
  if (type == vtHex) thousands_ = false;
}

void TCustomSpinEdit::SetDecimal(int decimal) {
  decimal = std::clamp(decimal, 0, 255);
  if (decimal == decimal_) return;
  decimal_ = decimal;
  RewriteValue();
}

void TCustomSpinEdit::SetDisplayFormat(const QString& format) {
  if (format == displayFormat_) return;
  displayFormat_ = format;
  update();
}

void TCustomSpinEdit::SetThousands(bool thousands) {
  if (valueType_ == vtHex) return;  // hexadecimal digits are never grouped
  thousands_ = thousands;
}

void TCustomSpinEdit::SetAlignment(Qt::Alignment alignment) {
  setAlignment((this->alignment() & ~Qt::AlignHorizontal_Mask) |
               (alignment & Qt::AlignHorizontal_Mask));
}

void TCustomSpinEdit::SetItems(const QStringList& items) {
  items_ = items;
  SetValue(0);
  WriteText(items_.value(0));
}

void TCustomSpinEdit::ShowEditFormat() {
  if (valueType_ != vtFloat || !hasFocus_ || displayFormat_.isEmpty()) return;
  WriteText(Q(FormatFixed(GetValue(), decimal_, NumberFormat())));
}

// --- Change reaction --------------------------------------------------------------------------

void TCustomSpinEdit::ChangeReaction() {
  if (updating_ || !WindowExists()) return;
  const int caret = cursorPosition();
  const QString before = text();
  {
    TFlagScope updating(updating_, true);
    TFlagScope keepMinus(keepMinus_, before.startsWith(QLatin1Char('-')));
    // A range error while typing is never shown: the value is cropped either way.
    if (checkOptions_.testFlag(coCheckOnChange)) SetValue(ClampValue(GetValue()));
  }
  setCursorPosition(caret);
  const Extended value = GetValue();
  if (value == lastNotifiedValue_) return;
  if (thousands_ && cursorPosition() == caret) {
    const QChar separator = ThousandsSeparator();
    const auto shift = text().left(caret).count(separator) - before.left(caret).count(separator);
    setCursorPosition(caret + static_cast<int>(shift));
  }
  emit OnChange(this);
  lastNotifiedValue_ = GetValue();
}

// --- Stepping ---------------------------------------------------------------------------------

void TCustomSpinEdit::StepUp(QObject* sender) { Step(true, sender); }

void TCustomSpinEdit::StepDown(QObject* sender) { Step(false, sender); }

void TCustomSpinEdit::Step(bool up, QObject*) {
  if (isReadOnly()) {
    if (beepOnError_) ErrorBeep();
    return;
  }
  const QString before = text();
  {
    TFlagScope updating(updating_, true);
    SetValue(up ? GetValue() + increment_ : GetValue() - increment_);
  }
  if (text().compare(before, Qt::CaseInsensitive) != 0) {
    setModified(true);
    ChangeReaction();
  }
  if (up) {
    emit OnTopClick(this);
  } else {
    emit OnBottomClick(this);
  }
}

// --- Keys -------------------------------------------------------------------------------------

bool TCustomSpinEdit::AcceptsChar(QChar c) const {
  if (c.unicode() < 32) return editorEnabled_ || c.unicode() != 8;
  if (!editorEnabled_) return false;
  QString allowed = QStringLiteral("+-0123456789");
  const QChar decimal = DecimalSeparator();
  if (valueType_ == vtFloat) {
    if (!text().contains(decimal)) {
      allowed += decimal;
      if (!(thousands_ && ThousandsSeparator() == QLatin1Char('.'))) allowed += QLatin1Char('.');
    }
    if (!text().toUpper().contains(QLatin1Char('E'))) allowed += QStringLiteral("Ee");
  } else if (valueType_ == vtHex) {
    allowed += QStringLiteral("ABCDEFabcdef");
  }
  return allowed.contains(c);
}

bool TCustomSpinEdit::AllowsCommand(TClipboardCommand command) const {
  if ((command == caCut || command == caPaste) && (!editorEnabled_ || isReadOnly())) return false;
  return TMaskEditBase::AllowsCommand(command);
}

void TCustomSpinEdit::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  const Qt::KeyboardModifiers modifiers =
      event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
  if (arrowKeys_ && (key == Qt::Key_Up || key == Qt::Key_Down)) {
    event->accept();
    if (key == Qt::Key_Up) {
      StepUp(this);
    } else {
      StepDown(this);
    }
    return;
  }
  const QChar decimal = DecimalSeparator();
  const int caret = cursorPosition();
  const QString current = text();
  if (key == Qt::Key_Delete && modifiers == Qt::NoModifier) {
    if (!editorEnabled_) {
      // Deleting is editing as much as typing is.
      if (beepOnError_) ErrorBeep();
      event->accept();
      return;
    }
    if (caret < current.size() && current.at(caret) == decimal) {
      // The separator is stepped over, never deleted.
      cursorForward(false);
      event->accept();
      return;
    }
  }
  if (!editorEnabled_ && (event->matches(QKeySequence::DeleteStartOfWord) ||
                          event->matches(QKeySequence::DeleteEndOfWord) ||
                          event->matches(QKeySequence::DeleteEndOfLine) ||
                          event->matches(QKeySequence::DeleteCompleteLine))) {
    if (beepOnError_) ErrorBeep();
    event->accept();
    return;
  }
  if (key == Qt::Key_Backspace && modifiers == Qt::NoModifier && caret > 0 &&
      current.at(caret - 1) == decimal) {
    // The caret moves in front of the separator; the backspace then acts there.
    cursorBackward(false);
  }

  const QString typed = event->text();
  const bool isCharacter =
      !typed.isEmpty() && key != Qt::Key_Delete &&
      !(modifiers & (Qt::ControlModifier | Qt::AltModifier) && typed.at(0).unicode() >= 32);
  if (!isCharacter) {
    TMaskEditBase::keyPressEvent(event);
    return;
  }
  QString accepted;
  bool refused = false;
  for (QChar c : typed) {
    if (c == QLatin1Char('.') && !(thousands_ && ThousandsSeparator() == QLatin1Char('.'))) {
      c = decimal;
    }
    if (c == decimal && valueType_ == vtFloat && text().contains(decimal)) {
      // Typing the separator again jumps to the fraction.
      setCursorPosition(static_cast<int>(text().indexOf(decimal)) + 1);
      event->accept();
      return;
    }
    if (!AcceptsChar(c)) {
      refused = true;
      continue;
    }
    accepted += c;
  }
  if (refused && beepOnError_) ErrorBeep();
  if (accepted.isEmpty()) {
    event->accept();
    return;
  }
  if (accepted == typed) {
    TMaskEditBase::keyPressEvent(event);
    return;
  }
  QKeyEvent replaced(event->type(), key, event->modifiers(), accepted, event->isAutoRepeat(),
                     static_cast<ushort>(event->count()));
  TMaskEditBase::keyPressEvent(&replaced);
  event->setAccepted(replaced.isAccepted());
}

void TCustomSpinEdit::wheelEvent(QWheelEvent* event) {
  // The wheel turns the focused field only, and only its vertical wheel; otherwise the
  // notification goes on to the parent, which may scroll.
  const QPoint delta = event->angleDelta();
  if (!hasFocus() || (delta.y() == 0 && delta.x() != 0)) {
    event->ignore();
    return;
  }
  event->accept();
  if (delta.y() > 0) {
    StepUp(nullptr);
  } else {
    StepDown(nullptr);
  }
}

bool TCustomSpinEdit::event(QEvent* event) {
  if (event->type() == static_cast<QEvent::Type>(StepMessage)) {
    auto* step = static_cast<TStepEvent*>(event);
    if ((focusPolicy() & Qt::TabFocus) && isEnabled() && isVisible() && !hasFocus()) {
      setFocus(Qt::MouseFocusReason);
    }
    if (step->Previous) {
      StepDown(step->Sender);
    } else {
      StepUp(step->Sender);
    }
    return true;
  }
  return TMaskEditBase::event(event);
}

// --- Focus ------------------------------------------------------------------------------------

void TCustomSpinEdit::focusInEvent(QFocusEvent* event) {
  TMaskEditBase::focusInEvent(event);
  if (!IsExitReason(event->reason()) && hasFocus_) return;  // the window came back
  hasFocus_ = true;
  update();
  ShowEditFormat();
  const bool mouse =
      event->reason() == Qt::MouseFocusReason || (QGuiApplication::mouseButtons() & Qt::LeftButton);
  if (autoSelect_ && !mouse) {
    selectAll();
  } else if (!autoSelect_ && hasSelectedText()) {
    deselect();
  }
}

void TCustomSpinEdit::focusOutEvent(QFocusEvent* event) {
  const bool crop = checkOptions_.testFlag(coCropBeyondLimit);
  const bool checkOnExit = checkOptions_.testFlag(coCheckOnExit);
  if (checkOnExit && crop) SetValue(ClampValue(GetValue()));
  TMaskEditBase::focusOutEvent(event);
  if (IsExitReason(event->reason())) Exit();
}

void TCustomSpinEdit::Exit() {
  hasFocus_ = false;
  update();
  if (!checkOptions_.testFlag(coCheckOnExit)) return;
  const Extended value = GetValue();
  try {
    SetValue(CheckRange(value, !checkOptions_.testFlag(coCropBeyondLimit)));
  } catch (const ERangeError& error) {
    hasFocus_ = true;
    selectAll();
    // The focus cannot be taken back while it is moving; the error goes to the application's
    // error display from the event loop, after the field has the focus again.
    const std::string message = error.what();
    QMetaObject::invokeMethod(
        this,
        [this, message] {
          if ((focusPolicy() & Qt::TabFocus) && isEnabled() && isVisible()) {
            setFocus(Qt::OtherFocusReason);
          }
          throw ERangeError(message);
        },
        Qt::QueuedConnection);
  }
}

// --- Button and layout ------------------------------------------------------------------------

int TCustomSpinEdit::StandardButtonWidth() const {
  return std::min(style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this), 15);
}

int TCustomSpinEdit::ButtonWidth() const {
  if (!showButton_) return 0;
  if (upDown_) return upDown_->width();
  if (spinButton_) return spinButton_->width();
  return StandardButtonWidth();
}

int TCustomSpinEdit::MinimumHeight() const {
  constexpr int kBorderHeight = 1;
  return fontMetrics().height() + 4 * kBorderHeight + 1;
}

void TCustomSpinEdit::SetButtonKind(TSpinButtonKind kind) {
  if (kind == buttonKind_) return;
  buttonKind_ = kind;
  if (destroying_) return;
  BuildButton();
  PlaceButton();
  UpdateTextMargins();
}

void TCustomSpinEdit::SetShowButton(bool show) {
  if (show == showButton_) return;
  showButton_ = show;
  if (destroying_) return;
  BuildButton();
  PlaceButton();
  UpdateTextMargins();
}

void TCustomSpinEdit::BuildButton() {
  // The old button may be the one whose click is running: it goes once control returns to the
  // event loop.
  for (QWidget* old : {static_cast<QWidget*>(buttonHost_), static_cast<QWidget*>(upDown_)}) {
    if (!old) continue;
    old->hide();
    old->setParent(nullptr);
    old->deleteLater();
  }
  buttonHost_ = nullptr;
  spinButton_ = nullptr;
  upDown_ = nullptr;
  if (!showButton_) return;
  if (buttonKind_ == bkStandard) {
    upDown_ = new TSpinUpDown(StandardButtonWidth(), this);
    upDown_->setGeometry(0, 1, StandardButtonWidth(), height());
    connect(upDown_, &TSpinUpDown::OnClick, this, [this](QObject* sender, bool previous) {
      QCoreApplication::postEvent(this, new TStepEvent(sender, previous));
    });
    upDown_->show();
    return;
  }
  buttonHost_ = new QWidget(this);
  buttonHost_->setObjectName(QStringLiteral("ButtonHost"));
  buttonHost_->setCursor(Qt::ArrowCursor);
  spinButton_ = new TSpinButton(buttonHost_);
  spinButton_->SetButtonStyle(buttonKind_ == bkClassic ? TSpinButton::sbsClassic
                                                       : TSpinButton::sbsDefault);
  spinButton_->SetFocusControl(this);
  connect(spinButton_, &TSpinButton::OnTopClick, this, [this](QObject* s) { StepUp(s); });
  connect(spinButton_, &TSpinButton::OnBottomClick, this, [this](QObject* s) { StepDown(s); });
  buttonHost_->show();
}

void TCustomSpinEdit::PlaceButton() {
  const bool rightToLeft = layoutDirection() == Qt::RightToLeft;
  const int w = width(), h = height(), s = StandardButtonWidth();
  if (upDown_) {
    const int frame =
        hasFrame() ? style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this) : 0;
    upDown_->SetStandardWidth(s);
    upDown_->setGeometry(rightToLeft ? frame : w - s - frame, frame, s, h - 2 * frame);
    upDown_->setEnabled(isEnabled());
    return;
  }
  if (!buttonHost_) return;
  // The single-border 3-D frame is what the field draws when it has a frame.
  const bool framed = hasFrame();
  const bool classic = buttonKind_ == bkClassic;
  QRect host;
  if (framed) {
    host = classic ? QRect(w - s - 4, -1, s, h - 3) : QRect(w - h - 1, -1, h - 3, h - 3);
  } else {
    host = classic ? QRect(w - s, 0, s, h) : QRect(w - h, 0, h, h);
  }
  if (rightToLeft) {
    const int left = framed ? -1 : 0;
    const int right = framed ? h - 4 : h;
    host = QRect(left, host.top(), right - left, host.height());
  }
  buttonHost_->setGeometry(host);
  spinButton_->setGeometry(1, 1, host.width() - 1, host.height() - 1);
}

void TCustomSpinEdit::UpdateTextMargins() {
  const int margin = ButtonWidth();
  if (layoutDirection() == Qt::RightToLeft) {
    setTextMargins(margin, 0, 0, 0);
  } else {
    setTextMargins(0, 0, margin, 0);
  }
}

void TCustomSpinEdit::resizeEvent(QResizeEvent* event) {
  TMaskEditBase::resizeEvent(event);
  PlaceButton();
  UpdateTextMargins();
}

void TCustomSpinEdit::changeEvent(QEvent* event) {
  TMaskEditBase::changeEvent(event);
  switch (event->type()) {
    case QEvent::FontChange:
      setMinimumHeight(MinimumHeight());
      [[fallthrough]];
    case QEvent::LayoutDirectionChange:
    case QEvent::StyleChange:
      PlaceButton();
      UpdateTextMargins();
      break;
    case QEvent::EnabledChange:
      if (upDown_) PlaceButton();
      break;
    default:
      break;
  }
}

// --- TSpinEdit --------------------------------------------------------------------------------

TSpinEdit::TSpinEdit(QWidget* parent) : TCustomSpinEdit(parent) {}

Extended TSpinEdit::FromDouble(double value) {
  char buffer[64];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (error != std::errc()) return static_cast<Extended>(value);
  const std::u16string text(buffer, end);
  const auto parsed = TextToFloat(text, u'.');
  return parsed ? *parsed : static_cast<Extended>(value);
}

Extended TSpinEdit::ReadText() const {
  const TNumberFormat format = NumberFormat();
  const QString current = text();
  switch (ValueType()) {
    case vtFloat: {
      const std::u16string number = DisplayFormat().isEmpty() ? StripThousands(U16(current), format)
                                                              : U16(DisplayTextToNumber(current));
      const auto value = TextToFloat(number, format.DecimalSeparator);
      return value ? *value : MinValue();
    }
    case vtHex: {
      const auto value = TextToInt(u"$" + U16(current));
      if (value) return static_cast<Extended>(*value);
      break;
    }
    case vtString: {
      // The list finds its entries regardless of letter case.
      const QStringList items = Items();
      std::int64_t index = -1;
      for (qsizetype i = 0; i < items.size() && index < 0; ++i) {
        if (items.at(i).compare(current, Qt::CaseInsensitive) == 0) index = i;
      }
      const std::int64_t position = index + RoundHalfEven(MinValue());
      return static_cast<Extended>(std::max<std::int64_t>(position, 0));
    }
    case vtInteger: {
      const auto value = TextToInt(StripThousands(U16(current), format));
      if (value) return static_cast<Extended>(*value);
      break;
    }
  }
  return static_cast<Extended>(RoundHalfEven(MinValue()));
}

Extended TSpinEdit::GetValue() const {
  try {
    return ReadText();
  } catch (...) {
    return ValueType() == vtFloat ? MinValue() : static_cast<Extended>(RoundHalfEven(MinValue()));
  }
}

void TSpinEdit::SetValue(Extended value) {
  const bool modified = isModified();
  const TNumberFormat format = NumberFormat();
  QString text;
  switch (ValueType()) {
    case vtFloat:
      text = DisplayFormat().isEmpty()
                 ? Q(FormatFixed(ClampValue(value), Decimal(), format, Thousands()))
                 : FormatDisplay(ClampValue(value));
      break;
    case vtInteger:
      text = Q(FormatFixed(ClampValue(value), 0, format, Thousands()));
      break;
    case vtHex:
      text = QString::number(static_cast<quint64>(RoundHalfEven(ClampValue(value))), 16).toUpper();
      break;
    case vtString: {
      // The text shown for a value is the one the value reads back as: the position counts from
      // MinValue, and positions outside the list show its nearest end.
      const QStringList items = Items();
      const std::int64_t position = Trunc(std::max<Extended>(value, 0)) - RoundHalfEven(MinValue());
      if (!items.isEmpty()) {
        const auto last = static_cast<std::int64_t>(items.size() - 1);
        text = items.at(static_cast<qsizetype>(std::clamp<std::int64_t>(position, 0, last)));
      }
      break;
    }
  }
  if (KeepMinus() && !text.isEmpty() && !text.startsWith(QLatin1Char('-'))) {
    text.prepend(QLatin1Char('-'));
  }
  WriteText(text);
  ShowEditFormat();
  setModified(modified);
}

// The number picture: literal text around one number made of "0" (a digit always shown), "#"
// (a digit shown when significant), "," anywhere before the point (group the thousands) and
// "." (the decimal separator). Anything else is copied as it stands.
QString TSpinEdit::FormatDisplay(Extended value) const {
  const QString picture = DisplayFormat();
  const auto isNumberChar = [](QChar c) {
    return c == QLatin1Char('0') || c == QLatin1Char('#') || c == QLatin1Char(',') ||
           c == QLatin1Char('.');
  };
  qsizetype first = 0;
  while (first < picture.size() && !isNumberChar(picture.at(first))) ++first;
  qsizetype last = picture.size();
  while (last > first && !isNumberChar(picture.at(last - 1))) --last;
  const QString prefix = picture.left(first);
  const QString suffix = picture.mid(last);
  const QString number = picture.mid(first, last - first);
  const qsizetype point = number.indexOf(QLatin1Char('.'));
  const QString integerPart = point < 0 ? number : number.left(point);
  const QString fractionPart = point < 0 ? QString() : number.mid(point + 1);
  const bool grouping = integerPart.contains(QLatin1Char(','));
  const auto minInteger = integerPart.count(QLatin1Char('0'));
  const auto minFraction = fractionPart.count(QLatin1Char('0'));
  const auto maxFraction = minFraction + fractionPart.count(QLatin1Char('#'));

  const TNumberFormat format = NumberFormat();
  QString digits = Q(FormatFixed(Abs(value), static_cast<int>(maxFraction), format, grouping));
  const QChar decimal(format.DecimalSeparator);
  qsizetype separator = digits.indexOf(decimal);
  if (separator >= 0) {
    qsizetype keep = digits.size();
    while (keep > separator + 1 + minFraction && digits.at(keep - 1) == QLatin1Char('0')) --keep;
    if (keep == separator + 1) keep = separator;  // no fraction left: no separator either
    digits.truncate(keep);
  }
  separator = digits.indexOf(decimal);
  QString integer = separator < 0 ? digits : digits.left(separator);
  const QString fraction = separator < 0 ? QString() : digits.mid(separator);
  if (minInteger == 0 && integer == QLatin1String("0")) integer.clear();
  while (integer.size() < minInteger) integer.prepend(QLatin1Char('0'));
  const bool nonZero = std::any_of(digits.begin(), digits.end(),
                                   [](QChar c) { return c.isDigit() && c != QLatin1Char('0'); });
  const QString sign = value < 0 && nonZero ? QStringLiteral("-") : QString();
  return prefix + sign + integer + fraction + suffix;
}

QString TSpinEdit::DisplayTextToNumber(const QString& text) const {
  const TNumberFormat format = NumberFormat();
  const QChar decimal(format.DecimalSeparator);
  const QChar thousands(format.ThousandsSeparator);
  QString s = text;
  while (s.startsWith(QLatin1Char(' '))) s.remove(0, 1);
  while (s.endsWith(QLatin1Char(' '))) s.chop(1);
  if (thousands != decimal) s.remove(thousands);
  const QChar dot('.'), comma(',');
  if (decimal != dot && thousands != dot) s.replace(dot, decimal);
  if (decimal != comma && thousands != comma) s.replace(comma, decimal);
  QString kept;
  for (QChar c : s) {
    if ((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('+') ||
        c == QLatin1Char('-') || c == decimal || c == thousands) {
      kept += c;
    }
  }
  if (kept.isEmpty()) return QStringLiteral("0");
  if (kept == QLatin1String("-")) return QStringLiteral("-0");
  return kept;
}

}  // namespace glowstep
