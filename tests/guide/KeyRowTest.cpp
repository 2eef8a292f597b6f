// The key row under the demonstrations: order, labels, sizes, lit states.

#include <gtest/gtest.h>

#include <QImage>
#include <QVBoxLayout>

#include "guide/InlineKeys.h"
#include "guide/model/KeyRow.h"
#include "support/WidgetsApp.h"

namespace trelliq {
namespace {

std::vector<std::string> keysOf(const std::vector<KeyRow::Item>& row) {
  std::vector<std::string> keys;
  for (const auto& item : row) keys.push_back(item.cap.key);
  return keys;
}

TEST(KeyRows, TheLeadingKeyComesFirstThenTheFixedOrder) {
  EXPECT_EQ(keysOf(KeyRow::items({"`", "⌥"}, {}, std::nullopt, "⌥")), (std::vector<std::string>{"⌥", "`"}));
  EXPECT_EQ(keysOf(KeyRow::items({"⇥", "⇧", "⌘", "⌃", "fn", "⌥", "`"}, {}, std::nullopt)),
            (std::vector<std::string>{"⌘", "fn", "⌃", "⌥", "⇧", "⇥", "`"}));
  // A lead that is not among the keys is not shown, and the row then starts without a plus.
  const auto row = KeyRow::items({"⇧", "⇥"}, {}, std::nullopt, "⌘");
  EXPECT_EQ(keysOf(row), (std::vector<std::string>{"⇧", "⇥"}));
  EXPECT_FALSE(row[0].plusBefore);
  EXPECT_TRUE(row[1].plusBefore);
  // Keys the row does not know are left out.
  EXPECT_EQ(keysOf(KeyRow::items({"⌘", "Q"}, {}, std::nullopt)), (std::vector<std::string>{"⌘"}));
  EXPECT_TRUE(KeyRow::items({}, {"⌘"}, "⇥").empty());
}

TEST(KeyRows, ModifiersAreNamedAndWiderThanUnnamedKeys) {
  const auto row = KeyRow::items({"⌘", "fn", "⇥", "`"}, {"⌘"}, "⇥");
  ASSERT_EQ(row.size(), 4u);
  EXPECT_EQ(row[0].cap.label, "command");
  EXPECT_EQ(row[0].cap.width, 56);
  EXPECT_TRUE(row[0].cap.held);
  EXPECT_FALSE(row[1].cap.label);
  EXPECT_EQ(row[1].cap.width, 36);
  EXPECT_EQ(row[2].cap.label, "tab");
  EXPECT_TRUE(row[2].cap.pressed);
  EXPECT_FALSE(row[2].cap.held);
  EXPECT_EQ(row[3].cap.width, 36);
  // A key both held and pressed is drawn lit once, like either alone.
  const auto both = KeyRow::items({"⌘"}, {"⌘"}, "⌘");
  EXPECT_TRUE(both[0].cap.held && both[0].cap.pressed && both[0].cap.lit());
  // Pressing a key that is not shown lights nothing.
  for (const auto& item : KeyRow::items({"⌘", "⇥"}, {}, "`")) EXPECT_FALSE(item.cap.lit());
}

TEST(KeyCapSizes, NormalCapsAreThirtyHighAndKeepAGivenWidth) {
  const KeyCapLook plain{.key = "esc"};
  EXPECT_EQ(plain.size(20, 16), (CGSize{24, 30}));
  const KeyCapLook fixed{.key = "command and more", .width = 46};
  EXPECT_EQ(fixed.size(200, 16), (CGSize{46, 30}));  // the text does not widen it
  const KeyCapLook small{.key = "⌥", .width = 46, .small = true};
  EXPECT_EQ(small.size(6, 11), (CGSize{15, 14}));  // a small cap ignores the width
  EXPECT_EQ(small.size(30, 20), (CGSize{36, 20}));
}

TEST(KeyCapSizes, LinesFollowTheLabelAndTheFnGlobe) {
  using Line = KeyCapLook::Line;
  EXPECT_EQ((KeyCapLook{.key = "fn", .label = "function"}.lines()),
            (std::vector<Line>{Line::key, Line::label, Line::globe}));
  EXPECT_EQ((KeyCapLook{.key = "fn", .small = true}.lines()), (std::vector<Line>{Line::key}));
  EXPECT_EQ((KeyCapLook{.key = "⌘", .label = ""}.lines()), (std::vector<Line>{Line::key, Line::label}));
}

class KeyCapViews : public ::testing::Test {
 protected:
  void SetUp() override { test::ensureWidgets(); }
};

TEST_F(KeyCapViews, TheRowIsEnlargedAndKeepsItsHeightWhenEmpty) {
  InlineKeys empty({}, {}, std::nullopt);
  EXPECT_EQ(empty.sizeHint().height(), 39);  // 39.2 to the nearest point
  EXPECT_EQ(empty.contentWidth(), 0);
  InlineKeys row({"⌘", "⇥"}, {"⌘"}, std::nullopt);
  EXPECT_GT(row.contentWidth(), 56 + 8 + 8 + 56);
  EXPECT_NEAR(row.sizeHint().width(), row.contentWidth() * 1.4, 1);
  row.setState({"⌘"}, "⇥");
  EXPECT_TRUE(row.items()[1].cap.pressed);
}

TEST_F(KeyCapViews, TheEnlargedCapsPaintPastTheRowWhichKeepsItsHeight) {
  for (const std::set<std::string>& keys : {std::set<std::string>{"⌘", "⇥"}, std::set<std::string>{"⌘", "fn"}}) {
    // A column with the row between two blocks, 14 points apart.
    QWidget column;
    auto* layout = new QVBoxLayout(&column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);
    auto* above = new QWidget(&column);
    above->setFixedSize(20, 20);
    auto* row = new InlineKeys(keys, {}, std::nullopt, "⌘", &column);
    auto* below = new QWidget(&column);
    below->setFixedSize(20, 20);
    layout->addWidget(above);
    layout->addWidget(row, 0, Qt::AlignLeft);
    layout->addWidget(below);
    column.show();
    EXPECT_EQ(row->height(), 39);
    EXPECT_EQ(below->y(), row->y() + 39 + 14) << "what lies under the row sits where the row's height puts it";
    QImage image(column.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    column.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    // Down the middle of the first cap: its plate past the row's top and bottom edges, and
    // then nothing but the faint edge of its shadow.
    const int x = row->x() + 39, top = row->y(), bottom = row->y() + row->height() - 1;
    EXPECT_GT(image.pixelColor(x, top - 1).alpha(), 200) << "the cap above the row";
    EXPECT_GT(image.pixelColor(x, bottom + 1).alpha(), 200) << "the cap below the row";
    EXPECT_LT(image.pixelColor(x, top - row->overhang() - 1).alpha(), 100) << "clear above the cap";
    EXPECT_LT(image.pixelColor(x, bottom + row->overhang() + 1).alpha(), 100) << "clear below the cap";
  }
}

}  // namespace
}  // namespace trelliq
