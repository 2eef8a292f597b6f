#include "selftest/GlassTestMode.h"

#include <QPainter>
#include <QPainterPath>
#include <QVariant>
#include <QWidget>
#include <algorithm>
#include <cstdlib>
#include <set>

#include "workspace/KeyablePanel.h"
#include "platform/AppKit.h"
#include "platform/AppKitWindows.h"
#include "selftest/ActiveTestPanel.h"
#include "selftest/Dispatch.h"
#include "selftest/ModeClock.h"
#include "selftest/ModeReport.h"
#include "switcher/views/ScenePainter.h"
#include "switcher/views/SystemFont.h"

namespace trelliq {

namespace {

constexpr double kCornerRadius = 58;
constexpr NSWindowLevel kPanelLevel = 101;
constexpr NSWindowCollectionBehavior kPanelBehavior = 257;  // all Spaces, full-screen auxiliary
const QColor kHudColor(30, 30, 32);

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t at = 0;
  for (;;) {
    const std::size_t end = text.find(separator, at);
    parts.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) return parts;
    at = end + 1;
  }
}

// The glass background of one test panel: an optional blur layer under it, the plate
// (dimmer while its window does not draw as active), an optional haze over it and the
// label naming the configuration. Items without a meaning of their own are kept as
// properties of the view.
class GlassView : public QWidget {
 public:
  GlassView(const NSWindow& window, const GlassTestMode::PanelRecipe& recipe, QSize size)
      : window_(window), label_(QString::fromStdString(recipe.label())) {
    resize(size);
    under_ = recipe.value("under");
    haze_ = recipe.value("haze");
    static const std::set<std::string> own = {"key", "active", "haze", "under"};
    for (const auto& [name, value] : recipe.items) {
      if (!own.contains(name)) setProperty(name.c_str(), QVariant::fromValue<qlonglong>(value));
    }
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r(rect());
    const QPainterPath plate = views::ScenePainter::shapePath(scene::Shape::Kind::roundedRectangle, r,
                                                              std::min(kCornerRadius, r.height() / 2));
    if (under_) p.fillPath(plate, withAlpha(kHudColor, *under_ / 100.0));
    QColor glass = views::ScenePainter::glassColor();
    if (!window_._hasActiveAppearance()) glass.setAlphaF(glass.alphaF() * 0.6f);
    p.fillPath(plate, glass);
    if (haze_) p.fillPath(plate, withAlpha(kHudColor, *haze_ / 100.0));
    p.setPen(QColor(255, 255, 255, 230));
    p.setFont(views::systemFont(13, scene::Weight::semibold));
    // The label sits 75 points above the bottom edge.
    p.drawText(QRectF(20, r.height() - 75 - 20, 320, 20), Qt::AlignLeft | Qt::AlignVCenter, label_);
  }

 private:
  static QColor withAlpha(QColor color, double alpha) {
    color.setAlphaF(static_cast<float>(std::clamp(alpha, 0.0, 1.0)));
    return color;
  }

  const NSWindow& window_;
  QString label_;
  std::optional<std::int64_t> under_, haze_;
};

// A panel that owns its glass view.
template <typename Panel>
class GlassPanel : public Panel {
 public:
  GlassPanel(const GlassTestMode::PanelRecipe& recipe, const CGRect& frame)
      : Panel(frame, NSWindowStyleMaskNonactivatingPanel, NSBackingStoreType::buffered, false),
        view_(*this, recipe, QSize(platform::pictureSide(frame.width()), platform::pictureSide(frame.height()))) {
    this->setContentView(&view_);
  }
  ~GlassPanel() override { this->setContentView(nullptr); }

 private:
  GlassView view_;
};

}  // namespace

std::optional<std::int64_t> GlassTestMode::PanelRecipe::value(const std::string& name) const {
  for (const auto& [n, v] : items) {
    if (n == name) return v;
  }
  return std::nullopt;
}

std::string GlassTestMode::PanelRecipe::label() const {
  std::vector<std::string> texts;
  for (const auto& [name, value] : items) texts.push_back(name + "=" + std::to_string(value));
  std::sort(texts.begin(), texts.end());
  std::string joined;
  for (const std::string& t : texts) joined += (joined.empty() ? "" : " ") + t;
  return joined;
}

