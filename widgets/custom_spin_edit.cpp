#include "widgets/custom_spin_edit.h"

#include "base/scope_guard.h"
#include "widgets/form_loading.h"
#include "widgets/qt_text.h"
#include "widgets/spin_button.h"
#include "widgets/spin_up_down.h"

#include <QApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLocale>
#include <QPointer>
#include <QStyle>
#include <QWheelEvent>

#include <optional>

namespace glowstep {

namespace {

std::optional<TNumberFormat>& FormatSlot() {
  static std::optional<TNumberFormat> format;
  return format;
}

TCustomSpinEdit::TErrorDisplay& ErrorDisplaySlot() {
  static TCustomSpinEdit::TErrorDisplay display;
  return display;
}

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

bool IsExitReason(Qt::FocusReason reason) {
  // A window losing activation or a popup opening does not move the focus to another control.
  return reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason;
}

}  // namespace

TCustomSpinEdit::TCustomSpinEdit(QWidget* parent) : TMaskEditBase(parent) {
  // Built by a form: its stored properties follow, then the form says loading ended.
  if (TFormLoading::Enlist(this, [this] { EndLoad(); })) BeginLoad();
  connect(this, &QLineEdit::textChanged, this, [this] { ChangeReaction(); });
  BuildButton();
  setText(QStringLiteral("0"));
  setMinimumHeight(MinimumHeight());
  PlaceButton();
  UpdateTextMargins();
}

TCustomSpinEdit::~TCustomSpinEdit() {
  // No change reaction during teardown.
  Destroying_ = true;
  Updating_ = true;
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

void TCustomSpinEdit::SetErrorDisplay(TErrorDisplay display) {
  ErrorDisplaySlot() = std::move(display);
}

QChar TCustomSpinEdit::DecimalSeparator() const { return QChar(NumberFormat().DecimalSeparator); }

QChar TCustomSpinEdit::ThousandsSeparator() const {
  return QChar(NumberFormat().ThousandsSeparator);
}

bool TCustomSpinEdit::WindowExists() const {
  return !Loading_ && !Destroying_ && testAttribute(Qt::WA_WState_Created);
}

void TCustomSpinEdit::WriteText(const QString& text) {
  if (text == this->text()) return;
  const bool modified = isModified();
  setText(text);
  setModified(modified);
}

// --- Bounds -----------------------------------------------------------------------------------

Extended TCustomSpinEdit::ClampValue(Extended x) const {
  if (!CheckMinValue_ && !CheckMaxValue_) return x;
  Extended r = x;
  if (CheckMinValue_ && MinValue_ > x) r = MinValue_;
  if (CheckMaxValue_ && MaxValue_ < x) r = MaxValue_;
  return r;
}

Extended TCustomSpinEdit::CheckRange(Extended x, bool raise) const {
  const Extended r = ClampValue(x);
  if ((CheckMinValue_ || CheckMaxValue_) && raise && r != x) {
    const char16_t decimal = NumberFormat().DecimalSeparator;
    const QString message = tr("Value must be between %1 and %2")
                                .arg(FromU16(FormatGeneral(MinValue_, decimal)),
                                     FromU16(FormatGeneral(MaxValue_, decimal)));
    throw ERangeError(message.toStdString());
  }
  return r;
}

bool TCustomSpinEdit::IsCheckMinValueStored() const {
  return MinValue_ == 0 && CheckMinValue_ != (MaxValue_ != 0);
}

bool TCustomSpinEdit::IsCheckMaxValueStored() const {
  return MaxValue_ == 0 && CheckMaxValue_ != (MinValue_ != 0);
}

void TCustomSpinEdit::SetCheckMinValue(bool check) {
  if (Loading_) AutoCheckMin_ = false;
  CheckMinValue_ = MinValue_ != 0 || check;
  RewriteValue();
}

void TCustomSpinEdit::SetCheckMaxValue(bool check) {
  if (Loading_) AutoCheckMax_ = false;
  CheckMaxValue_ = MaxValue_ != 0 || check;
  RewriteValue();
}

void TCustomSpinEdit::SetMinValue(Extended value) {
  if (value == MinValue_) return;
  const bool wasStored = IsCheckMinValueStored();
  const Extended old = MinValue_;
  MinValue_ = value;
  if ((old == 0) != (value == 0) && AutoCheckMin_) {
    const bool bounded = MinValue_ != 0 || MaxValue_ != 0;
    SetCheckMinValue(bounded);
    if (!wasStored && AutoCheckMax_) SetCheckMaxValue(bounded);
  }
  RewriteValue();
}

void TCustomSpinEdit::SetMaxValue(Extended value) {
  if (value == MaxValue_) return;
  const bool wasStored = IsCheckMaxValueStored();
  const Extended old = MaxValue_;
  MaxValue_ = value;
  if ((old == 0) != (value == 0) && AutoCheckMax_) {
    const bool bounded = MinValue_ != 0 || MaxValue_ != 0;
    SetCheckMaxValue(bounded);
    if (!wasStored && AutoCheckMin_) SetCheckMinValue(bounded);
  }
  RewriteValue();
}

void TCustomSpinEdit::EndLoad() {
  Loading_ = false;
  AutoCheckMin_ = AutoCheckMax_ = true;
  LastNotifiedValue_ = GetValue();
}

// --- Properties that re-write the value -------------------------------------------------------

void TCustomSpinEdit::SetValueType(TValueType type) {
  if (type == ValueType_) return;
  ValueType_ = type;
  RewriteValue();  // the old text read under the new type
  if (type == vtInteger || type == vtHex) {
    Increment_ = static_cast<Extended>(RoundHalfEven(Increment_));
    if (Increment_ == 0) Increment_ = 1;
  }
  if (type == vtHex) Thousands_ = false;
}

void TCustomSpinEdit::SetDecimal(int decimal) {
  decimal = std::clamp(decimal, 0, 255);
  if (decimal == Decimal_) return;
  Decimal_ = decimal;
  RewriteValue();
}

void TCustomSpinEdit::SetDisplayFormat(const QString& format) {
  if (format == DisplayFormat_) return;
  DisplayFormat_ = format;
  update();
}

void TCustomSpinEdit::SetThousands(bool thousands) {
  if (ValueType_ == vtHex) return;  // hexadecimal digits are never grouped
  Thousands_ = thousands;
}

void TCustomSpinEdit::SetAlignment(Qt::Alignment alignment) {
  setAlignment((this->alignment() & ~Qt::AlignHorizontal_Mask) |
               (alignment & Qt::AlignHorizontal_Mask));
}

void TCustomSpinEdit::SetItems(const QStringList& items) {
  Items_ = items;
  SetValue(0);
  WriteText(Items_.value(0));
}

void TCustomSpinEdit::ShowEditFormat() {
  if (ValueType_ != vtFloat || !HasFocus_ || DisplayFormat_.isEmpty()) return;
  WriteText(FromU16(FormatFixed(GetValue(), Decimal_, NumberFormat())));
}

// --- Change reaction --------------------------------------------------------------------------

void TCustomSpinEdit::ChangeReaction() {
  if (Updating_ || !WindowExists()) return;
  const int caret = cursorPosition();
  const QString before = text();
  {
    const TScopeValue updating(Updating_, true);
    const TScopeValue keepMinus(KeepMinus_, before.startsWith(QLatin1Char('-')));
    // A range error while typing is never shown: the value is cropped either way.
    if (CheckOptions_.testFlag(coCheckOnChange)) SetValue(ClampValue(GetValue()));
  }
  setCursorPosition(caret);
  const Extended value = GetValue();
  if (value == LastNotifiedValue_) return;
  if (Thousands_ && cursorPosition() == caret) {
    const QChar separator = ThousandsSeparator();
    const auto shift = text().left(caret).count(separator) - before.left(caret).count(separator);
    setCursorPosition(caret + static_cast<int>(shift));
  }
  emit OnChange(this);
  LastNotifiedValue_ = GetValue();
}

// --- Stepping ---------------------------------------------------------------------------------

void TCustomSpinEdit::StepUp(QObject* sender) { Step(true, sender); }

void TCustomSpinEdit::StepDown(QObject* sender) { Step(false, sender); }

void TCustomSpinEdit::Step(bool up, QObject*) {
  if (isReadOnly()) {
    if (BeepOnError_) ErrorBeep();
    return;
  }
  const QString before = text();
  {
    const TScopeValue updating(Updating_, true);
    SetValue(up ? GetValue() + Increment_ : GetValue() - Increment_);
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
  if (c.unicode() < 32) return EditorEnabled_ || c.unicode() != 8;
  if (!EditorEnabled_) return false;
  QString allowed = QStringLiteral("+-0123456789");
  const QChar decimal = DecimalSeparator();
  if (ValueType_ == vtFloat) {
    if (!text().contains(decimal)) {
      allowed += decimal;
      if (!(Thousands_ && ThousandsSeparator() == QLatin1Char('.'))) allowed += QLatin1Char('.');
    }
    if (!text().toUpper().contains(QLatin1Char('E'))) allowed += QStringLiteral("Ee");
  } else if (ValueType_ == vtHex) {
    allowed += QStringLiteral("ABCDEFabcdef");
  }
  return allowed.contains(c);
}

bool TCustomSpinEdit::AllowsCommand(TClipboardCommand command) const {
  if ((command == caCut || command == caPaste) && (!EditorEnabled_ || isReadOnly())) return false;
  return TMaskEditBase::AllowsCommand(command);
}

void TCustomSpinEdit::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  const Qt::KeyboardModifiers modifiers =
      event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
  if (ArrowKeys_ && (key == Qt::Key_Up || key == Qt::Key_Down)) {
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
    if (!EditorEnabled_) {
      // Deleting is editing as much as typing is.
      if (BeepOnError_) ErrorBeep();
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
  if (!EditorEnabled_ && (event->matches(QKeySequence::DeleteStartOfWord) ||
                          event->matches(QKeySequence::DeleteEndOfWord) ||
                          event->matches(QKeySequence::DeleteEndOfLine) ||
                          event->matches(QKeySequence::DeleteCompleteLine))) {
    if (BeepOnError_) ErrorBeep();
    event->accept();
    return;
  }
  if (key == Qt::Key_Backspace && modifiers == Qt::NoModifier && caret > 0 &&
      current.at(caret - 1) == decimal) {
    // The caret moves in front of the separator; the backspace then acts there.
    cursorBackward(false);
  }

  const QString typed = event->text();
  // Printable text with Ctrl alone is a shortcut, which the edit never inserts; with Alt or
  // Ctrl+Alt (AltGr on many keyboards) it is a character like any other.
  const bool shortcut =
      (modifiers & (Qt::ControlModifier | Qt::AltModifier)) == Qt::ControlModifier;
  const bool isCharacter =
      !typed.isEmpty() && key != Qt::Key_Delete && !(shortcut && typed.at(0).unicode() >= 32);
  if (!isCharacter) {
    TMaskEditBase::keyPressEvent(event);
    return;
  }
  const std::optional<QString> accepted = AcceptedText(typed);
  if (!accepted || accepted->isEmpty()) {
    event->accept();
    return;
  }
  if (*accepted == typed) {
    TMaskEditBase::keyPressEvent(event);
    return;
  }
  QKeyEvent replaced(event->type(), key, event->modifiers(), *accepted, event->isAutoRepeat(),
                     static_cast<ushort>(event->count()));
  TMaskEditBase::keyPressEvent(&replaced);
  event->setAccepted(replaced.isAccepted());
}

void TCustomSpinEdit::inputMethodEvent(QInputMethodEvent* event) {
  const QString commit = event->commitString();
  if (commit.isEmpty() && (EditorEnabled_ || event->replacementLength() == 0)) {
    TMaskEditBase::inputMethodEvent(event);
    return;
  }
  // The committed text is typed text: the same characters pass, and none while the editor is
  // disabled, which also keeps the input method from replacing any.
  const std::optional<QString> accepted =
      commit.isEmpty() ? std::optional<QString>(QString()) : AcceptedText(commit);
  QInputMethodEvent filtered(event->preeditString(), event->attributes());
  if (accepted && !accepted->isEmpty()) {
    filtered.setCommitString(*accepted, event->replacementStart(), event->replacementLength());
  }
  TMaskEditBase::inputMethodEvent(&filtered);
  event->setAccepted(filtered.isAccepted());
}

std::optional<QString> TCustomSpinEdit::AcceptedText(const QString& typed) {
  const QChar decimal = DecimalSeparator();
  QString accepted;
  bool refused = false;
  for (QChar c : typed) {
    if (c == QLatin1Char('.') && !(Thousands_ && ThousandsSeparator() == QLatin1Char('.'))) {
      c = decimal;
    }
    if (c == decimal && ValueType_ == vtFloat && text().contains(decimal)) {
      // Typing the separator again jumps to the fraction.
      setCursorPosition(static_cast<int>(text().indexOf(decimal)) + 1);
      return std::nullopt;
    }
    if (!AcceptsChar(c)) {
      refused = true;
      continue;
    }
    accepted += c;
  }
  if (refused && BeepOnError_) ErrorBeep();
  return accepted;
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
  if (!IsExitReason(event->reason()) && HasFocus_) return;  // the window came back
  HasFocus_ = true;
  update();
  ShowEditFormat();
  const bool mouse =
      event->reason() == Qt::MouseFocusReason || (QGuiApplication::mouseButtons() & Qt::LeftButton);
  if (AutoSelect_ && !mouse) {
    selectAll();
  } else if (!AutoSelect_ && hasSelectedText()) {
    deselect();
  }
}

void TCustomSpinEdit::focusOutEvent(QFocusEvent* event) {
  const bool crop = CheckOptions_.testFlag(coCropBeyondLimit);
  const bool checkOnExit = CheckOptions_.testFlag(coCheckOnExit);
  // A window losing activation or a popup opening leaves the focus with the field: nothing to
  // crop yet.
  if (checkOnExit && crop && IsExitReason(event->reason())) SetValue(ClampValue(GetValue()));
  TMaskEditBase::focusOutEvent(event);
  if (IsExitReason(event->reason())) Exit();
}

void TCustomSpinEdit::Exit() {
  HasFocus_ = false;
  update();
  if (!CheckOptions_.testFlag(coCheckOnExit)) return;
  const Extended value = GetValue();
  try {
    SetValue(CheckRange(value, !CheckOptions_.testFlag(coCropBeyondLimit)));
  } catch (const ERangeError& error) {
    HasFocus_ = true;
    selectAll();
    // The focus cannot be taken back while it is moving; the error goes to the error display
    // from the event loop, after the field has the focus again.
    const QString message = QString::fromUtf8(error.what());
    QMetaObject::invokeMethod(
        this,
        [this, message] {
          if ((focusPolicy() & Qt::TabFocus) && isEnabled() && isVisible()) {
            setFocus(Qt::OtherFocusReason);
          }
          // A copy: the display may replace itself while it runs.
          if (const TErrorDisplay display = ErrorDisplaySlot()) display(message);
        },
        Qt::QueuedConnection);
  }
}

// --- Button and layout ------------------------------------------------------------------------

int TCustomSpinEdit::StandardButtonWidth() const {
  return std::min(style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this), 15);
}

int TCustomSpinEdit::ButtonWidth() const {
  if (!ShowButton_) return 0;
  if (UpDown_) return UpDown_->width();
  if (SpinButton_) return SpinButton_->width();
  return StandardButtonWidth();
}

int TCustomSpinEdit::MinimumHeight() const {
  constexpr int kBorderHeight = 1;
  return fontMetrics().height() + 4 * kBorderHeight + 1;
}

void TCustomSpinEdit::SetButtonKind(TSpinButtonKind kind) {
  if (kind == ButtonKind_) return;
  ButtonKind_ = kind;
  if (Destroying_) return;
  BuildButton();
  PlaceButton();
  UpdateTextMargins();
}

void TCustomSpinEdit::SetShowButton(bool show) {
  if (show == ShowButton_) return;
  ShowButton_ = show;
  if (Destroying_) return;
  BuildButton();
  PlaceButton();
  UpdateTextMargins();
}

void TCustomSpinEdit::BuildButton() {
  // The old button may be the one whose click is running: it goes once control returns to the
  // event loop.
  for (QWidget* old : {static_cast<QWidget*>(ButtonHost_), static_cast<QWidget*>(UpDown_)}) {
    if (!old) continue;
    old->hide();
    old->setParent(nullptr);
    old->deleteLater();
  }
  ButtonHost_ = nullptr;
  SpinButton_ = nullptr;
  UpDown_ = nullptr;
  if (!ShowButton_) return;
  if (ButtonKind_ == bkStandard) {
    UpDown_ = new TSpinUpDown(StandardButtonWidth(), this);
    UpDown_->setGeometry(0, 1, StandardButtonWidth(), height());
    connect(UpDown_, &TSpinUpDown::OnClick, this, [this](QObject* sender, bool previous) {
      QCoreApplication::postEvent(this, new TStepEvent(sender, previous));
    });
    UpDown_->show();
    return;
  }
  ButtonHost_ = new QWidget(this);
  ButtonHost_->setObjectName(QStringLiteral("ButtonHost"));
  ButtonHost_->setCursor(Qt::ArrowCursor);
  SpinButton_ = new TSpinButton(ButtonHost_);
  SpinButton_->SetButtonStyle(ButtonKind_ == bkClassic ? TSpinButton::sbsClassic
                                                       : TSpinButton::sbsDefault);
  SpinButton_->SetFocusControl(this);
  connect(SpinButton_, &TSpinButton::OnTopClick, this, [this](QObject* s) { StepUp(s); });
  connect(SpinButton_, &TSpinButton::OnBottomClick, this, [this](QObject* s) { StepDown(s); });
  ButtonHost_->show();
}

void TCustomSpinEdit::PlaceButton() {
  const bool rightToLeft = layoutDirection() == Qt::RightToLeft;
  const int w = width(), h = height(), s = StandardButtonWidth();
  const int frame =
      hasFrame() ? style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this) : 0;
  if (UpDown_) {
    UpDown_->SetStandardWidth(s);
    UpDown_->setGeometry(rightToLeft ? frame : w - s - frame, frame, s, h - 2 * frame);
    UpDown_->setEnabled(isEnabled());
    return;
  }
  if (!ButtonHost_) return;
  QRect button;
  if (hasFrame()) {
    // The button fills the inside of the frame from top to bottom, against its right side (its
    // left side when the field reads right to left): square, or one pixel narrower than the
    // standard width for the classic kind.
    const QRect inside = rect().adjusted(frame, frame, -frame, -frame);
    const int side = inside.height();
    const int buttonWidth = ButtonKind_ == bkClassic && !rightToLeft ? s - 1 : side;
    const int left = rightToLeft ? inside.left() : inside.right() + 1 - buttonWidth;
    button = QRect(left, inside.top(), buttonWidth, side);
  } else {
    const int side = ButtonKind_ == bkClassic && !rightToLeft ? s : h;
    button = QRect(rightToLeft ? 0 : w - side, 0, side, h).adjusted(1, 1, 0, 0);
  }
  // The host reaches one pixel further up and to the left than the button itself.
  const QRect host = button.adjusted(-1, -1, 0, 0);
  ButtonHost_->setGeometry(host);
  SpinButton_->setGeometry(1, 1, host.width() - 1, host.height() - 1);
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
      if (UpDown_) PlaceButton();
      break;
    default:
      break;
  }
}

}  // namespace glowstep
