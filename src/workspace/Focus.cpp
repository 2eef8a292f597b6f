#include "workspace/Focus.h"

#include <array>
#include <map>
#include <mutex>

#include "platform/AppKitWindows.h"
#include "platform/Clock.h"
#include "platform/OncePerSystem.h"
#include "workspace/Minimized.h"
#include "workspace/Private.h"
#include "workspace/Recency.h"
#include "workspace/UnpublishedFunctions.h"
#include "workspace/Unresponsive.h"

namespace trelliq {

namespace {

constexpr std::size_t kRecordSize = 0xF8;
constexpr std::uint32_t kFrontProcessOptions = 0x200;
constexpr std::uint32_t kTokenMagic = 0x636F636F;
constexpr std::uint64_t kScanLimit = 2000;
constexpr double kScanSeconds = 1.0;
constexpr float kTokenElementTimeout = 0.05f;
constexpr float kFocusedWindowTimeout = 0.25f;

void putLittleEndian(std::uint8_t* at, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

/// The focus record the front process is sent after the window server brought it forward.
std::array<std::uint8_t, kRecordSize> focusRecord(std::uint32_t window) {
  std::array<std::uint8_t, kRecordSize> record{};
  record[0x04] = static_cast<std::uint8_t>(kRecordSize);
  for (std::size_t i = 0x20; i < 0x30; ++i) record[i] = 0xFF;
  record[0x3A] = 0x10;
  putLittleEndian(&record[0x3C], window, 4);
  return record;
}

/// The element a remote token with this element id stands for, when it is `window`.
AXUIElementRef tryElementID(AXUIElementCreateWithRemoteToken_t* create, platform::PlistData& token,
                            std::uint64_t elementID, std::uint32_t window) {
  putLittleEndian(&token[12], elementID, 8);
  AXUIElementRef element = create(token);
  if (!element) return nullptr;
  AXUIElementSetMessagingTimeout(element, kTokenElementTimeout);
  auto number = Private::windowID(element);
  return number == window ? element : nullptr;
}

// Window number -> element id, for the installed system (ids of an earlier system mean
// nothing here); entries are only added or overwritten. Guarded by the lock, which is
// never held while an element is made or asked anything.
struct ElementIDs {
  std::mutex lock;
  std::map<std::uint32_t, std::uint64_t> ids;
};

ElementIDs& elementIDs() {
  static auto& all = *new platform::OncePerSystem<ElementIDs>();
  return all.get();
}

}  // namespace

bool Private::focus(std::int32_t pid, std::uint32_t window) {
  auto* setFrontProcess = UnpublishedFunctions::setFrontProcess();
  auto* postEventRecord = UnpublishedFunctions::postEventRecord();
  auto* getProcessForPID = UnpublishedFunctions::getProcessForPID();
  if (!setFrontProcess || !postEventRecord || !getProcessForPID) return false;
  ProcessSerialNumber psn{};
  if (getProcessForPID(pid, &psn) != 0) return false;
  if (setFrontProcess(&psn, window, kFrontProcessOptions) != 0) return false;
  auto record = focusRecord(window);
  record[0x08] = 1;
  postEventRecord(&psn, record.data());
  record[0x08] = 2;
  postEventRecord(&psn, record.data());
  return true;
}

std::optional<std::uint64_t> Private::cachedElementID(std::uint32_t window) {
  ElementIDs& known = elementIDs();
  std::lock_guard lock(known.lock);
  auto found = known.ids.find(window);
  if (found == known.ids.end()) return std::nullopt;
  return found->second;
}

AXUIElementRef Private::axElement(std::int32_t pid, std::uint32_t window) {
  auto* create = UnpublishedFunctions::createWithRemoteToken();
  if (!create) return nullptr;
  platform::PlistData token(20, 0);
  putLittleEndian(&token[0], static_cast<std::uint32_t>(pid), 4);
  putLittleEndian(&token[8], kTokenMagic, 4);

  if (auto cached = cachedElementID(window)) {
    if (auto element = tryElementID(create, token, *cached, window)) return element;
  }

  const double deadline = platform::clock().monotonicSeconds() + kScanSeconds;
  for (std::uint64_t id = 0; id < kScanLimit; ++id) {
    if (platform::clock().monotonicSeconds() >= deadline) break;
    if (auto element = tryElementID(create, token, id, window)) {
      ElementIDs& known = elementIDs();
      std::lock_guard lock(known.lock);
      known.ids[window] = id;
      return element;
    }
  }
  return nullptr;
}

std::optional<AXValue> axAttr(const AXUIElementRef& element, const std::string& name) {
  AXValue value;
  if (!element || AXUIElementCopyAttributeValue(element, name, &value) != kAXErrorSuccess) return std::nullopt;
  if (value.isNull()) return std::nullopt;
  return value;
}

std::optional<std::uint32_t> focusedWindowID(std::int32_t pid) {
  AXUIElementRef app = AXUIElementCreateApplication(pid);
  AXUIElementSetMessagingTimeout(app, kFocusedWindowTimeout);
  for (const char* attribute : {kAXFocusedWindowAttribute, kAXMainWindowAttribute}) {
    // An app that just ran out a timeout (its window list, or the first question here)
    // is not asked again for a while.
    auto value = Unresponsive::attribute(app, attribute);
    AXUIElementRef window = value ? value->asElement() : nullptr;
    if (!window) continue;
    if (auto number = Private::windowID(window)) return number;
  }
  return std::nullopt;
}

namespace {

void activateOwnWindow(const AppInfo& app, std::optional<std::uint32_t> number) {
  if (!number) return;
  NSApplication& application = NSApplication::shared();
  NSWindow* window = application.windowWithWindowNumber(*number);
  if (!window) return;
  if (window->isMiniaturized()) window->deminiaturize(nullptr);
  Private::focus(app.id, *number);
  application.activate();
  window->makeKeyAndOrderFront(nullptr);
}

}  // namespace

void activate(const AppInfo& app, const std::optional<WindowInfo>& window) {
  if (!window) {
    if (const auto& url = app.app.bundleURL()) {
      NSWorkspaceOpenConfiguration configuration;
      configuration.activates = true;
      NSWorkspace::shared().openApplication(*url, configuration);
    }
    return;
  }

  const std::optional<std::uint32_t> number = window->windowID;
  if (number) Recency::shared().touch(*number, true);

  if (app.id == NSProcessInfo::processInfo().processIdentifier()) {
    activateOwnWindow(app, number);
    return;
  }

  if (app.app.isHidden()) app.app.unhide();
  AXUIElementRef element = window->element;
  if (!element && number) {
    element = Minimized::element(*number);
    if (!element) element = Private::axElement(app.id, *number);
  }
  if (window->minimized && element) AXUIElementSetAttributeValue(element, kAXMinimizedAttribute, AXValue(false));
  const bool focused = number && Private::focus(app.id, *number);
  if (element) {
    AXUIElementSetAttributeValue(element, kAXMainAttribute, AXValue(true));
    AXUIElementPerformAction(element, kAXRaiseAction);
    if (focused) return;
  }
  app.app.activate(0);
  AXUIElementSetAttributeValue(AXUIElementCreateApplication(app.id), kAXFrontmostAttribute, AXValue(true));
}

}  // namespace trelliq