std::vector<GlassTestMode::PanelRecipe> GlassTestMode::parseRecipes(const std::string& text) {
  std::vector<PanelRecipe> recipes;
  for (const std::string& description : split(text, ';')) {
    if (description.empty()) continue;
    PanelRecipe recipe;
    for (const std::string& item : split(description, ',')) {
      const std::vector<std::string> parts = split(item, '=');
      if (parts.size() != 2 || parts[0].empty()) continue;
      const std::optional<std::int64_t> value = parseInteger(parts[1]);
      if (!value || recipe.value(parts[0])) continue;
      recipe.items.emplace_back(parts[0], *value);
    }
    recipes.push_back(std::move(recipe));
  }
  return recipes;
}

std::optional<CGRect> GlassTestMode::parseFrame(const char* text) {
  if (!text) return std::nullopt;
  const std::vector<std::string> parts = split(text, ',');
  if (parts.size() != 4) return std::nullopt;
  double numbers[4];
  for (std::size_t i = 0; i < 4; ++i) {
    const std::optional<double> n = parseDecimal(parts[i]);
    if (!n) return std::nullopt;
    numbers[i] = *n;
  }
  return CGRect(numbers[0], numbers[1], numbers[2], numbers[3]);
}

CGRect GlassTestMode::frame(std::size_t index, const CGRect& screen, const std::optional<CGRect>& at) {
  if (at) return *at;
  const double column = static_cast<double>(index % 4), row = static_cast<double>(index / 4);
  return CGRect(screen.minX() + 60 + column * 390, screen.maxY() - 120 - (row + 1) * 205, 360, 175);
}

std::unique_ptr<NSWindow> GlassTestMode::makePanel(const PanelRecipe& recipe, const CGRect& frame) {
  std::unique_ptr<NSWindow> panel;
  if (recipe.value("active") == 1) {
    panel = std::make_unique<GlassPanel<ActiveTestPanel>>(recipe, frame);
  } else {
    panel = std::make_unique<GlassPanel<KeyablePanel>>(recipe, frame);
  }
  panel->setLevel(kPanelLevel);
  panel->setOpaque(false);
  panel->setBackgroundColor(0);
  panel->setCollectionBehavior(kPanelBehavior);
  return panel;
}

int GlassTestMode::run(const std::string& dir, const std::optional<std::string>& recipes, const std::string& suffix,
                       const std::optional<CGRect>& at) {
  NSApplication& app = NSApp();
  app.setActivationPolicy(NSApplicationActivationPolicyAccessory);
  app.finishLaunching();
  const std::vector<NSScreen> screens = NSScreen::screens();
  const CGRect screen = screens.empty() ? CGRect() : screens.front().frame();
  // The panels stay up until the mode ends, which ends the process.
  std::vector<std::unique_ptr<NSWindow>> panels;
  const std::vector<PanelRecipe> parsed = recipes ? parseRecipes(*recipes) : std::vector<PanelRecipe>{};
  for (std::size_t i = 0; i < parsed.size(); ++i) {
    std::unique_ptr<NSWindow> panel = makePanel(parsed[i], frame(i, screen, at));
    panel->orderFrontRegardless();
    if (parsed[i].value("key") == 1) panel->makeKeyWindow();
    panels.push_back(std::move(panel));
  }
  ModeClock::pump(1.0);
  return ModeReport::debugScreenshot(dir + "/glass-test" + suffix + ".png").status("--glass-test");
}

std::vector<SelfTestMode> GlassTestMode::modes() {
  using namespace modeArguments;
  using Args = SelfTestMode::Args;
  return {
      {"--glass-test",
       "dir [panels]",
       {},
       [](const Args& args, std::size_t at) {
         const char* suffix = std::getenv("SHOT_SUFFIX");
         return run(args[at + 1], optionalAt(args, at, 2), suffix ? suffix : "", parseFrame(std::getenv("AT")));
       }},
  };
}

}  // namespace trelliq
