// The single-line edit under the numeric field: it lets through only the clipboard and undo
// requests it is allowed, and it can sound the error beep.
#pragma once

#include <QLineEdit>

namespace glowstep {

// A single-line edit that honours only the clipboard and undo requests it is allowed, and can
// sound the error beep.
class TMaskEditBase : public QLineEdit {
  Q_OBJECT
  Q_PROPERTY(TClipboardCommands ClipboardCommands READ ClipboardCommands WRITE SetClipboardCommands)

 public:
  enum TClipboardCommand {
    caCopy = 0x01,
    caCut = 0x02,
    caPaste = 0x04,
    caClear = 0x08,
    caUndo = 0x10,
  };
  Q_DECLARE_FLAGS(TClipboardCommands, TClipboardCommand)
  Q_FLAG(TClipboardCommands)

  explicit TMaskEditBase(QWidget* parent = nullptr);

  TClipboardCommands ClipboardCommands() const { return ClipboardCommands_; }
  void SetClipboardCommands(TClipboardCommands commands) { ClipboardCommands_ = commands; }

  // Whether a clipboard or undo request may reach the edit now.
  virtual bool AllowsCommand(TClipboardCommand command) const;

  // The platform's error beep; also announced by Beeped() so that it can be observed.
  void ErrorBeep();

 signals:
  void Beeped();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  TClipboardCommands ClipboardCommands_ = {caCopy, caCut, caPaste, caClear, caUndo};
};

Q_DECLARE_OPERATORS_FOR_FLAGS(TMaskEditBase::TClipboardCommands)

}  // namespace glowstep
