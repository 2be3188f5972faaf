#include "widgets/mask_edit_base.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>

#include <optional>

namespace glowstep {

TMaskEditBase::TMaskEditBase(QWidget* parent) : QLineEdit(parent) {}

bool TMaskEditBase::AllowsCommand(TClipboardCommand command) const {
  return ClipboardCommands_.testFlag(command);
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

}  // namespace glowstep
