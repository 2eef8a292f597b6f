#include "preferences/ModeSection.h"

#include <QVBoxLayout>

#include "guide/GuideWindow.h"
#include "preferences/TileStylePicker.h"
#include "preferences/TilesOverview.h"

namespace trelliq {

namespace {

// A change of mode with the picker cross-fades the overviews over this curve.
constexpr Transition kModeFade = Transition::easeOut(0.15);

}  // namespace

ModeSection::ModeSection(std::function<void()> edited, QWidget* parent)
    : FormSection("Switcher mode", parent), edited_(std::move(edited)) {
  tilePicker_ = new TileStylePicker(tiles_);
  tilePicker_->setContentsMargins(10, 0, 10, 0);  // inset like the rows below it
  addRow(tilePicker_);
  overviewSlot_ = new QWidget();
  new QVBoxLayout(overviewSlot_);
  overviewSlot_->layout()->setContentsMargins(10, 0, 10, 0);
  addRow(overviewSlot_);
  shortcutsButton_ = new QPushButton("Show Shortcuts");
  connect(shortcutsButton_, &QPushButton::clicked, this, [] { GuideWindow::shared().show(); });
  addRow(new FormRow("Keyboard shortcuts", {"See every key and what it does"}, shortcutsButton_));
  tilePicker_->setOnChange([this] {
    fadeNextMode_ = true;
    if (edited_) edited_();
    fadeNextMode_ = false;
  });
}

std::string ModeSection::showStored(bool playing) {
  const std::string tiles = tiles_.get();
  tilePicker_->refresh();
  if (!overview_ || tiles != overviewFor_) {
    // The overview belongs to the stored string: a new mode gets new demonstrations. A
    // change made with the picker cross-fades from the old overview to the new one.
    if (overview_ && fadeNextMode_) crossFade(*overview_);
    delete overview_;
    const auto style = Settings::Tiles::fromRaw(tiles).value_or(Settings::Tiles::apps);
    // Demonstrations made while the window is out of sight wait for it: stopped, they would
    // take the step their first wait owed and come on screen one step late.
    overview_ = new TilesOverview(style, playing ? TilesDemo::Start::playing : TilesDemo::Start::still, overviewSlot_);
    overviewSlot_->layout()->addWidget(overview_);
    if (leaving_) leaving_->raise();
    overviewFor_ = tiles;
  }
  return tiles;
}

void ModeSection::setPlaying(bool playing) {
  if (overview_) overview_->setPlaying(playing);
}

void ModeSection::crossFade(QWidget& leaving) {
  delete leaving_.data();
  leaving_ = ui::FadingPicture::over(leaving, kModeFade);
}

double ModeSection::leavingOpacity() const { return leaving_ ? leaving_->opacity() : 0; }

}  // namespace trelliq
