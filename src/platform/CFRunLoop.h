#pragma once
// Run loops and their sources. A run loop here is an Executor of the installed Clock
// (the main queue, or a named thread such as "event tap"); a source is anything that
// delivers callbacks (an event tap, an accessibility observer, an IOKit notification
// port). A source delivers nothing until it is added to a run loop, and then posts each
// callback to that executor, so callbacks never run on the thread that produced them.

#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/Clock.h"

using CFIndex = std::int64_t;
using CFTimeInterval = double;

/// Allocators are accepted for shape only; every allocation uses the default.
using CFAllocatorRef = const void*;
inline constexpr CFAllocatorRef kCFAllocatorDefault = nullptr;

using CFRunLoopRef = platform::Executor*;
using CFRunLoopMode = const char*;
inline constexpr CFRunLoopMode kCFRunLoopDefaultMode = "kCFRunLoopDefaultMode";
inline constexpr CFRunLoopMode kCFRunLoopCommonModes = "kCFRunLoopCommonModes";

/// A source of callbacks. Subclasses (one per kind of producer) post their callbacks to
/// `runLoop()`; while it is null, what they would deliver is dropped (an event tap passes
/// its events on unchanged). Thread-safe.
class CFRunLoopSource {
 public:
  virtual ~CFRunLoopSource() = default;

  /// The run loop the source was added to last, or null when it is on none or invalidated.
  platform::Executor* runLoop() const;
  bool isValid() const;

  /// Called by CFRunLoopAddSource / CFRunLoopRemoveSource; a source is on one run loop at a time.
  void attach(platform::Executor* runLoop);
  void detach(platform::Executor* runLoop);
  /// Stops delivery for good (the producer was invalidated).
  void invalidate();

 private:
  mutable std::mutex mutex_;
  platform::Executor* runLoop_ = nullptr;
  bool valid_ = true;
};

using CFRunLoopSourceRef = std::shared_ptr<CFRunLoopSource>;

/// The main thread's run loop: the installed clock's main queue.
CFRunLoopRef CFRunLoopGetMain();
/// Puts the source on `runLoop` (the mode is accepted for shape; every mode behaves as common).
/// Adding it to a second run loop moves its deliveries there. Null arguments are ignored.
void CFRunLoopAddSource(CFRunLoopRef runLoop, const CFRunLoopSourceRef& source, CFRunLoopMode mode);
/// Takes the source off `runLoop`; nothing when it is not on it.
void CFRunLoopRemoveSource(CFRunLoopRef runLoop, const CFRunLoopSourceRef& source, CFRunLoopMode mode);
/// Stops the source's deliveries for good; callbacks already posted still run.
void CFRunLoopSourceInvalidate(const CFRunLoopSourceRef& source);
bool CFRunLoopSourceIsValid(const CFRunLoopSourceRef& source);
