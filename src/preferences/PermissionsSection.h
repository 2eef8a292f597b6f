#pragma once
// The Preferences form's "Permissions" section (one row per permission with its status
// and its button) and the notice the "Previews" header shows while live previews cannot
// work. Neither checks anything: the form hands in what its refresh found. Main thread.

#include <QWidget>

namespace trelliq {

class PermissionsSection : public QWidget {
 public:
  PermissionsSection(bool accessibility, bool screenRecording, bool needsRestart, QWidget* parent = nullptr);
  /// Shows new findings (the form's once-a-second refresh).
  void setFindings(bool accessibility, bool screenRecording, bool needsRestart);
};

class ScreenRecordingWarning : public QWidget {
 public:
  explicit ScreenRecordingWarning(bool needsRestart, QWidget* parent = nullptr);
  void setNeedsRestart(bool needsRestart);
};

}  // namespace trelliq
