#include "preferences/PermissionsSection.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/Permission.h"
#include "app/PermissionStatus.h"
#include "app/views/PermissionRow.h"
#include "app/views/Symbol.h"
#include "ui/Paint.h"

namespace trelliq {

namespace {

// The restart is worth offering only while the running program still lacks the access.
bool screenRecordingRestart(bool screenRecording, bool needsRestart) { return needsRestart && !screenRecording; }

}  // namespace

PermissionsSection::PermissionsSection(bool accessibility, bool screenRecording, bool needsRestart, QWidget* parent)
    : QWidget(parent) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(10, 6, 10, 6);  // inset like the form's other rows
  column->addWidget(PermissionRow::formRow(Permission::accessibility, accessibility, "Accessibility",
                                           "Required: lets Trelliq take over \u2318\u21e5", false, this));
  column->addWidget(PermissionRow::formRow(Permission::screenRecording, screenRecording, "Screen Recording",
                                           "Optional: for live window previews",
                                           screenRecordingRestart(screenRecording, needsRestart), this));
}

void PermissionsSection::setFindings(bool accessibility, bool screenRecording, bool needsRestart) {
  const auto rows = findChildren<PermissionRow*>(Qt::FindDirectChildrenOnly);
  for (PermissionRow* row : rows) {
    if (row->permission() == Permission::accessibility) {
      row->setState(accessibility, false);  // Accessibility takes effect without a restart
    } else {
      row->setState(screenRecording, screenRecordingRestart(screenRecording, needsRestart));
    }
  }
}

ScreenRecordingWarning::ScreenRecordingWarning(bool needsRestart, QWidget* parent) : QWidget(parent) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(5);
  row->addWidget(new SymbolView("exclamationmark.triangle.fill", shellColors::yellow(), 11, 13, this));
  // Its own capitals: the section header around it would upper-case inherited text.
  auto* text = new QLabel(this);
  text->setObjectName("text");
  QFont font = ui::systemFont(12);
  font.setCapitalization(QFont::MixedCase);
  text->setFont(font);
  ui::setTextColor(text, ui::secondary());
  row->addWidget(text);
  auto* button = new QPushButton(this);
  button->setObjectName("action");
  button->setFlat(true);  // a link, not a bordered button
  button->setFont(font);
  button->setCursor(Qt::PointingHandCursor);
  button->setStyleSheet(QString("QPushButton { border: none; color: %1; padding: 0; }").arg(ui::accent().name()));
  row->addWidget(button);
  row->addStretch(1);
  QObject::connect(button, &QPushButton::clicked, this, [this] {
    const bool restart = property("needsRestart").toBool();
    PermissionStatus::perform(restart ? PermissionStatus::Action::restart : PermissionStatus::Action::request,
                              Permission::screenRecording);
  });
  setProperty("needsRestart", !needsRestart);  // differs, so the first call fills the texts
  setNeedsRestart(needsRestart);
}

void ScreenRecordingWarning::setNeedsRestart(bool needsRestart) {
  if (property("needsRestart").toBool() == needsRestart) return;
  setProperty("needsRestart", needsRestart);
  findChild<QLabel*>("text")->setText(needsRestart ? "Live previews start once Trelliq restarts"
                                                   : "Live previews need Screen Recording");
  findChild<QPushButton*>("action")->setText(needsRestart ? "Restart Trelliq" : "Allow\u2026");
}

}  // namespace trelliq
