#pragma once
// How the switcher model tells its observers (the panel views, the controller) that
// a published field changed, and with which animation the views should show it.
// Main thread only, like the model itself.

#include <concepts>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace trelliq {

/// The published fields of the switcher model.
enum class ModelField {
  workspace,
  focused,
  selection,
  windowPick,
  onTray,
  traySelection,
  quitting,
  thumbnails,
  wallpapers,
  haze,
  hoveredName,
  renaming,
  nameDraft,
  justNamed,
};

/// A timed transition the views apply to a change.
struct Animation {
  enum class Curve { linear, easeIn, easeOut, easeInOut };
  double duration = 0;  // seconds
  Curve curve = Curve::easeInOut;

  /// Tiles coming and going (a quit app, a closed window, a refreshed snapshot).
  static constexpr Animation removal() { return {0.25, Curve::easeInOut}; }
  /// A window picture that a tile did not have yet.
  static constexpr Animation pictureFade() { return {0.25, Curve::easeOut}; }
  /// The mark on the tiles of an app asked to quit.
  static constexpr Animation quittingMark() { return {0.15, Curve::easeOut}; }

  friend bool operator==(const Animation&, const Animation&) = default;
};

/// One announced change: which field, and the animation it was made in (none: at once).
struct ModelChange {
  ModelField field;
  std::optional<Animation> animation;
};

/// Subscription handle; 0 is never handed out.
using ObserverToken = std::uint64_t;

/// The observer list and the animation in force. Observers run synchronously, after
/// the new value is stored, in the order they subscribed; one may unsubscribe itself
/// (or another) while being called, and the removed one is not called afterwards.
class ChangeHub {
 public:
  using Observer = std::function<void(const ModelChange&)>;

  ChangeHub() = default;
  ChangeHub(const ChangeHub&) = delete;
  ChangeHub& operator=(const ChangeHub&) = delete;

  /// Adds an observer; the token removes it again.
  ObserverToken subscribe(Observer observer);
  /// Removes an observer; an unknown or already removed token changes nothing.
  void unsubscribe(ObserverToken token);
  /// Calls every observer with the change and the animation in force.
  void announce(ModelField field);
  /// Runs `body` with `animation` in force for every change it announces; nests, and
  /// restores the outer animation also when `body` throws.
  void animating(const Animation& animation, const std::function<void()>& body);
  /// The animation in force now, none outside `animating`.
  const std::optional<Animation>& currentAnimation() const { return current_; }

 private:
  struct Entry {
    ObserverToken token;
    std::shared_ptr<Observer> observer;
  };
  std::vector<Entry> observers_;
  ObserverToken next_ = 1;
  std::optional<Animation> current_;
};

/// A field whose every change is announced through its hub. Reading is free; `set`
/// stores and announces (skipping a value equal to the stored one, where values compare);
/// `modify` edits in place and announces once.
template <class T>
class Published {
 public:
  Published(ChangeHub& hub, ModelField field, T initial = T{})
      : hub_(&hub), field_(field), value_(std::move(initial)) {}
  Published(const Published&) = delete;
  Published& operator=(const Published&) = delete;

  const T& get() const { return value_; }
  const T& operator()() const { return value_; }
  void set(T value) {
    if constexpr (std::equality_comparable<T>) {
      if (value == value_) return;
    }
    value_ = std::move(value);
    hub_->announce(field_);
  }
  template <class F>
  void modify(F&& edit) {
    std::forward<F>(edit)(value_);
    hub_->announce(field_);
  }

 private:
  ChangeHub* hub_;
  ModelField field_;
  T value_;
};

}  // namespace trelliq
