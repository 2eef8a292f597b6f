// Animating between scene trees on the virtual clock, and the timing curves under it.

#include <gtest/gtest.h>

#include "support/Scene.h"
#include "switcher/views/AnimationCurves.h"
#include "switcher/views/SceneAnimator.h"

namespace trelliq::views {
namespace {

using scene::Node;
using Curve = Animation::Curve;

TEST(AnimationCurves, EaseCurvesRunFromZeroToOneWithTheirShape) {
  for (const Curve curve : {Curve::linear, Curve::easeIn, Curve::easeOut, Curve::easeInOut}) {
    EXPECT_EQ(ease(curve, 0), 0);
    EXPECT_EQ(ease(curve, 1), 1);
    EXPECT_EQ(ease(curve, -3), 0) << "clamped";
    EXPECT_EQ(ease(curve, 7), 1);
    double last = 0;
    for (int i = 1; i <= 100; ++i) {
      const double v = ease(curve, i / 100.0);
      EXPECT_GE(v, last - 1e-9) << "never runs backwards";
      last = v;
    }
  }
  EXPECT_GT(ease(Curve::easeOut, 0.3), 0.3 + 0.1) << "ease-out is quick at first";
  EXPECT_LT(ease(Curve::easeIn, 0.3), 0.3 - 0.1);
  EXPECT_NEAR(ease(Curve::easeInOut, 0.5), 0.5, 1e-6);
  EXPECT_NEAR(ease(Curve::easeInOut, 0.2) + ease(Curve::easeInOut, 0.8), 1, 1e-6) << "symmetric";
}

TEST(AnimationCurves, SpringAndSettleOvershootThenRestExactly) {
  double peak = 0;
  for (int i = 0; i <= 50; ++i) peak = std::max(peak, spring(i / 100.0, 0.5, 0.3));
  EXPECT_GT(peak, 1.0) << "a bouncy spring overshoots";
  EXPECT_EQ(spring(0.5, 0.5, 0.3), 1);
  EXPECT_EQ(spring(0, 0.5, 0.3), 0);
  double critical = 0;
  for (int i = 0; i <= 50; ++i) critical = std::max(critical, spring(i / 100.0, 0.5, 0));
  EXPECT_LE(critical, 1.0) << "without bounce it never passes its target";

  EXPECT_EQ(settleScale(0), 1);
  EXPECT_NEAR(settleScale(0.12), 1.06, 1e-9) << "the grow ends at its peak";
  EXPECT_GT(settleScale(0.06), 1.0);
  EXPECT_LT(settleScale(0.06), 1.06);
  double low = 2;
  for (int i = 0; i <= 50; ++i) low = std::min(low, settleScale(0.12 + i / 100.0));
  EXPECT_LT(low, 1.0) << "the spring back dips below 1 before resting";
  EXPECT_EQ(settleScale(kSettleDuration), 1);
  EXPECT_EQ(settleScale(5), 1);
}

class SceneAnimatorTest : public ::testing::Test {
 protected:
  Scene scene;
  SceneAnimator animator;
  int frames = 0;

  void SetUp() override {
    animator.setOnFrame([this] { ++frames; });
  }

