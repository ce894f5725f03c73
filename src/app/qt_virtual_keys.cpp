#include "app/qt_virtual_keys.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QWidget>

#include "scanner/scan_input.h"

namespace varnex2::app {

namespace {

// The key of a US keyboard that types `key` (Qt gives the typed symbol: Shift+1 is '!').
int VirtualKeyOfSymbol(int key) {
  switch (key) {
    case Qt::Key_Exclam: return '1';
    case Qt::Key_At: return '2';
    case Qt::Key_NumberSign: return '3';
    case Qt::Key_Dollar: return '4';
    case Qt::Key_Percent: return '5';
    case Qt::Key_AsciiCircum: return '6';
    case Qt::Key_Ampersand: return '7';
    case Qt::Key_Asterisk: return '8';
    case Qt::Key_ParenLeft: return '9';
    case Qt::Key_ParenRight: return '0';
    case Qt::Key_Semicolon: case Qt::Key_Colon: return 0xBA;
    case Qt::Key_Equal: case Qt::Key_Plus: return 0xBB;
    case Qt::Key_Comma: case Qt::Key_Less: return 0xBC;
    case Qt::Key_Minus: case Qt::Key_Underscore: return 0xBD;
    case Qt::Key_Period: case Qt::Key_Greater: return 0xBE;
    case Qt::Key_Slash: case Qt::Key_Question: return 0xBF;
    case Qt::Key_QuoteLeft: case Qt::Key_AsciiTilde: return 0xC0;
    case Qt::Key_BracketLeft: case Qt::Key_BraceLeft: return 0xDB;
    case Qt::Key_Backslash: case Qt::Key_Bar: return 0xDC;
    case Qt::Key_BracketRight: case Qt::Key_BraceRight: return 0xDD;
    case Qt::Key_Apostrophe: case Qt::Key_QuoteDbl: return 0xDE;
    default: return 0;
  }
}

int VirtualKeyOfKeypad(int key) {
  if (key >= Qt::Key_0 && key <= Qt::Key_9) return 0x60 + (key - Qt::Key_0);
  switch (key) {
    case Qt::Key_Asterisk: return 0x6A;
    case Qt::Key_Plus: return 0x6B;
    case Qt::Key_Minus: return 0x6D;
    case Qt::Key_Period: case Qt::Key_Comma: return 0x6E;
    case Qt::Key_Slash: return 0x6F;
    case Qt::Key_Enter: return scanner::kVkReturn;
    default: return 0;
  }
}

}  // namespace

int VirtualKeyOf(const QKeyEvent& event) {
  // A real keyboard's key press carries its X/evdev key code (evdev + 8): the physical key.
  const quint32 native = event.nativeScanCode();
  if (native > 8 && native < 8 + 0x300) {
    if (const int vk = scanner::VirtualKeyOfEvdev(static_cast<std::uint16_t>(native - 8)); vk != 0) return vk;
  }
  const int key = event.key();
  if (event.modifiers().testFlag(Qt::KeypadModifier)) {
    if (const int vk = VirtualKeyOfKeypad(key); vk != 0) return vk;
  }
  if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9) || key == Qt::Key_Space) {
    return key;  // the same codes
  }
  if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return 0x70 + (key - Qt::Key_F1);
  switch (key) {
    case Qt::Key_Return: case Qt::Key_Enter: return scanner::kVkReturn;
    case Qt::Key_Tab: case Qt::Key_Backtab: return scanner::kVkTab;
    case Qt::Key_Escape: return scanner::kVkEscape;
    case Qt::Key_Backspace: return 0x08;
    case Qt::Key_PageUp: return 0x21;
    case Qt::Key_PageDown: return 0x22;
    case Qt::Key_End: return 0x23;
    case Qt::Key_Home: return 0x24;
    case Qt::Key_Left: return 0x25;
    case Qt::Key_Up: return 0x26;
    case Qt::Key_Right: return 0x27;
    case Qt::Key_Down: return 0x28;
    case Qt::Key_Insert: return 0x2D;
    case Qt::Key_Delete: return 0x2E;
    case Qt::Key_Shift: return 0x10;
    case Qt::Key_Control: return 0x11;
    case Qt::Key_Alt: return 0x12;
    case Qt::Key_CapsLock: return 0x14;
    default: return VirtualKeyOfSymbol(key);
  }
}

void TypeIntoWindow(QWidget& window, const QString& text) {
  for (const QChar c : text) {
    int key = 0;
    Qt::KeyboardModifiers modifiers = Qt::NoModifier;
    const char16_t u = c.unicode();
    if (u == u'\r') {
      key = Qt::Key_Return;
    } else if (u == u'\n') {
      key = Qt::Key_J;
      modifiers = Qt::ControlModifier;
    } else if (u == u'\t') {
      key = Qt::Key_Tab;
    } else if (u >= u'a' && u <= u'z') {
      key = Qt::Key_A + (u - u'a');
    } else if (u >= u'A' && u <= u'Z') {
      key = Qt::Key_A + (u - u'A');
      modifiers = Qt::ShiftModifier;
    } else if (u >= 0x20 && u < 0x7F) {
      key = u;  // digits, space and symbols: Qt's key is the character
    } else {
      continue;
    }
    // The target is looked up on the window thread, when the event is delivered.
    QMetaObject::invokeMethod(
        &window,
        [target = QPointer<QWidget>(&window), key, modifiers, c] {
          if (!target) return;
          QWidget* to = target->focusWidget() != nullptr ? target->focusWidget() : target.data();
          QKeyEvent press(QEvent::KeyPress, key, modifiers, QString(c));
          QCoreApplication::sendEvent(to, &press);
          QKeyEvent release(QEvent::KeyRelease, key, modifiers, QString(c));
          QCoreApplication::sendEvent(to, &release);
        },
        Qt::QueuedConnection);
  }
}

}  // namespace varnex2::app
