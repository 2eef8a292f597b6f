// The accessibility and event halves of the port, handed to the attached services.

#include "platform/sim/WindowServer.h"

namespace sim {

platform::AXAnswer WindowServer::axCopyAttribute(AXElementID element, const std::string& attribute, double timeout) {
  if (!accessibility_) return {kAXErrorCannotComplete, {}};
  return accessibility_->copyAttribute(element, attribute, timeout);
}

AXError WindowServer::axSetAttribute(AXElementID element, const std::string& attribute, const AXValue& value,
                                     double timeout) {
  if (!accessibility_) return kAXErrorCannotComplete;
  return accessibility_->setAttribute(element, attribute, value, timeout);
}

AXError WindowServer::axPerformAction(AXElementID element, const std::string& action, double timeout) {
  if (!accessibility_) return kAXErrorCannotComplete;
  return accessibility_->performAction(element, action, timeout);
}

std::pair<AXError, std::uint64_t> WindowServer::axCreateObserver(
    std::int32_t pid, std::function<void(AXElementID, const std::string&)> deliver) {
  if (!accessibility_) return {kAXErrorFailure, 0};
  return accessibility_->createObserver(pid, std::move(deliver));
}

AXError WindowServer::axAddNotification(std::uint64_t observer, AXElementID element, const std::string& notification) {
  if (!accessibility_) return kAXErrorInvalidUIElementObserver;
  return accessibility_->addNotification(observer, element, notification);
}

AXError WindowServer::axRemoveNotification(std::uint64_t observer, AXElementID element,
                                           const std::string& notification) {
  if (!accessibility_) return kAXErrorInvalidUIElementObserver;
  return accessibility_->removeNotification(observer, element, notification);
}

void WindowServer::axDestroyObserver(std::uint64_t observer) {
  if (accessibility_) accessibility_->destroyObserver(observer);
}

bool WindowServer::listenEventAccess() { return events_ && events_->listenEventAccess(); }

bool WindowServer::postEventAccess() { return events_ && events_->postEventAccess(); }

void WindowServer::postEvent(CGEventTapLocation tap, const CGEvent& event) {
  if (events_) events_->postEvent(tap, event);
}

std::optional<std::uint64_t> WindowServer::createEventTap(const platform::EventTapRequest& request,
                                                          platform::EventTapHandler handler) {
  if (!events_) return std::nullopt;
  return events_->createEventTap(request, std::move(handler), ownProcessIdentifier());
}

void WindowServer::setEventTapEnabled(std::uint64_t tap, bool enabled) {
  if (events_) events_->setEventTapEnabled(tap, enabled);
}

bool WindowServer::isEventTapEnabled(std::uint64_t tap) { return events_ && events_->isEventTapEnabled(tap); }

void WindowServer::removeEventTap(std::uint64_t tap) {
  if (events_) events_->removeEventTap(tap);
}

std::optional<std::uint32_t> WindowServer::addServiceMatching(const std::string& className,
                                                              std::function<void()> arrived) {
  if (!events_) return std::nullopt;
  return events_->addServiceMatching(className, std::move(arrived));
}

std::uint32_t WindowServer::nextMatchedService(std::uint32_t iterator) {
  return events_ ? events_->nextMatchedService(iterator) : 0;
}

void WindowServer::releaseIOObject(std::uint32_t object) {
  if (events_) events_->releaseIOObject(object);
}

}  // namespace sim
