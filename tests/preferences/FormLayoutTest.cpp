// The form laid out at its one width: every card shows its picture, then its title, then its
// caption; every row and the overview get the height their wrapped text asks for.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLabel>

#include "preferences/FormRow.h"
#include "preferences/ModeSection.h"
#include "preferences/PreferencesView.h"
#include "preferences/TileStylePicker.h"
#include "preferences/TileStylePicture.h"
#include "preferences/TilesOverview.h"
#include "support/Scene.h"
#include "support/WidgetsApp.h"

namespace trelliq {
namespace {

class FormLayout : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ensureWidgets();
    Settings::registerDefaults();
  }
  // Shown, so every layout has placed its children.
  void layOut(QWidget& view) {
    view.show();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
  }
  static QRect inView(const QWidget& widget, const QWidget& view) {
    return QRect(widget.mapTo(&view, QPoint(0, 0)), widget.size());
  }
  // A wrapped label shorter than its text at its width shows only part of it.
  static void expectWhole(const QLabel& label) {
    const int needed = label.hasHeightForWidth() ? label.heightForWidth(label.width()) : label.sizeHint().height();
    EXPECT_GE(label.height(), needed) << label.text().toStdString();
  }
  Scene scene{Scene::Start::defaultScenario};
};

TEST_F(FormLayout, EachCardStacksPictureTitleAndCaptionWithoutOverlap) {
  for (const char* mode : {"apps", "both"}) {  // "both" shows the hybrid card's role rows
    Settings::defaults().set("tiles", std::string(mode));
    PreferencesView view;
    layOut(view);
    for (const auto style : Settings::Tiles::allCases()) {
      const TileStyleCard& card = view.mode().tilePicker().card(style);
      const QRect cardRect = inView(card, view);
      int pictureBottom = 0;
      int pictures = 0;
      // The picture classes carry no meta-object of their own, so qobject_cast cannot tell them.
      for (const QWidget* child : card.findChildren<QWidget*>()) {
        if (!dynamic_cast<const TileStylePicture*>(child)) continue;
        ++pictures;
        const QRect r = inView(*child, view);
        EXPECT_TRUE(cardRect.contains(r)) << card.title();
        pictureBottom = std::max(pictureBottom, r.bottom());
      }
      EXPECT_EQ(pictures, style == Settings::Tiles::both ? 2 : 1);
      std::vector<QRect> texts;
      for (const QLabel* label : card.findChildren<QLabel*>()) {
        if (label->isHidden() || !label->isVisibleTo(&view)) continue;
        const QRect r = inView(*label, view);
        EXPECT_TRUE(cardRect.contains(r)) << card.title() << ": " << label->text().toStdString();
        EXPECT_GT(r.top(), pictureBottom) << card.title() << ": " << label->text().toStdString();
        expectWhole(*label);
        for (const QRect& other : texts) EXPECT_FALSE(r.intersects(other)) << label->text().toStdString();
        texts.push_back(r);
      }
      EXPECT_GE(texts.size(), 2u) << card.title();
    }
  }
}

TEST_F(FormLayout, RowsAndOverviewAreAsTallAsTheirContent) {
  PreferencesView view;
  layOut(view);
  const TilesOverview& overview = view.mode().overview();
  EXPECT_EQ(overview.height(), TilesOverview::fixedHeight + 8);
  EXPECT_TRUE(inView(*overview.parentWidget(), view).contains(inView(overview, view)));
  int rows = 0;
  for (const FormSection* section : view.sections()) {
    for (QWidget* widget : section->shownRows()) {
      auto* row = dynamic_cast<FormRow*>(widget);
      if (!row) continue;
      ++rows;
      const QLabel* title = row->findChildren<QLabel*>().front();
      expectWhole(*title);
      // At this width every title fits on one line.
      EXPECT_LT(title->height(), 2 * title->fontMetrics().height()) << row->title();
      for (std::size_t i = 0; i < row->subtitle().size(); ++i) {
        expectWhole(row->line(i));
        EXPECT_FALSE(inView(row->line(i), view).intersects(inView(*title, view))) << row->title();
      }
    }
  }
  EXPECT_GE(rows, 8);
}

TEST_F(FormLayout, TheOverviewsDemonstrationsAndCaptionStandInTheMiddleOfItsPanel) {
  for (const auto style : Settings::Tiles::allCases()) {
    TilesOverview overview(style);
    overview.resize(PreferencesView::formWidth - 60, overview.height());
    layOut(overview);
    const QLabel& caption = *overview.findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly).front();
    // The panel lies 4 in from the overview's top and bottom edges.
    const int above = overview.demos().front()->geometry().top() - 4;
    const int below = 4 + TilesOverview::fixedHeight - (caption.geometry().bottom() + 1);
    EXPECT_NEAR(above, below, 1) << style.rawValue();
    EXPECT_GE(above, 18) << style.rawValue();
  }
}

}  // namespace
}  // namespace trelliq
