#pragma once
// The content of the Keyboard Shortcuts window: the mode menu, the header sentence with
// key caps, the topic list beside the demonstration pane, the legend of the shown mode and
// the "Done" button. It reads the stored "tiles" and "gesture" live and writes nothing.
// It is also the window's first responder, so Return reaches "Done". Main thread only.

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "guide/model/GuideState.h"
#include "ui/model/Transition.h"
#include "platform/AppKitWindows.h"
#include "ui/FadingPicture.h"
#include "ui/WhileShown.h"

class QComboBox;
class QLabel;
class QPushButton;
class QHBoxLayout;
class QVBoxLayout;

namespace trelliq {

class PlayingDemo;
class ShortcutLegendView;
class TopicRow;

class GuideView : public QWidget, public NSResponder {
 public:
  static constexpr int fixedWidth = 760;

  /// Opens on the topic titled `topic` with the stored settings.
  explicit GuideView(const std::string& topic, QWidget* parent = nullptr);
  ~GuideView() override;

  /// `call` runs when "Done" is clicked or Return is pressed.
  void setOnDone(std::function<void()> call) { onDone_ = std::move(call); }
  /// `call` runs after the view took a new height to fit what it shows (another mode, topic or
  /// variant); the window follows it.
  void setOnHeightChange(std::function<void()> call) { onHeightChange_ = std::move(call); }

  /// The one width and the height the content needs there, wrapped text included.
  QSize sizeHint() const override { return {fixedWidth, fittedHeight_}; }
  /// The demonstration pane (at least 300 high).
  QWidget& pane() const { return *paneBox_; }
  /// The picture of the demonstration a topic click replaced, while it fades out; null
  /// once gone.
  ui::FadingPicture* leavingDemonstration() const { return leavingStage_.data(); }

  /// The window showing this view is closing: the mode menu returns to the current mode.
  void windowWillClose();
  /// Reads the stored settings again (also done on every defaults change).
  void readSettings();

  const GuideState& state() const { return state_; }
  // The parts, for the window and for checks.
  QComboBox& modePicker() const { return *modePicker_; }
  const std::vector<TopicRow*>& topicRows() const { return rows_; }
  const std::vector<QPushButton*>& variantButtons() const { return variantButtons_; }
  /// The demonstration playing now (a GuideDemo or a DisplaysDemo).
  PlayingDemo* demo() const { return demo_; }
  QLabel& caption() const { return *caption_; }
  ShortcutLegendView& legend() const { return *legend_; }
  QPushButton& doneButton() const { return *done_; }
  /// The header sentence's words and key glyphs in order; the arrow reads "→".
  std::vector<std::string> headerTexts() const;

  // Acting as the user would.
  void pickMode(Settings::Tiles mode);
  void clickTopic(const std::string& title);
  void clickVariant(const std::string& name);

  // NSResponder: Return and Enter press "Done".
  bool acceptsFirstResponder() const override { return true; }
  void keyDown(const NSEvent& event) override;

 private:
  std::function<void()> onHeightChange_;
  std::function<void()> onDone_;
  void refresh(const Transition& transition = Transition::immediate());
  void rebuildHeader();
  void rebuildTopics(const Transition& transition);
  void rebuildPane(const Transition& transition);
  void fitHeight();

  GuideState state_;
  QComboBox* modePicker_ = nullptr;
  QHBoxLayout* header_ = nullptr;
  QVBoxLayout* topics_ = nullptr;
  QVBoxLayout* pane_ = nullptr;
  QWidget* paneBox_ = nullptr;
  int fittedHeight_ = 0;
  QWidget* picker_ = nullptr;
  QWidget* stage_ = nullptr;
  QPointer<ui::FadingPicture> leavingStage_;
  PlayingDemo* demo_ = nullptr;
  QLabel* caption_ = nullptr;
  ShortcutLegendView* legend_ = nullptr;
  QPushButton* done_ = nullptr;
  std::vector<TopicRow*> rows_;
  std::vector<QPushButton*> variantButtons_;
  std::vector<std::string> headerTexts_;
  // What is built, to rebuild only what changed.
  std::optional<Settings::Tiles> builtMode_;
  std::vector<std::string> builtTitles_;
  std::string builtPicker_;
  std::string builtDemo_;
  NSNotificationToken defaultsWatch_;
  std::unique_ptr<ui::WhileShown> shown_;  // the demonstration plays only while the window shows
};

}  // namespace trelliq
