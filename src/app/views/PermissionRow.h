#pragma once
// One permission's row with its status and the button that asks for it, in one of two
// looks: the welcome window's card (icon, title with a "Required"/"Optional" badge, the
// reason, the status line, an optional trailing view) and the Preferences form's row
// (title, detail, status and a button). The row only draws what it is told; the window's
// or the form's once-a-second check hands it new findings. Main thread only.

#include <QWidget>
#include <string>

#include "app/Permission.h"
#include "app/PermissionStatus.h"

class QLabel;
class QPushButton;

namespace trelliq {

class SymbolView;

class PermissionRow : public QWidget {
 public:
  using Kind = PermissionStatus::Kind;

  /// A card. `extra` (may be null) is adopted and placed at the trailing end, at the top.
  PermissionRow(Permission permission, bool granted, std::string symbol, std::string title, bool required,
                std::string reason, bool needsRestart = false, QWidget* extra = nullptr, QWidget* parent = nullptr);
  /// A form row: the title over the grey `detail`, then the status and the button.
  static PermissionRow* formRow(Permission permission, bool granted, std::string title, std::string detail,
                                bool needsRestart, QWidget* parent = nullptr);

  /// Shows new findings; a change of nothing repaints nothing.
  void setState(bool granted, bool needsRestart);

  Kind kind() const { return kind_; }
  Permission permission() const { return permission_; }
  bool granted() const { return granted_; }
  bool needsRestart() const { return needsRestart_; }
  /// What the row shows now.
  PermissionStatus status() const { return PermissionStatus::of(kind_, granted_, needsRestart_); }
  /// "Required" or "Optional" on a card; empty on a form row.
  QString badge() const;
  /// Whether a card's border is in the accent colour: a required permission still missing.
  bool accentBorder() const { return kind_ == Kind::card && required_ && !granted_; }
  /// The status's button (hidden when the status has none) and its text label.
  QPushButton* button() const { return button_; }
  QLabel* statusLabel() const { return statusText_; }
  QLabel* reasonLabel() const { return reason_; }
  QWidget* extra() const { return extra_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  PermissionRow(Kind kind, Permission permission, bool granted, bool required, bool needsRestart, QWidget* parent);
  QWidget* buildStatusLine();
  void refreshStatus();

  Kind kind_;
  Permission permission_;
  bool granted_;
  bool required_;
  bool needsRestart_;
  QLabel* badge_ = nullptr;
  QLabel* reason_ = nullptr;
  SymbolView* statusSymbol_ = nullptr;
  QLabel* statusText_ = nullptr;
  QPushButton* button_ = nullptr;
  QWidget* extra_ = nullptr;
};

}  // namespace trelliq
