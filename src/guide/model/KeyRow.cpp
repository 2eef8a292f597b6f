#include "guide/model/KeyRow.h"

namespace trelliq {

const std::vector<std::string>& KeyRow::order() {
  static const std::vector<std::string> keys{"⌘", "fn", "⌃", "⌥", "⇧", "⇥", "`"};
  return keys;
}

const std::map<std::string, std::string>& KeyRow::labels() {
  static const std::map<std::string, std::string> words{
      {"⌘", "command"}, {"⌃", "control"}, {"⌥", "option"}, {"⇧", "shift"}, {"⇥", "tab"}};
  return words;
}

std::vector<KeyRow::Item> KeyRow::items(const std::set<std::string>& keys, const std::set<std::string>& held,
                                        const std::optional<std::string>& pressed, const std::string& first) {
  std::vector<std::string> shown;
  if (keys.count(first)) shown.push_back(first);
  for (const std::string& key : order()) {
    if (key != first && keys.count(key)) shown.push_back(key);
  }
  std::vector<Item> row;
  for (const std::string& key : shown) {
    KeyCapLook cap{.key = key};
    if (auto it = labels().find(key); it != labels().end()) cap.label = it->second;
    cap.width = cap.label ? 56 : 36;
    cap.held = held.count(key) > 0;
    cap.pressed = pressed == key;
    row.push_back({cap, !row.empty()});
  }
  return row;
}

}  // namespace trelliq
