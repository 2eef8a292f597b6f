#pragma once
// What a point in a switcher panel refers to: a tile, a tray app, one window picture
// inside a whole-Space tile, a tile's name label or that label's reset button.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace trelliq {

class TileID {
 public:
  enum class Kind { cluster, tray, window, name, resetName };

  /// A tile of a Space group, by its cluster id.
  static TileID cluster(std::string id) { return TileID(Kind::cluster, std::move(id), 0, 0, 0); }
  /// A tile of the tray row, by the app's process id.
  static TileID tray(std::int32_t pid) { return TileID(Kind::tray, {}, pid, 0, 0); }
  /// A window picture of a whole-Space tile: its index in the tile's windows (-1: the
  /// desktop) and its stacking rank, larger nearer the front.
  static TileID window(std::string cluster, int index, int z) {
    return TileID(Kind::window, std::move(cluster), 0, index, z);
  }
  /// The name label under a tile.
  static TileID name(std::string id) { return TileID(Kind::name, std::move(id), 0, 0, 0); }
  /// The reset button of a tile's name label.
  static TileID resetName(std::string id) { return TileID(Kind::resetName, std::move(id), 0, 0, 0); }

  Kind kind() const { return kind_; }
  /// The cluster id of every kind but `tray` (empty there).
  const std::string& clusterID() const { return id_; }
  std::int32_t pid() const { return pid_; }
  int index() const { return index_; }
  int z() const { return z_; }

  /// Same kind with equal payloads (all three fields for a window).
  friend bool operator==(const TileID&, const TileID&) = default;

  /// Feeds the kind's position and then the payload fields in order.
  std::size_t hash() const {
    std::size_t h = static_cast<std::size_t>(kind_);
    auto mix = [&h](std::size_t v) { h ^= v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2); };
    switch (kind_) {
      case Kind::tray:
        mix(std::hash<std::int32_t>{}(pid_));
        break;
      case Kind::window:
        mix(std::hash<std::string>{}(id_));
        mix(std::hash<int>{}(index_));
        mix(std::hash<int>{}(z_));
        break;
      default:
        mix(std::hash<std::string>{}(id_));
        break;
    }
    return h;
  }

 private:
  TileID(Kind kind, std::string id, std::int32_t pid, int index, int z)
      : kind_(kind), id_(std::move(id)), pid_(pid), index_(index), z_(z) {}

  Kind kind_;
  std::string id_;
  std::int32_t pid_;
  int index_;
  int z_;
};

}  // namespace trelliq

template <>
struct std::hash<trelliq::TileID> {
  std::size_t operator()(const trelliq::TileID& id) const noexcept { return id.hash(); }
};
