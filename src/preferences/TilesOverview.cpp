#include "preferences/TilesOverview.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include "preferences/TilesDemo.h"
#include "ui/Paint.h"

namespace trelliq {
namespace {

class Separator : public QWidget {
 public:
  using QWidget::QWidget;
  QSize sizeHint() const override { return QSize(1, 10); }

 protected:
  void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(QRectF(0, 4, 1, height() - 8), ui::primary(0.1)); }
};

}  // namespace

std::string TilesOverview::caption(Settings::Tiles style) {
  switch (style) {
    case Settings::Tiles::windows:
      return "Hold ⌘ and press ⇥ to step through your windows, desktop by desktop. Let go to switch.";
    case Settings::Tiles::both:
      return "⌘⇥ steps through your apps, ⌥⇥ through your windows. Let go to switch.";
    case Settings::Tiles::apps:
      break;
  }
  return "Hold ⌘ and press ⇥ to step through your apps. Let go to switch.";
}

TilesOverview::TilesOverview(Settings::Tiles style, TilesDemo::Start start, QWidget* parent)
    : QWidget(parent), style_(style) {
  setFixedHeight(fixedHeight + 8);  // with 4 of padding above and below the panel
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(12, 18 + 4, 12, 18 + 4);
  column->setSpacing(14);
  // The demonstrations and the caption stand in the middle of the panel's fixed height.
  column->addStretch(1);
  if (style_ == Settings::Tiles::both) {
    auto* row = new QHBoxLayout();
    row->setSpacing(0);
    demos_.push_back(new TilesDemo(TilesDemo::Kind::apps, "⌘", "App tiles", true, start, this));
    demos_.push_back(new TilesDemo(TilesDemo::Kind::windows, "⌥", "Window tiles", true, start, this));
    row->addWidget(demos_[0], 1, Qt::AlignTop);
    auto* separator = new Separator(this);
    separator->setFixedWidth(1);
    row->addWidget(separator);
    row->addWidget(demos_[1], 1, Qt::AlignTop);
    column->addLayout(row);
  } else if (style_ == Settings::Tiles::windows) {
    demos_.push_back(new TilesDemo(TilesDemo::Kind::windows, "⌘", "Window tiles", false, start, this));
    column->addWidget(demos_[0]);
  } else {
    demos_.push_back(new TilesDemo(TilesDemo::Kind::apps, "⌘", "App tiles", false, start, this));
    column->addWidget(demos_[0]);
  }
  auto* text = new QLabel(QString::fromStdString(caption(style_)), this);
  text->setAlignment(Qt::AlignCenter);
  text->setWordWrap(true);
  text->setFont(ui::systemFont(12));  // the callout size
  ui::setTextColor(text, ui::secondary());
  column->addWidget(text);
  column->addStretch(1);
}

void TilesOverview::setPlaying(bool playing) {
  for (TilesDemo* demo : demos_) demo->setPlaying(playing);
}

void TilesOverview::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF panel = QRectF(rect()).adjusted(0, 4, 0, -4);
  ui::fillRounded(painter, panel, 14, ui::primary(0.04));
  ui::strokeRoundedInside(painter, panel, 14, ui::separator(), 1);
}

}  // namespace trelliq
