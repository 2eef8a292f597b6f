#include "platform/CFRunLoop.h"

platform::Executor* CFRunLoopSource::runLoop() const {
  std::lock_guard lock(mutex_);
  return valid_ ? runLoop_ : nullptr;
}

bool CFRunLoopSource::isValid() const {
  std::lock_guard lock(mutex_);
  return valid_;
}

void CFRunLoopSource::attach(platform::Executor* runLoop) {
  std::lock_guard lock(mutex_);
  if (valid_) runLoop_ = runLoop;
}

void CFRunLoopSource::detach(platform::Executor* runLoop) {
  std::lock_guard lock(mutex_);
  if (runLoop_ == runLoop) runLoop_ = nullptr;
}

void CFRunLoopSource::invalidate() {
  std::lock_guard lock(mutex_);
  valid_ = false;
  runLoop_ = nullptr;
}

CFRunLoopRef CFRunLoopGetMain() { return &platform::mainQueue(); }

void CFRunLoopAddSource(CFRunLoopRef runLoop, const CFRunLoopSourceRef& source, CFRunLoopMode) {
  if (runLoop && source) source->attach(runLoop);
}

void CFRunLoopRemoveSource(CFRunLoopRef runLoop, const CFRunLoopSourceRef& source, CFRunLoopMode) {
  if (runLoop && source) source->detach(runLoop);
}

void CFRunLoopSourceInvalidate(const CFRunLoopSourceRef& source) {
  if (source) source->invalidate();
}

bool CFRunLoopSourceIsValid(const CFRunLoopSourceRef& source) { return source && source->isValid(); }
