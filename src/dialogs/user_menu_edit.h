#pragma once
// CUserMenuEdit: a one-line edit whose right-click menu offers the record-name tokens
// ("{测试计数}" ...), then cut, copy, paste and clear.

#include <QLineEdit>

class QMenu;

namespace varnex2::dialogs {

class CUserMenuEdit : public QLineEdit {
  Q_OBJECT

 public:
  // The menu's command ids, also the object names of its actions.
  static constexpr int kFirstTokenCommand = 32830;  // five tokens: 32830..32834
  static constexpr int kCutCommand = 32819;
  static constexpr int kCopyCommand = 32820;
  static constexpr int kPasteCommand = 32821;
  static constexpr int kClearCommand = 32822;

  explicit CUserMenuEdit(QWidget* parent = nullptr);

  // The pop-up menu as a right click shows it, owned by the caller.
  QMenu* CreateTokenMenu(QWidget* menuParent);

  // Puts `token` in place of the selection; without a selection, at the caret, or just after
  // the token the caret stands inside, so that no token is split.
  void InsertToken(const QString& token);

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
};

}  // namespace varnex2::dialogs