  static Node leaf(const std::string& key, CGRect frame) {
    Node n;
    n.key = key;
    n.frame = frame;
    return n;
  }
  static Node root(std::vector<Node> children) {
    Node r = leaf("root", CGRect(0, 0, 400, 300));
    r.children = std::move(children);
    return r;
  }
  static Node shownChild(const Node& shown, const std::string& key) {
    for (const Node& c : shown.children) {
      if (c.key == key) return c;
    }
    ADD_FAILURE() << "no child " << key;
    return Node{};
  }
  std::vector<std::string> keys(const Node& shown) {
    std::vector<std::string> out;
    for (const Node& c : shown.children) out.push_back(c.key);
    return out;
  }
};

TEST_F(SceneAnimatorTest, AFrameMovesOverItsOwnTransitionAndTheTicksStopAtRest) {
  Node tile = leaf("tile", CGRect(0, 0, 50, 50));
  tile.transitions.frame = Animation{0.2, Curve::easeOut};
  animator.show(root({tile}), std::nullopt);
  EXPECT_FALSE(animator.isAnimating()) << "the first tree appears at once";

  tile.frame = CGRect(100, 0, 50, 100);
  animator.show(root({tile}), Animation::removal());  // the node's own transition wins
  EXPECT_EQ(shownChild(animator.displayed(), "tile").frame, CGRect(0, 0, 50, 50)) << "starts where it was";
  scene.clock.advance(0.1);
  const CGRect mid = shownChild(animator.displayed(), "tile").frame;
  EXPECT_GT(mid.origin.x, 50) << "ease-out is past halfway at half time";
  EXPECT_LT(mid.origin.x, 100);
  EXPECT_GT(mid.size.height, 75);
  EXPECT_GT(frames, 3) << "redraws while moving";

  scene.clock.advance(0.15);
  EXPECT_EQ(shownChild(animator.displayed(), "tile").frame, tile.frame);
  EXPECT_FALSE(animator.isAnimating());
  const int atRest = frames;
  scene.clock.advance(1);
  EXPECT_EQ(frames, atRest) << "no ticks once everything rests";
}

TEST_F(SceneAnimatorTest, WithoutATransitionTheChangesAnimationAppliesAndWithoutEitherValuesJump) {
  Node tile = leaf("tile", CGRect(0, 0, 50, 50));
  animator.show(root({tile}), std::nullopt);
  tile.opacity = 0.35;
  animator.show(root({tile}), Animation{0.15, Curve::linear});
  scene.clock.advance(0.075);
  EXPECT_NEAR(shownChild(animator.displayed(), "tile").opacity, (1 + 0.35) / 2, 0.02);

  tile.scale = 0.8;
  animator.show(root({tile}), std::nullopt);
  const Node shown = shownChild(animator.displayed(), "tile");
  EXPECT_EQ(shown.scale, 0.8) << "an unanimated change jumps";
  EXPECT_LT(shown.opacity, 0.9) << "while the running fade goes on";
  EXPECT_GT(shown.opacity, 0.35);
}

TEST_F(SceneAnimatorTest, ANewTargetStartsFromWhatShowsAndAnEqualTreeKeepsTheRunningMove) {
  Node panel = leaf("panel", CGRect(0, 0, 100, 100));
  panel.transitions.scale = Animation{0.2, Curve::linear};
  animator.show(root({panel}), std::nullopt);
  panel.scale = 0.8;
  animator.show(root({panel}), std::nullopt);
  scene.clock.advance(0.1);
  EXPECT_NEAR(shownChild(animator.displayed(), "panel").scale, 0.9, 1e-6);

  // The same tree again (another change of the model) does not restart the move, nor
  // does one that only draws something else (a picture replacing one).
  animator.show(root({panel}), std::nullopt);
  scene.clock.advance(0.05);
  panel.content = scene::Shape{};
  animator.replace(root({panel}));
  EXPECT_NEAR(shownChild(animator.displayed(), "panel").scale, 0.85, 1e-6);
  EXPECT_EQ(shownChild(animator.displayed(), "panel").content, panel.content);
  scene.clock.advance(0.05);
  EXPECT_NEAR(shownChild(animator.displayed(), "panel").scale, 0.8, 1e-6);

  // Nor does a tree whose moving part sits under children shared with what shows (a tile
  // handed back whole by the layout's memo).
  Node body = leaf("body", CGRect(0, 0, 10, 10));
  body.transitions.scale = Animation{0.2, Curve::linear};
  Node tile = leaf("tile", CGRect(0, 0, 50, 50));
  tile.children = {body};
  animator.show(root({tile}), std::nullopt);
  tile.children[0].scale = 0.8;
  animator.show(root({tile}), std::nullopt);
  scene.clock.advance(0.1);
  animator.show(root({tile}), std::nullopt);
  EXPECT_NEAR(shownChild(shownChild(animator.displayed(), "tile"), "body").scale, 0.9, 1e-6);

  // Turning back halfway starts from the value on screen, without a jump.
  animator.show(root({panel}), std::nullopt);
  panel.scale = 1;
  animator.show(root({panel}), std::nullopt);
  EXPECT_NEAR(shownChild(animator.displayed(), "panel").scale, 0.8, 1e-6);
  scene.clock.advance(0.05);
  panel.scale = 0.8;
  animator.show(root({panel}), std::nullopt);
  EXPECT_NEAR(shownChild(animator.displayed(), "panel").scale, 0.85, 1e-6);
}

TEST_F(SceneAnimatorTest, WhatShowsSharesWhatDoesNotMoveAndACopyChangedInOnePlaceLeavesItsSourceAlone) {
  Node still = leaf("still", CGRect(0, 0, 100, 100));
  still.children = {leaf("a", CGRect(0, 0, 10, 10)), leaf("b", CGRect(10, 0, 10, 10))};
  Node inner = leaf("inner", CGRect(0, 0, 10, 10));
  inner.transitions.frame = Animation{0.2, Curve::linear};
  Node deep = leaf("deep", CGRect(100, 0, 100, 100));
  deep.children = {inner};
  animator.show(root({still, deep}), std::nullopt);
  deep.children = {leaf("inner", CGRect(50, 0, 10, 10))};
  deep.children[0].transitions = inner.transitions;
  animator.show(root({still, deep}), std::nullopt);
  scene.clock.advance(0.1);

  const Node shown = animator.displayed();
  // A move deep under a parent that stays is shown; the parts where nothing moves are the
  // target's own.
  EXPECT_NEAR(shownChild(shownChild(shown, "deep"), "inner").frame.origin.x, 25, 1e-6);
  EXPECT_TRUE(shownChild(shown, "still").children.sharedWith(shownChild(animator.target(), "still").children));

  Node copy = shown;
  copy.children[0].children[1].frame.origin.x = 70;
  EXPECT_EQ(shownChild(shown, "still").children[1].frame.origin.x, 10);
  EXPECT_EQ(shownChild(animator.target(), "still").children[1].frame.origin.x, 10);
  EXPECT_TRUE(copy.children[1].children.sharedWith(shown.children[1].children));
}

TEST_F(SceneAnimatorTest, FadingNodesComeAndGoWithTheChangeAndKeepTheirPlace) {
  Node a = leaf("a", CGRect(0, 0, 10, 10)), b = leaf("b", CGRect(20, 0, 10, 10)), c = leaf("c", CGRect(40, 0, 10, 10));
  for (Node* n : {&a, &b, &c}) n->transitions.fades = true;
  animator.show(root({a, c}), std::nullopt);

  animator.show(root({a, b, c}), Animation::pictureFade());
  EXPECT_EQ(shownChild(animator.displayed(), "b").opacity, 0) << "appears from nothing";
  scene.clock.advance(0.125);
  const double half = shownChild(animator.displayed(), "b").opacity;
  EXPECT_GT(half, 0.5) << "ease-out";
  EXPECT_LT(half, 1);
  scene.clock.advance(0.2);
  EXPECT_EQ(shownChild(animator.displayed(), "b").opacity, 1);

  // Leaving, it fades out in its old place among its siblings, then is gone.
  animator.show(root({a, c}), Animation::removal());
  EXPECT_EQ(keys(animator.displayed()), (std::vector<std::string>{"a", "b", "c"}));
  scene.clock.advance(0.125);
  EXPECT_NEAR(shownChild(animator.displayed(), "b").opacity, 0.5, 0.05);
  scene.clock.advance(0.2);
  EXPECT_EQ(keys(animator.displayed()), (std::vector<std::string>{"a", "c"}));
  EXPECT_FALSE(animator.isAnimating());

  // Without an animation, or without `fades`, nodes come and go at once.
  animator.show(root({a, b, c}), std::nullopt);
  EXPECT_EQ(shownChild(animator.displayed(), "b").opacity, 1);
  Node plain = leaf("plain", CGRect(60, 0, 10, 10));
  animator.show(root({a, b, c, plain}), Animation::removal());
  EXPECT_EQ(shownChild(animator.displayed(), "plain").opacity, 1);
  animator.show(root({a, b, c}), Animation::removal());
  EXPECT_EQ(keys(animator.displayed()), (std::vector<std::string>{"a", "b", "c"}));
}

TEST_F(SceneAnimatorTest, NodesMatchByKeyPathSoAMoveToAnotherParentIsANewNode) {
  Node left = leaf("left", CGRect(0, 0, 100, 100)), right = leaf("right", CGRect(100, 0, 100, 100));
  Node item = leaf("item", CGRect(0, 0, 10, 10));
  item.transitions.frame = Animation{0.2, Curve::linear};
  left.children = {item};
  animator.show(root({left, right}), std::nullopt);

  item.frame = CGRect(50, 0, 10, 10);
  left.children.clear();
  right.children = {item};
  animator.show(root({left, right}), std::nullopt);
  EXPECT_EQ(shownChild(animator.displayed(), "right").children.at(0).frame, item.frame);
  EXPECT_FALSE(animator.isAnimating());
}

TEST_F(SceneAnimatorTest, TheSettlePlaysOnEveryFlipButNotOnFirstShow) {
  Node label = leaf("label", CGRect(0, 0, 80, 20));
  animator.show(root({label}), std::nullopt);
  label.settle = false;
  animator.show(root({label}), std::nullopt);
  scene.clock.advance(0.12);
  EXPECT_EQ(shownChild(animator.displayed(), "label").scale, 1) << "a value appearing is no flip";

  label.settle = true;
  animator.show(root({label}), std::nullopt);
  scene.clock.advance(0.12);
  EXPECT_NEAR(shownChild(animator.displayed(), "label").scale, 1.06, 1e-6);
  // A rebuild in between leaves the running settle alone.
  animator.show(root({label}), std::nullopt);
  scene.clock.advance(0.6);
  EXPECT_EQ(shownChild(animator.displayed(), "label").scale, 1);
  EXPECT_FALSE(animator.isAnimating());

  label.settle = false;
  label.scale = 0.5;
  animator.show(root({label}), std::nullopt);
  scene.clock.advance(0.12);
  EXPECT_NEAR(shownChild(animator.displayed(), "label").scale, 0.5 * 1.06, 1e-6) << "it multiplies the node's scale";
}

}  // namespace
}  // namespace trelliq::views
