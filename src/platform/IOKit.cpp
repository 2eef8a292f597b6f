#include "platform/IOKit.h"

#include <mutex>
#include <vector>

#include "platform/WindowServerPort.h"

namespace {
class NotificationSource : public CFRunLoopSource {};
}  // namespace

class IONotificationPort : public std::enable_shared_from_this<IONotificationPort> {
 public:
  IONotificationPort() : source_(std::make_shared<NotificationSource>()) {}
  ~IONotificationPort() { destroy(); }

  const CFRunLoopSourceRef& source() const { return source_; }

  kern_return_t add(const std::string& className, IOServiceMatchingCallback callback, void* refCon,
                    io_iterator_t* notification) {
    // The iterator is only known once the server answers; arrivals before that are dropped
    // because the caller has not drained the first batch yet anyway.
    auto iterator = std::make_shared<io_iterator_t>(0);
    std::weak_ptr<IONotificationPort> weak = weak_from_this();
    auto id = platform::windowServer().addServiceMatching(className, [weak, iterator, callback, refCon] {
      auto self = weak.lock();
      if (!self) return;
      platform::Executor* runLoop = self->source_->runLoop();
      if (!runLoop) return;
      runLoop->async([weak, iterator, callback, refCon] {
        auto self = weak.lock();
        if (!self || !self->source_->isValid() || *iterator == 0) return;
        callback(refCon, *iterator);
      });
    });
    if (!id) return kIOReturnError;
    *iterator = *id;
    {
      std::lock_guard lock(mutex_);
      iterators_.push_back(*id);
    }
    *notification = *id;
    return KERN_SUCCESS;
  }

  void destroy() {
    std::vector<io_iterator_t> iterators;
    {
      std::lock_guard lock(mutex_);
      iterators.swap(iterators_);
    }
    source_->invalidate();
    if (!platform::hasWindowServer()) return;
    for (io_iterator_t it : iterators) platform::windowServer().releaseIOObject(it);
  }

 private:
  const CFRunLoopSourceRef source_;
  std::mutex mutex_;
  std::vector<io_iterator_t> iterators_;
};

IONotificationPortRef IONotificationPortCreate(mach_port_t) {
  if (!platform::hasWindowServer()) return nullptr;
  return std::make_shared<IONotificationPort>();
}

CFRunLoopSourceRef IONotificationPortGetRunLoopSource(const IONotificationPortRef& port) {
  return port ? port->source() : nullptr;
}

void IONotificationPortDestroy(const IONotificationPortRef& port) {
  if (port) port->destroy();
}

std::optional<platform::PlistDictionary> IOServiceMatching(const std::string& name) {
  if (name.empty()) return std::nullopt;
  return platform::PlistDictionary{{"IOProviderClass", platform::PlistValue(name)}};
}

kern_return_t IOServiceAddMatchingNotification(const IONotificationPortRef& notifyPort,
                                               const std::string& notificationType,
                                               const std::optional<platform::PlistDictionary>& matching,
                                               IOServiceMatchingCallback callback, void* refCon,
                                               io_iterator_t* notification) {
  if (!notifyPort || !notification || !callback || notificationType != kIOFirstMatchNotification || !matching) {
    return kIOReturnBadArgument;
  }
  const auto className = platform::stringEntry(*matching, "IOProviderClass");
  if (!className || className->empty()) return kIOReturnBadArgument;
  return notifyPort->add(*className, std::move(callback), refCon, notification);
}

io_object_t IOIteratorNext(io_iterator_t iterator) {
  if (iterator == 0) return 0;
  return platform::windowServer().nextMatchedService(iterator);
}

kern_return_t IOObjectRelease(io_object_t object) {
  if (object == 0) return kIOReturnBadArgument;
  platform::windowServer().releaseIOObject(object);
  return KERN_SUCCESS;
}
