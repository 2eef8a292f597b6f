#include "guide/model/GuideState.h"

#include <utility>

namespace trelliq {

GuideState::GuideState(std::string topic, std::string tiles, std::string gesture)
    : tiles_(std::move(tiles)), gesture_(std::move(gesture)), topic_(std::move(topic)) {
  rebuild();
}

Settings::Tiles GuideState::current() const { return Settings::Tiles::fromRaw(tiles_).value_or(Settings::Tiles::apps); }

void GuideState::rebuild() { topics_ = GuideTopic::all(mode(), Settings::Gesture::fromRaw(gesture_)); }

template <typename Change>
void GuideState::changing(Change change) {
  const Settings::Tiles before = mode();
  change();
  rebuild();
  if (mode() != before) {
    topic_ = topics_.front().title;
    variant_.reset();
  }
}

bool GuideState::setStoredTiles(std::string raw) {
  if (raw == tiles_) return false;
  changing([&] {
    tiles_ = std::move(raw);
    shown_.reset();
  });
  return true;
}

bool GuideState::setStoredGesture(std::string raw) {
  if (raw == gesture_) return false;
  changing([&] { gesture_ = std::move(raw); });
  return true;
}

void GuideState::pickMode(Settings::Tiles mode) {
  changing([&] {
    if (mode == current()) {
      shown_.reset();
    } else {
      shown_ = mode;
    }
  });
}

void GuideState::selectTopic(const std::string& title) {
  topic_ = title;
  variant_.reset();
}

void GuideState::selectVariant(const std::string& name) { variant_ = name; }

void GuideState::windowWillClose() {
  changing([&] { shown_.reset(); });
}

const GuideTopic& GuideState::displayedTopic() const {
  for (const GuideTopic& t : topics_) {
    if (t.title == topic_) return t;
  }
  return topics_.front();
}

const GuideVariant& GuideState::displayedVariant() const { return displayedTopic().variant(variant_); }

std::string GuideState::demoIdentity() const { return displayedTopic().title + "/" + displayedVariant().name; }

std::string GuideState::name(Settings::Tiles mode) {
  switch (mode) {
    case Settings::Tiles::apps:
      return "App cycling";
    case Settings::Tiles::windows:
      return "Window cycling";
    case Settings::Tiles::both:
      break;
  }
  return "Hybrid";
}

std::vector<std::pair<Settings::Tiles, std::string>> GuideState::modeItems() const {
  std::vector<std::pair<Settings::Tiles, std::string>> items;
  for (Settings::Tiles mode : Settings::Tiles::allCases()) {
    items.emplace_back(mode, name(mode) + (mode == current() ? " (current mode)" : ""));
  }
  return items;
}

std::vector<GuideState::HeaderPart> GuideState::header() const {
  using Kind = HeaderPart::Kind;
  std::vector<HeaderPart> parts{{Kind::text, "Hold", ""}, {Kind::key, "⌘", "command"}};
  if (mode() == Settings::Tiles::both) {
    parts.push_back({Kind::text, "or", ""});
    parts.push_back({Kind::key, "⌥", "option"});
  }
  parts.push_back({Kind::text, "press", ""});
  parts.push_back({Kind::key, "⇥", "tab"});
  parts.push_back({Kind::arrow, "", ""});
  parts.push_back({Kind::text, "let go to switch", ""});
  return parts;
}

}  // namespace trelliq
