#pragma once
// The virtual-key code of a key press that reached the window: the physical key
// as the keyboard scanner's rules name keys ('A' for the A key with or without
// Shift, 0x61 for the keypad's 1, 0x0D for either Enter).

class QKeyEvent;
class QString;
class QWidget;

namespace varnex2::app {

// 0 for keys without one.
int VirtualKeyOf(const QKeyEvent& key);

// Posts the key presses and releases that type `text` to `window` (its focus widget),
// as a keyboard-wedge scanner's keys reach the window in front: CR as Enter, LF as
// Ctrl+J, TAB as Tab. Any thread.
void TypeIntoWindow(QWidget& window, const QString& text);

}  // namespace varnex2::app
