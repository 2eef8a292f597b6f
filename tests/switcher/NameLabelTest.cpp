// The name pill under a tile as numbers: its size with and without a fixed width, the
// field while renaming, the capsule's looks, the reset glyph's place and what it reports.

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <variant>

#include "switcher/layout/NameLabel.h"
#include "switcher/layout/PanelLayout.h"

namespace trelliq::scene {
namespace {

// Every character is half the point size wide; a line is the point size plus 3 high.
class FixedWidth : public TextMeasure {
 public:
  CGSize size(const std::string& text, double pointSize, Weight) const override {
    return {static_cast<double>(text.size()) * pointSize / 2, pointSize + 3};
  }
};

const Node* child(const Node& node, const std::string& key) {
  for (const Node& c : node.children) {
    if (c.key == key) return &c;
  }
  return nullptr;
}

const CGRect* reported(const PanelScene& scene, const TileID& id) { return scene.frames.find(id); }

NameLabelState state(std::string name) {
  NameLabelState s;
  s.name = std::move(name);
  s.report = TileID::name("t");
  return s;
}

struct SizeRow {
  const char* what;
  NameLabelState state;
  CGRect label;  // the node's layout frame
  CGRect pill;   // what it reports under its name id
  double inner;  // width of the text or field
};
void PrintTo(const SizeRow& row, std::ostream* os) { *os << row.what; }

class NameLabelSize : public ::testing::TestWithParam<SizeRow> {};

TEST_P(NameLabelSize, PadsItsContentAndReportsThePill) {
  const SizeRow& row = GetParam();
  const PanelScene scene = collect(nameLabel(row.state, FixedWidth()));
  EXPECT_EQ(scene.root.frame, row.label);
  ASSERT_NE(reported(scene, TileID::name("t")), nullptr);
  EXPECT_EQ(*reported(scene, TileID::name("t")), row.pill);
  const Node* inner = child(scene.root, row.state.editing ? "field" : "text");
  ASSERT_NE(inner, nullptr);
  EXPECT_EQ(inner->frame.width(), row.inner);
  // The content sits inside the 8 × 3 padding of the pill.
  EXPECT_EQ(inner->frame.minX(), row.pill.minX() + 8);
  EXPECT_EQ(inner->frame.minY(), 3);
}

NameLabelState withWidth(NameLabelState s, double width) {
  s.width = width;
  return s;
}
NameLabelState editing(NameLabelState s, std::string draft) {
  s.editing = std::move(draft);
  return s;
}
NameLabelState small(NameLabelState s) {
  s.small = true;
  return s;
}

// "Mail" at 13 pt is 26 × 16, at 12 pt 24 × 15.
INSTANTIATE_TEST_SUITE_P(
    NameLabel, NameLabelSize,
    ::testing::Values(SizeRow{"natural", state("Mail"), CGRect(0, 0, 42, 22), CGRect(0, 0, 42, 22), 26},
                      SizeRow{"small type", small(state("Mail")), CGRect(0, 0, 40, 21), CGRect(0, 0, 40, 21), 24},
                      SizeRow{"long name grows the pill", state("Mail Inbox Drafts"), CGRect(0, 0, 126.5, 22),
                              CGRect(0, 0, 126.5, 22), 110.5},
                      SizeRow{"fixed width centres the pill", withWidth(state("Mail"), 100), CGRect(0, 0, 100, 22),
                              CGRect(29, 0, 42, 22), 26},
                      SizeRow{"fixed width cuts a long name", withWidth(state("Mail Inbox Drafts"), 60),
                              CGRect(0, 0, 60, 22), CGRect(0, 0, 60, 22), 44},
                      SizeRow{"width narrower than the padding", withWidth(state("Mail"), 10), CGRect(0, 0, 10, 22),
                              CGRect(-3, 0, 16, 22), 0},
                      SizeRow{"empty draft keeps the placeholder's width", editing(state("Mail"), ""),
                              CGRect(0, 0, 46, 22), CGRect(0, 0, 46, 22), 30},
                      SizeRow{"the field follows the draft", editing(state("Mail"), "Notebook"), CGRect(0, 0, 72, 22),
                              CGRect(0, 0, 72, 22), 56},
                      SizeRow{"the field ignores the fixed width", withWidth(editing(state("Mail"), "Notebook"), 50),
                              CGRect(0, 0, 50, 22), CGRect(-11, 0, 72, 22), 56}));

struct LookRow {
  const char* what;
  bool hovered, editing, confirmed;
  double capsule;
};
void PrintTo(const LookRow& row, std::ostream* os) { *os << row.what; }

class NameLabelLooks : public ::testing::TestWithParam<LookRow> {};

TEST_P(NameLabelLooks, CapsuleOpacityAndSettle) {
  const LookRow& row = GetParam();
  NameLabelState s = state("Mail");
  s.hovered = row.hovered;
  if (row.editing) s.editing = "Ma";
  s.confirmed = row.confirmed;
  const Node label = nameLabel(s, FixedWidth());
  const Node* capsule = child(label, "capsule");
  ASSERT_NE(capsule, nullptr);
  const auto& shape = std::get<Shape>(capsule->content);
  EXPECT_EQ(shape.kind, Shape::Kind::capsule);
  ASSERT_TRUE(shape.fill);
  EXPECT_DOUBLE_EQ(shape.fill->opacity, row.capsule);
  EXPECT_EQ(capsule->frame, CGRect(0, 0, label.frame.width(), label.frame.height()));
  // The settle replays on every change of `confirmed`, so the node carries its value.
  EXPECT_EQ(label.settle, std::optional<bool>(row.confirmed));
}

INSTANTIATE_TEST_SUITE_P(NameLabel, NameLabelLooks,
                         ::testing::Values(LookRow{"plain", false, false, false, 0},
                                           LookRow{"hovered", true, false, false, 0.14},
                                           LookRow{"renaming", false, true, false, 0.2},
                                           LookRow{"renaming wins over hover", true, true, false, 0.2},
                                           LookRow{"just named", false, false, true, 0.2},
                                           LookRow{"just named while hovered", true, false, true, 0.2}));

TEST(NameLabelText, SecondaryDimsOnlyAFixedWidthLabel) {
  NameLabelState s = state("Mail");
  s.secondary = true;
  EXPECT_DOUBLE_EQ(std::get<Text>(child(nameLabel(s, FixedWidth()), "text")->content).paint.opacity, 1);
  s.width = 80;
  const Text dimmed = std::get<Text>(child(nameLabel(s, FixedWidth()), "text")->content);
  EXPECT_DOUBLE_EQ(dimmed.paint.opacity, 0.4);
  EXPECT_EQ(dimmed.text, "Mail");
  EXPECT_EQ(dimmed.size, 13);
  EXPECT_EQ(dimmed.weight, Weight::semibold);
}

TEST(NameLabelText, FieldIsBoundToTheDraftWithTheNameAsPlaceholder) {
  NameLabelState s = small(editing(state("Desktop 2"), "Studio"));
  const Node label = nameLabel(s, FixedWidth());
  EXPECT_EQ(child(label, "text"), nullptr);
  const Node* field = child(label, "field");
  ASSERT_NE(field, nullptr);
  EXPECT_EQ(std::get<NameField>(field->content), (NameField{"Studio", "Desktop 2", 12, Weight::semibold}));
  // Sized by the draft: 6 characters at 12 pt plus 2 each side.
  EXPECT_EQ(field->frame, CGRect(8, 3, 40, 15));
}

struct ResetRow {
  const char* what;
  NameLabelState state;
  CGRect glyph;  // where it is hit-tested
  CGRect capsule;
};
void PrintTo(const ResetRow& row, std::ostream* os) { *os << row.what; }

class NameLabelReset : public ::testing::TestWithParam<ResetRow> {};

TEST_P(NameLabelReset, GlyphReportsBeforeItsShiftAndTheCapsuleGrowsAlone) {
  const ResetRow& row = GetParam();
  NameLabelState s = row.state;
  s.reset = TileID::resetName("t");
  const NameLabelState plain = row.state;
  const PanelScene scene = collect(nameLabel(s, FixedWidth()));
  // The label keeps the size it has without the reset glyph.
  EXPECT_EQ(scene.root.frame, nameLabel(plain, FixedWidth()).frame);
  ASSERT_NE(reported(scene, TileID::resetName("t")), nullptr);
  EXPECT_EQ(*reported(scene, TileID::resetName("t")), row.glyph);
  EXPECT_EQ(child(scene.root, "capsule")->frame, row.capsule);

  const Node* glyph = child(scene.root, "reset");
  ASSERT_NE(glyph, nullptr);
  EXPECT_EQ(glyph->frame, CGRect(row.glyph.minX() + 12, row.glyph.minY(), row.glyph.width(), row.glyph.height()));
  const auto& symbol = std::get<Symbol>(glyph->content);
  EXPECT_EQ(symbol.name, "xmark.circle.fill");
  EXPECT_EQ(symbol.size, row.glyph.width());
  EXPECT_EQ(symbol.paint.tone, Paint::Tone::secondary);
  // The drawn glyph stays inside the capsule's extension.
  EXPECT_LE(glyph->frame.maxX(), row.capsule.maxX());
}

// The glyph does not need the pointer over the label: it follows `reset` alone.
INSTANTIATE_TEST_SUITE_P(
    NameLabel, NameLabelReset,
    ::testing::Values(ResetRow{"natural", state("Mail"), CGRect(31, 5.5, 11, 11), CGRect(0, 0, 58, 22)},
                      ResetRow{"small", small(state("Mail")), CGRect(30, 5.5, 10, 10), CGRect(0, 0, 56, 21)},
                      ResetRow{"fixed width", withWidth(state("Mail"), 100), CGRect(60, 5.5, 11, 11),
                               CGRect(29, 0, 58, 22)}));

}  // namespace
}  // namespace trelliq::scene
