#include "guide/GuideView.h"

#include <QComboBox>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "guide/DisplaysDemo.h"
#include "guide/GuideDemo.h"
#include "guide/ShortcutLegendView.h"
#include "guide/TopicRow.h"
#include "ownwindows/views/PopUpButton.h"
#include "platform/Foundation.h"
#include "settings/DefaultsKeys.h"
#include "ui/FadingPicture.h"
#include "ui/KeyCap.h"
#include "ui/LayoutFit.h"
#include "ui/Paint.h"
#include "ui/SegmentedControl.h"

namespace trelliq {
namespace {

// A click on a topic moves the selection over this curve.
constexpr Transition kTopicClick = Transition::easeOut(0.15);

std::string stored(const char* key, const char* fallback) {
  return Settings::defaults().stringForKey(key).value_or(fallback);
}

/// The demonstration pane's plate: a faint fill and a hairline border.
class Pane : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    ui::fillRounded(p, QRectF(rect()), 14, ui::primary(0.04));
    ui::strokeRoundedInside(p, QRectF(rect()), 14, ui::separator(), 1);
  }
};

/// A drawn symbol as a small widget.
class Symbol : public QWidget {
 public:
  Symbol(std::string name, QWidget* parent) : QWidget(parent), name_(std::move(name)) { setFixedSize(18, 18); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    ui::drawSymbol(p, name_, QRectF(rect()).adjusted(1, 3, -1, -3), ui::secondary());
  }

 private:
  std::string name_;
};

void clear(QLayout* layout) {
  while (QLayoutItem* item = layout->takeAt(0)) {
    if (QWidget* w = item->widget()) delete w;
    delete item;
  }
}

QLabel* label(const std::string& text, QWidget* parent, double points) {
  auto* l = new QLabel(QString::fromStdString(text), parent);
  l->setFont(ui::systemFont(points));
  return l;
}

}  // namespace

GuideView::GuideView(const std::string& topic, QWidget* parent)
    : QWidget(parent),
      state_(topic, stored(defaultskey::tiles, registereddefault::tiles),
             stored(defaultskey::gesture, registereddefault::gesture)) {
  setFixedWidth(fixedWidth);
  setFont(ui::systemFont(13));  // the body size for the controls and every unsized label
  auto* whole = new QVBoxLayout(this);
  whole->setContentsMargins(28, 28, 28, 28);
  whole->setSpacing(22);

  auto* modeLine = new QHBoxLayout;
  modeLine->setSpacing(8);
  modeLine->addStretch();
  modeLine->addWidget(new QLabel("Shortcuts for mode", this));
  modePicker_ = new PopUpButton(this);
  modeLine->addWidget(modePicker_);
  modeLine->addStretch();
  whole->addLayout(modeLine);
  connect(modePicker_, &QComboBox::activated, this, [this](int index) {
    const auto items = state_.modeItems();
    if (index >= 0 && index < static_cast<int>(items.size())) pickMode(items[static_cast<std::size_t>(index)].first);
  });

  header_ = new QHBoxLayout;
  header_->setSpacing(6);
  whole->addLayout(header_);

  auto* middle = new QHBoxLayout;
  middle->setSpacing(16);
  middle->setAlignment(Qt::AlignTop);
  topics_ = new QVBoxLayout;
  topics_->setSpacing(4);
  auto* topicColumn = new QVBoxLayout;
  topicColumn->addLayout(topics_);
  topicColumn->addStretch();
  middle->addLayout(topicColumn);
  auto* pane = new Pane(this);
  paneBox_ = pane;
  pane->setMinimumHeight(300);
  pane->setFixedWidth(fixedWidth - 2 * 28 - TopicRow::rowWidth - 16);
  pane_ = new QVBoxLayout(pane);
  pane_->setSpacing(0);
  pane_->setContentsMargins(0, 0, 0, 0);
  // The variant picker and the stage stand together in the middle of the pane; their
  // places are between these two stretches.
  pane_->addStretch();
  pane_->addStretch();
  middle->addWidget(pane, 0, Qt::AlignTop);
  whole->addLayout(middle);

  legend_ = new ShortcutLegendView(state_.mode(), this);
  legend_->setFixedWidth(fixedWidth - 2 * 28);
  whole->addWidget(legend_);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  done_ = new QPushButton("Done", this);
  done_->setDefault(true);
  buttons->addWidget(done_);
  whole->addLayout(buttons);
  connect(done_, &QPushButton::clicked, this, [this] {
    if (onDone_) onDone_();
  });

  shown_ = std::make_unique<ui::WhileShown>(
      *this, [this] { demo_->setPlaying(false); }, [this] { demo_->setPlaying(true); });
  QPointer<GuideView> self(this);
  defaultsWatch_ = NSNotificationCenter::defaultCenter().addObserver(
      NSUserDefaultsDidChangeNotification, nullptr, &platform::mainQueue(), [self](const NSNotification&) {
        if (self) self->readSettings();
      });
  refresh();
}

