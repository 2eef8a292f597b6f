#pragma once
// What a trigger asks the switcher to open. Pure.

namespace trelliq {

/// What a trigger asks the switcher to open; `step` is +1, or −1 with ⇧.
struct SessionAction {
  enum class Kind { cycle, space, tile, clusters, appWindows, tray, clusterTray };
  Kind kind = Kind::cycle;
  int step = 1;

  static SessionAction cycle(int step) { return {Kind::cycle, step}; }
  static SessionAction space(int step) { return {Kind::space, step}; }
  static SessionAction tile(int step) { return {Kind::tile, step}; }
  static SessionAction clusters(int step) { return {Kind::clusters, step}; }
  static SessionAction appWindows(int step) { return {Kind::appWindows, step}; }
  static SessionAction tray() { return {Kind::tray, 1}; }
  static SessionAction clusterTray() { return {Kind::clusterTray, 1}; }
  /// Window tiles: `tile`, `clusters`, `clusterTray`.
  bool isClusters() const { return kind == Kind::tile || kind == Kind::clusters || kind == Kind::clusterTray; }
  bool isAppWindows() const { return kind == Kind::appWindows; }
  friend bool operator==(const SessionAction&, const SessionAction&) = default;
};

}  // namespace trelliq
