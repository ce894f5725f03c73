#pragma once
// The virtual-key code of a key press that reached the window: the physical key
// as the keyboard scanner's rules name keys ('A' for the A key with or without
// Shift, 0x61 for the keypad's 1, 0x0D for either Enter).

class QKeyEvent;

namespace varnex2::app {

// 0 for keys without one.
int VirtualKeyOf(const QKeyEvent& key);

}  // namespace varnex2::app
