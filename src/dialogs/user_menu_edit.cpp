#include "dialogs/user_menu_edit.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMimeData>

#include <array>
#include <memory>

#include "dialogs/dialog_texts.h"

namespace varnex2::dialogs {

namespace {
constexpr std::array<const char*, 5> kTokens = {texts::kTokenCounter, texts::kTokenProductModel,
                                                texts::kTokenScannerData, texts::kTokenTestResult,
                                                texts::kTokenTestTime};
}  // namespace

CUserMenuEdit::CUserMenuEdit(QWidget* parent) : QLineEdit(parent) {}

QMenu* CUserMenuEdit::CreateTokenMenu(QWidget* menuParent) {
  auto* menu = new QMenu(menuParent);
  const auto add = [menu](const char* text, int command) {
    QAction* action = menu->addAction(QString::fromUtf8(text));
    action->setObjectName(QString::number(command));
    return action;
  };
  for (std::size_t i = 0; i < kTokens.size(); ++i) {
    const QString token = QString::fromUtf8(kTokens[i]);
    QAction* action = add(kTokens[i], kFirstTokenCommand + static_cast<int>(i));
    action->setEnabled(!isReadOnly());
    connect(action, &QAction::triggered, this, [this, token] { InsertToken(token); });
  }
  menu->addSeparator();
  QAction* cutAction = add(texts::kEditCut, kCutCommand);
  cutAction->setEnabled(!isReadOnly() && hasSelectedText() && echoMode() == Normal);
  connect(cutAction, &QAction::triggered, this, &QLineEdit::cut);
  QAction* copyAction = add(texts::kEditCopy, kCopyCommand);
  copyAction->setEnabled(hasSelectedText() && echoMode() == Normal);
  connect(copyAction, &QAction::triggered, this, &QLineEdit::copy);
  QAction* pasteAction = add(texts::kEditPaste, kPasteCommand);
  const QMimeData* clip = QApplication::clipboard()->mimeData();
  pasteAction->setEnabled(!isReadOnly() && clip != nullptr && clip->hasText());
  connect(pasteAction, &QAction::triggered, this, &QLineEdit::paste);
  QAction* clearAction = add(texts::kEditClear, kClearCommand);
  clearAction->setEnabled(!isReadOnly() && !text().isEmpty());
  // Selecting everything and deleting it keeps the clearing undoable (Ctrl+Z).
  connect(clearAction, &QAction::triggered, this, [this] {
    selectAll();
    del();
  });
  return menu;
}

void CUserMenuEdit::InsertToken(const QString& token) {
  if (!hasSelectedText() && cursorPosition() > 0) {
    // A caret between "{" and its "}" moves past the "}".
    const QString current = text();
    const qsizetype caret = cursorPosition();
    const qsizetype open = current.lastIndexOf(u'{', caret - 1);
    if (open >= 0 && current.lastIndexOf(u'}', caret - 1) < open) {
      const qsizetype close = current.indexOf(u'}', caret);
      const qsizetype nextOpen = current.indexOf(u'{', caret);
      if (close >= 0 && (nextOpen < 0 || nextOpen > close)) setCursorPosition(static_cast<int>(close + 1));
    }
  }
  insert(token);
  setFocus(Qt::OtherFocusReason);
}

void CUserMenuEdit::contextMenuEvent(QContextMenuEvent* event) {
  std::unique_ptr<QMenu> menu(CreateTokenMenu(this));
  menu->exec(event->globalPos());
  event->accept();
}

}  // namespace varnex2::dialogs