GuideView::~GuideView() { NSNotificationCenter::defaultCenter().removeObserver(defaultsWatch_); }

void GuideView::readSettings() {
  // The guide follows the mode and the gesture; a change of any other setting (the ⌥`
  // switcher's, which the legend reads) waits for the guide's next change of its own.
  const bool tiles = state_.setStoredTiles(stored(defaultskey::tiles, registereddefault::tiles));
  const bool gesture = state_.setStoredGesture(stored(defaultskey::gesture, registereddefault::gesture));
  if (tiles || gesture) refresh();
}

void GuideView::windowWillClose() {
  state_.windowWillClose();
  refresh();
}

void GuideView::pickMode(Settings::Tiles mode) {
  state_.pickMode(mode);
  refresh();
}

void GuideView::clickTopic(const std::string& title) {
  state_.selectTopic(title);
  refresh(kTopicClick);
}

void GuideView::clickVariant(const std::string& name) {
  state_.selectVariant(name);
  refresh();
}

void GuideView::keyDown(const NSEvent& event) {
  if (event.characters() == "\r" || event.characters() == "\x03" || event.keyCode() == 36 || event.keyCode() == 76) {
    if (onDone_) onDone_();
    return;
  }
  NSResponder::keyDown(event);
}

std::vector<std::string> GuideView::headerTexts() const { return headerTexts_; }

void GuideView::refresh(const Transition& transition) {
  const auto items = state_.modeItems();
  modePicker_->clear();
  int shownIndex = 0;
  for (std::size_t i = 0; i < items.size(); ++i) {
    modePicker_->addItem(QString::fromStdString(items[i].second));
    if (items[i].first == state_.mode()) shownIndex = static_cast<int>(i);
  }
  modePicker_->setCurrentIndex(shownIndex);
  if (builtMode_ != state_.mode()) {
    builtMode_ = state_.mode();
    rebuildHeader();
    legend_->setMode(state_.mode());
  }
  rebuildTopics(transition);
  rebuildPane(transition);
  legend_->update();
  fitHeight();
}

void GuideView::fitHeight() {
  // Measured at the one width: a plain size hint guesses a width for the wrapped caption
  // and topic lines, and a layout keeps its old measures until the next event pass.
  const int height = ui::fittedHeight(*this, fixedWidth);
  if (height == fittedHeight_) return;
  fittedHeight_ = height;
  setFixedHeight(height);
  // The parts take their places at the new height now, not at the next event pass.
  layout()->invalidate();
  layout()->activate();
  if (onHeightChange_) onHeightChange_();
}

void GuideView::rebuildHeader() {
  clear(header_);
  headerTexts_.clear();
  header_->addStretch();
  for (const GuideState::HeaderPart& part : state_.header()) {
    switch (part.kind) {
      case GuideState::HeaderPart::Kind::text:
        header_->addWidget(label(part.text, this, 15));
        headerTexts_.push_back(part.text);
        break;
      case GuideState::HeaderPart::Kind::key:
        header_->addWidget(new KeyCap({.key = part.text, .label = part.label, .width = 46}, this));
        headerTexts_.push_back(part.text);
        break;
      case GuideState::HeaderPart::Kind::arrow:
        header_->addWidget(new Symbol("arrow.right", this));
        headerTexts_.push_back("→");
        break;
    }
  }
  header_->addStretch();
}

