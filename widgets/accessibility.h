// What screen readers and other assistive tools learn of the custom controls.
//
// Qt describes its own widgets; ours would otherwise be nameless "fillers". The numeric field is
// a spin box: its name is its caption (the label whose buddy it is), its value the number it
// holds and its range the field's bounds; its spin button is not an object of its own but the
// field's "increase" and "decrease" actions, as a keyboard user steps with the arrow keys. The
// slider is a slider with its value, range and step. The LED is a status indicator whose state
// the window describes in words (its accessible description).
#pragma once

class QAccessibleInterface;
class QObject;
class QString;

namespace glowstep {

// The factory Qt asks for the custom controls' descriptions (none for other objects).
QAccessibleInterface* AccessibleControl(const QString& className, QObject* object);

// Makes Qt ask AccessibleControl; once per program, later calls do nothing.
void InstallAccessibleControls();

}  // namespace glowstep