void GuideView::rebuildTopics(const Transition& transition) {
  std::vector<std::string> titles;
  for (const GuideTopic& t : state_.topics()) titles.push_back(t.title + "\n" + t.line);
  if (titles != builtTitles_) {
    builtTitles_ = titles;
    clear(topics_);
    rows_.clear();
    for (const GuideTopic& t : state_.topics()) {
      auto* row = new TopicRow(t.title, t.line, this);
      const std::string title = t.title;
      connect(row, &QAbstractButton::clicked, this, [this, title] { clickTopic(title); });
      topics_->addWidget(row);
      rows_.push_back(row);
    }
  }
  for (TopicRow* row : rows_) row->setSelected(row->title() == state_.topic(), transition);
}

void GuideView::rebuildPane(const Transition& transition) {
  const GuideTopic& topic = state_.displayedTopic();
  const GuideVariant& variant = state_.displayedVariant();
  std::string pickerID = topic.title + ":";
  for (const GuideVariant& v : topic.variants) pickerID += v.name + "/";
  const std::string demoID = state_.demoIdentity();
  if (pickerID == builtPicker_ && demoID == builtDemo_) {
    for (QPushButton* b : variantButtons_) b->setChecked(b->text().toStdString() == variant.name);
    return;
  }
  const bool newPicker = pickerID != builtPicker_;
  builtPicker_ = pickerID;
  builtDemo_ = demoID;
  if (newPicker) {
    delete picker_;
    picker_ = nullptr;
    variantButtons_.clear();
    if (state_.showsVariantPicker()) {
      picker_ = new QWidget;
      auto* segments = new QHBoxLayout(picker_);
      segments->setContentsMargins(0, 14, 0, 0);
      segments->setSpacing(0);
      segments->addStretch();
      std::vector<QString> names;
      for (const GuideVariant& v : topic.variants) names.push_back(QString::fromStdString(v.name));
      auto* control = new ui::SegmentedControl(names, picker_);
      for (QPushButton* b : control->segments()) {
        const std::string name = b->text().toStdString();
        connect(b, &QPushButton::clicked, this, [this, name] { clickVariant(name); });
        variantButtons_.push_back(b);
      }
      segments->addWidget(control);
      segments->addStretch();
      pane_->insertWidget(1, picker_);
    }
  }
  for (QPushButton* b : variantButtons_) b->setChecked(b->text().toStdString() == variant.name);

  // A new topic or variant starts its demonstration over; after a click on a topic the old
  // demonstration fades out over the new one.
  if (stage_ && transition.curve != Transition::Curve::none && transition.duration > 0) {
    delete leavingStage_.data();
    leavingStage_ = ui::FadingPicture::over(*stage_, transition);
  }
  delete stage_;
  stage_ = new QWidget;
  auto* column = new QVBoxLayout(stage_);
  column->setSpacing(14);
  column->setContentsMargins(0, 0, 0, 0);
  if (const Demo* script = variant.demo()) {
    demo_ = new GuideDemo(*script, 0, false, stage_, !shown_->paused());
  } else {
    demo_ = new DisplaysDemo(0, false, stage_, !shown_->paused());
  }
  caption_ = label(variant.caption, stage_, 12);
  caption_->setAlignment(Qt::AlignHCenter);
  caption_->setWordWrap(true);
  caption_->setContentsMargins(16, 0, 16, 0);
  ui::setTextColor(caption_, ui::secondary());
  column->addWidget(demo_, 0, Qt::AlignHCenter);
  column->addWidget(caption_);
  pane_->insertWidget(pane_->count() - 1, stage_);
  if (leavingStage_) leavingStage_->raise();
}

}  // namespace trelliq
