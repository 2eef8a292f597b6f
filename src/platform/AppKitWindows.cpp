#include "platform/AppKitWindows.h"

#include <algorithm>
#include <cctype>
#include <deque>
#include <mutex>

#include "platform/AppKitAppearance.h"
#include "platform/AppKitMenuWindows.h"
#include "platform/AppKitPointer.h"
#include "platform/FoundationProcesses.h"
#include "platform/OwnWindowSurface.h"
#include "platform/SystemPort.h"
#include "platform/WindowFrame.h"
#include "platform/WindowServerPort.h"

namespace {

using platform::kTitleBarHeight;
constexpr NSWindowStyleMask kFullScreenBit = NSWindowStyleMaskFullScreen;

/// The unshifted text of a key on a US layout; empty for keys without text.
std::string usKeyText(std::uint16_t keyCode) {
  static const char* const kKeys[] = {"a",  "s", "d", "f", "h", "g", "z",  "x", "c",  "v",    "",  "b",   "q", "w",
                                      "e",  "r", "y", "t", "1", "2", "3",  "4", "6",  "5",    "=", "9",   "7", "-",
                                      "8",  "0", "]", "o", "u", "[", "i",  "p", "\r", "l",    "j", "'",   "k", ";",
                                      "\\", ",", "/", "n", "m", ".", "\t", " ", "`",  "\x7f", "",  "\x1b"};
  if (keyCode >= std::size(kKeys)) return "";
  return kKeys[keyCode];
}

std::string utf8(const std::u16string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

double firstScreenMaxY() {
  auto screens = NSScreen::screens();
  return screens.empty() ? 0 : screens.front().frame().maxY();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// NSEvent

NSEvent::NSEvent(const CGEvent& event, std::int64_t windowNumber) {
  type_ = static_cast<NSEventType>(event.type);
  modifierFlags_ = event.flags & NSEventModifierFlagDeviceIndependentFlagsMask;
  if (auto it = event.integerFields.find(kCGKeyboardEventKeycode); it != event.integerFields.end()) {
    keyCode_ = static_cast<std::uint16_t>(it->second);
  } else if (auto d = event.doubleFields.find(kCGKeyboardEventKeycode); d != event.doubleFields.end()) {
    keyCode_ = static_cast<std::uint16_t>(d->second);
  }
  if (auto it = event.integerFields.find(kCGKeyboardEventAutorepeat); it != event.integerFields.end())
    isARepeat_ = it->second != 0;
  characters_ = utf8(event.unicode);
  charactersIgnoringModifiers_ = usKeyText(keyCode_);
  if (charactersIgnoringModifiers_.empty()) {
    charactersIgnoringModifiers_ = characters_;
    for (char& c : charactersIgnoringModifiers_) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  windowNumber_ = windowNumber;
  location_ = event.location;
  if (type_ == NSEventType::scrollWheel) {
    const auto integer = [&](CGEventField field) -> double {
      auto it = event.integerFields.find(field);
      return it == event.integerFields.end() ? 0 : static_cast<double>(it->second);
    };
    const auto real = [&](CGEventField field) -> double {
      auto it = event.doubleFields.find(field);
      return it == event.doubleFields.end() ? integer(field) : it->second;
    };
    precise_ = integer(kCGScrollWheelEventIsContinuous) != 0;
    scrollY_ = precise_ ? real(kCGScrollWheelEventPointDeltaAxis1) : integer(kCGScrollWheelEventDeltaAxis1);
    scrollX_ = precise_ ? real(kCGScrollWheelEventPointDeltaAxis2) : integer(kCGScrollWheelEventDeltaAxis2);
  }
}

NSEvent NSEvent::keyEvent(NSEventType type, NSEventModifierFlags modifierFlags, std::string characters,
                          std::string charactersIgnoringModifiers, bool isARepeat, std::uint16_t keyCode,
                          std::int64_t windowNumber) {
  NSEvent e;
  e.type_ = type;
  e.modifierFlags_ = modifierFlags;
  e.characters_ = std::move(characters);
  e.charactersIgnoringModifiers_ = std::move(charactersIgnoringModifiers);
  e.isARepeat_ = isARepeat;
  e.keyCode_ = keyCode;
  e.windowNumber_ = windowNumber;
  return e;
}

CGPoint NSEvent::mouseLocation() {
  if (!platform::hasWindowServer()) return {};
  return platform::flipPoint(platform::windowServer().pointerLocation(), firstScreenMaxY());
}

// ---------------------------------------------------------------------------------------------
// The application's bookkeeping

struct NSApplication::State {
  std::vector<NSWindow*> windows;
  NSWindow* key = nullptr;
  NSWindow* main = nullptr;
  std::optional<NSApplicationActivationPolicy> policy;
  CGImageRef icon;
  bool automatic = true;
  NSApplicationDelegate* delegate = nullptr;
  std::mutex queueMutex;  // routed events arrive from the server's threads
  std::deque<NSEvent> queue;
};

struct NSWindow::State {
  CGRect frame;  // screen coordinates, as last set by the program
  NSWindowStyleMask style = 0;
  NSWindowLevel level = NSNormalWindowLevel;
  double alpha = 1;
  NSWindowCollectionBehavior behavior = 0;
  std::string title;
  bool opaque = true;
  platform::GlassStyle glass = platform::GlassStyle::regular;
  std::uint32_t background = 0xFFECECEC;
  bool shadow = true;
  bool oneShot = false;
  bool ignoresMouse = false;
  bool acceptsMouseMoved = false;
  bool hidesOnDeactivate = false;
  bool released = true;
  QWidget* content = nullptr;
  NSWindowDelegate* delegate = nullptr;
  bool panel = false;
  std::uint32_t number = 0;
  std::uint64_t server = 0;  // the windowServerGeneration `number` belongs to
  bool fullScreenWanted = false;
  bool miniaturizeWanted = false;
  NSResponder* firstResponder = nullptr;  // null: the window itself
  /// What the window server shows of the window: its content view, published as it changes.
  std::shared_ptr<platform::OwnWindowSurface> surface = std::make_shared<platform::OwnWindowSurface>();
};

namespace {

platform::OwnWindowState serverState(const NSWindow::State& s, const std::vector<NSScreen>& screens) {
  platform::OwnWindowState o;
  o.frame = platform::flipRect(s.frame, screens.empty() ? 0 : screens.front().frame().maxY());
  o.level = s.level;
  o.alpha = s.alpha;
  o.styleMask = (s.style & ~kFullScreenBit) | (s.fullScreenWanted ? kFullScreenBit : 0);
  o.collectionBehavior = s.behavior;
  o.title = s.title;
  o.opaque = s.opaque;
  o.glass = s.glass;
  o.hasShadow = s.shadow;
  o.ignoresMouseEvents = s.ignoresMouse;
  o.miniaturized = s.miniaturizeWanted;
  return o;
}

/// Pixels per point of the screen holding most of `frame` (1 on none).
double backingScale(const CGRect& frame, const std::vector<NSScreen>& screens) {
  double best = 0, scale = 1;
  for (const NSScreen& screen : screens) {
    const CGRect i = screen.frame().intersection(frame);
    const double area = i.isNull() ? 0 : i.width() * i.height();
    if (area > best) {
      best = area;
      scale = screen.backingScaleFactor();
    }
  }
  return scale;
}

// A titled window's view (or a one-shot window's) does nothing while nobody can see it,
// and is drawn again before the window comes back.
void keepStill(NSWindow::State& s) {
  s.surface->setStopsWhenOut((s.style & NSWindowStyleMaskTitled) != 0 || s.oneShot);
  // A one-shot window is shown briefly and drawn whole, a titled one changes in parts:
  // neither keeps a copy of its pixels beside its surface.
  s.surface->setDrawsInPlace(s.oneShot);
  s.surface->setDrawsOver((s.style & NSWindowStyleMaskTitled) != 0 && !s.oneShot);
}

/// The window's number in the window server installed now; 0 when it has none there: not
/// yet ordered in, or made in a server another has replaced since (a window the program
/// keeps for its whole life, while a test's world comes and goes).
std::uint32_t numberHere(const NSWindow::State& s) {
  return s.number && s.server == platform::windowServerGeneration() && platform::hasWindowServer() ? s.number : 0;
}

std::optional<platform::OwnWindowStatus> statusOf(const NSWindow::State& s) {
  if (!numberHere(s)) return std::nullopt;
  return platform::windowServer().ownWindowStatus(s.number);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// NSWindow

NSWindow::NSWindow(CGRect contentRect, NSWindowStyleMask style, NSBackingStoreType backing, bool defer,
                   const NSScreen* screen)
    : state_(std::make_unique<State>()) {
  CGRect frame = contentRect;
  if (screen) {
    frame.origin.x += screen->frame().minX();
    frame.origin.y += screen->frame().minY();
  }
  if (style & NSWindowStyleMaskTitled) frame.size.height += kTitleBarHeight;
  state_->frame = frame;
  state_->style = style & ~kFullScreenBit;
  keepStill(*state_);
  NSApp().state().windows.push_back(this);
}

NSWindow::~NSWindow() {
  NSApplication::State& app = NSApp().state();
  std::erase(app.windows, this);
  if (app.key == this) app.key = nullptr;
  if (app.main == this) app.main = nullptr;
  state_->surface->attach(0);
  if (numberHere(*state_)) platform::windowServer().destroyOwnWindow(state_->number);
}

std::int64_t NSWindow::windowNumber() const { return numberHere(*state_); }

CGRect NSWindow::frame() const {
  if (auto status = statusOf(*state_)) return platform::flipRect(status->frame, firstScreenMaxY());
  return state_->frame;
}

namespace {

void push(NSWindow::State& s) {
  if (!numberHere(s)) return;
  const std::vector<NSScreen> screens = NSScreen::screens();
  platform::windowServer().updateOwnWindow(s.number, serverState(s, screens));
  s.surface->setScale(backingScale(s.frame, screens));
}

}  // namespace

CGRect NSWindow::contentRectForFrameRect(CGRect frame) const {
  const NSWindowStyleMask style = styleMask();
  if (!(style & NSWindowStyleMaskTitled) || (style & (NSWindowStyleMaskFullScreen | NSWindowStyleMaskFullSizeContentView)))
    return frame;
  return CGRect(frame.minX(), frame.minY(), frame.width(), std::max(0.0, frame.height() - kTitleBarHeight));
}

void NSWindow::setFrame(CGRect frame, bool display) {
  state_->frame = frame;
  push(*state_);
}

NSWindowLevel NSWindow::level() const { return state_->level; }

void NSWindow::setLevel(NSWindowLevel level) {
  state_->level = level;
  push(*state_);
}

double NSWindow::alphaValue() const { return state_->alpha; }

void NSWindow::setAlphaValue(double alpha) {
  state_->alpha = std::clamp(alpha, 0.0, 1.0);
  push(*state_);
}

NSWindowStyleMask NSWindow::styleMask() const {
  auto status = statusOf(*state_);
  const bool full = status ? status->fullScreen : false;
  return (state_->style & ~kFullScreenBit) | (full ? kFullScreenBit : 0);
}

void NSWindow::setStyleMask(NSWindowStyleMask style) {
  state_->style = style & ~kFullScreenBit;
  keepStill(*state_);
  push(*state_);
}

bool NSWindow::isOneShot() const { return state_->oneShot; }

void NSWindow::setOneShot(bool oneShot) {
  state_->oneShot = oneShot;
  keepStill(*state_);
}

NSWindowCollectionBehavior NSWindow::collectionBehavior() const { return state_->behavior; }

void NSWindow::setCollectionBehavior(NSWindowCollectionBehavior behavior) {
  state_->behavior = behavior;
  push(*state_);
}

const std::string& NSWindow::title() const { return state_->title; }

void NSWindow::setTitle(std::string title) {
  state_->title = std::move(title);
  push(*state_);
}

bool NSWindow::isOpaque() const { return state_->opaque; }

void NSWindow::setOpaque(bool opaque) {
  state_->opaque = opaque;
  state_->surface->setOpaque(opaque);
  push(*state_);
}

bool NSGlassEffectView::respondsToSelector(const std::string& selector) const {
  return platform::hasSystem() && platform::system().glassEffectViewResponds(selector);
}

platform::GlassStyle NSWindow::glassStyle() const { return state_->glass; }

void NSWindow::setGlassStyle(platform::GlassStyle style) {
  if (state_->glass == style) return;
  state_->glass = style;
  push(*state_);
}

std::uint32_t NSWindow::backgroundColor() const { return state_->background; }

void NSWindow::setBackgroundColor(std::uint32_t argb) { state_->background = argb; }

bool NSWindow::hasShadow() const { return state_->shadow; }

void NSWindow::setHasShadow(bool hasShadow) {
  state_->shadow = hasShadow;
  push(*state_);
}

bool NSWindow::ignoresMouseEvents() const { return state_->ignoresMouse; }

void NSWindow::setIgnoresMouseEvents(bool ignores) {
  state_->ignoresMouse = ignores;
  push(*state_);
}

bool NSWindow::acceptsMouseMovedEvents() const { return state_->acceptsMouseMoved; }

void NSWindow::setAcceptsMouseMovedEvents(bool accepts) { state_->acceptsMouseMoved = accepts; }

bool NSWindow::hidesOnDeactivate() const { return state_->hidesOnDeactivate; }

void NSWindow::setHidesOnDeactivate(bool hides) { state_->hidesOnDeactivate = hides; }

bool NSWindow::isReleasedWhenClosed() const { return state_->released; }

void NSWindow::setReleasedWhenClosed(bool released) { state_->released = released; }

QWidget* NSWindow::contentView() const { return state_->content; }

void NSWindow::setContentView(QWidget* view) {
  if (view) platform::applyAppearancePalette();
  state_->content = view;
  state_->surface->setContent(view);
}

void NSWindow::displayIfNeeded() { state_->surface->publishNow(); }

NSWindowDelegate* NSWindow::delegate() const { return state_->delegate; }

void NSWindow::setDelegate(NSWindowDelegate* delegate) { state_->delegate = delegate; }

bool NSWindow::isVisible() const {
  auto status = statusOf(*state_);
  return status && status->orderedIn;
}

bool NSWindow::isMiniaturized() const {
  auto status = statusOf(*state_);
  return status && status->miniaturized;
}

bool NSWindow::isOnActiveSpace() const {
  auto status = statusOf(*state_);
  return status && status->onActiveSpace;
}

NSWindowOcclusionState NSWindow::occlusionState() const {
  auto status = statusOf(*state_);
  return status && status->occlusionVisible ? NSWindowOcclusionStateVisible : 0;
}

std::optional<NSScreen> NSWindow::screen() const {
  const CGRect f = frame();
  std::optional<NSScreen> best;
  double bestArea = 0;
  for (const NSScreen& s : NSScreen::screens()) {
    const CGRect i = s.frame().intersection(f);
    const double area = i.isNull() ? 0 : i.width() * i.height();
    if (area > bestArea) {
      bestArea = area;
      best = s;
    }
  }
  return best;
}

bool NSWindow::isKeyWindow() const { return NSApp().state().key == this; }

bool NSWindow::isMainWindow() const { return NSApp().state().main == this; }

bool NSWindow::canBecomeKeyWindow() const {
  return (state_->style & NSWindowStyleMaskTitled) || (state_->style & NSWindowStyleMaskResizable);
}

bool NSWindow::canBecomeMainWindow() const { return !state_->panel && canBecomeKeyWindow(); }

bool NSWindow::_hasActiveAppearance() const { return (isKeyWindow() || isMainWindow()) && NSApp().isActive(); }

bool NSWindow::_hasActiveAppearanceIgnoringKeyFocus() const {
  return (isKeyWindow() || isMainWindow()) && NSApp().isActive();
}

bool NSWindow::_hasKeyAppearance() const { return isKeyWindow() && NSApp().isActive(); }

namespace {

void order(NSWindow::State& s, platform::OwnWindowOrder how) {
  const bool out = how == platform::OwnWindowOrder::out;
  if (!out) s.surface->setOrderedIn(true);
  if (platform::hasWindowServer()) {
    platform::WindowServerPort& server = platform::windowServer();
    if (!numberHere(s) && !out) {
      const std::vector<NSScreen> screens = NSScreen::screens();
      s.number = server.createOwnWindow(serverState(s, screens));
      if (s.number) {  // 0: refused (the program has as many windows as it may), so it stays unshown
        s.server = platform::windowServerGeneration();
        s.surface->setScale(backingScale(s.frame, screens));
        s.surface->attach(s.number);
      }
    }
    if (numberHere(s)) server.orderOwnWindow(s.number, how);
  }
  if (out) s.surface->setOrderedIn(false);
}

}  // namespace

void NSWindow::orderFront(NSResponder* sender) { order(*state_, platform::OwnWindowOrder::front); }

void NSWindow::orderFrontRegardless() { order(*state_, platform::OwnWindowOrder::frontRegardless); }

void NSWindow::orderBack(NSResponder* sender) { order(*state_, platform::OwnWindowOrder::back); }

void NSWindow::orderOut(NSResponder* sender) {
  order(*state_, platform::OwnWindowOrder::out);
  NSApplication::State& app = NSApp().state();
  if (app.key != this) return;
  app.key = nullptr;
  if (platform::hasWindowServer()) platform::windowServer().setOwnKeyWindow(0);
  if (state_->delegate) state_->delegate->windowDidResignKey(*this);
  // The program's front-most ordinary window left takes the keyboard, as long as the
  // program is in front: the guide closed or put away over Preferences leaves Preferences
  // key. Windows above the normal level (status items, menus, panels) never take it so,
  // though they lie in front.
  if (!NSApp().isActive() || !platform::hasWindowServer()) return;
  platform::WindowServerPort& server = platform::windowServer();
  const std::int32_t own = server.ownProcessIdentifier();
  for (const platform::WindowEntry& e : server.windowList()) {  // front to back
    NSWindow* next = e.ownerPID == own && e.onScreen && e.layer == NSNormalWindowLevel
                         ? NSApp().windowWithWindowNumber(e.number)
                         : nullptr;
    if (!next || next == this || !next->isVisible() || !next->canBecomeKeyWindow()) continue;
    next->makeKeyWindow();
    return;
  }
}

void NSWindow::makeKeyWindow() {
  if (!canBecomeKeyWindow()) return;
  NSApplication::State& app = NSApp().state();
  if (app.key == this) return;
  if (NSWindow* previous = app.key) {
    app.key = nullptr;
    if (previous->delegate()) previous->delegate()->windowDidResignKey(*previous);
  }
  app.key = this;
  if (numberHere(*state_)) platform::windowServer().setOwnKeyWindow(state_->number);
  if (state_->delegate) state_->delegate->windowDidBecomeKey(*this);
  NSNotificationCenter::defaultCenter().post({NSWindowDidBecomeKeyNotification, this, std::nullopt});
}

void NSWindow::makeKeyAndOrderFront(NSResponder* sender) {
  orderFront(sender);
  makeKeyWindow();
}

void NSWindow::makeMainWindow() {
  if (canBecomeMainWindow()) NSApp().state().main = this;
}

void NSWindow::close() {
  if (state_->delegate) state_->delegate->windowWillClose(*this);
  orderOut(nullptr);
  NSApplication::State& app = NSApp().state();
  if (app.main == this) app.main = nullptr;
}

void NSWindow::performClose(NSResponder* sender) {
  if (state_->delegate && !state_->delegate->windowShouldClose(*this)) return;
  close();
}

void NSWindow::miniaturize(NSResponder* sender) {
  state_->miniaturizeWanted = true;
  push(*state_);
}

void NSWindow::deminiaturize(NSResponder* sender) {
  state_->miniaturizeWanted = false;
  push(*state_);
}

void NSWindow::toggleFullScreen(NSResponder* sender) {
  auto status = statusOf(*state_);
  state_->fullScreenWanted = !(status && status->fullScreen);
  push(*state_);
}

NSResponder* NSWindow::firstResponder() const {
  return state_->firstResponder ? state_->firstResponder : const_cast<NSWindow*>(this);
}

bool NSWindow::makeFirstResponder(NSResponder* responder) {
  NSResponder* before = state_->firstResponder;
  if (!responder || responder == this) {
    state_->firstResponder = nullptr;
    platform::moveTextFocus(before, nullptr);
    return true;
  }
  if (!responder->acceptsFirstResponder()) return false;
  state_->firstResponder = responder;
  if (responder != before) platform::moveTextFocus(before, responder);
  return true;
}

bool NSWindow::performKeyEquivalent(const NSEvent& event) {
  // The views from the first responder outwards get the first look; the window itself ends the walk.
  for (NSResponder* r = state_->firstResponder; r && r != this; r = r->nextResponder()) {
    if (r->performKeyEquivalent(event)) return true;
  }
  return false;
}

void NSWindow::markAsPanel() {
  state_->panel = true;
  state_->hidesOnDeactivate = true;
}

// ---------------------------------------------------------------------------------------------
// NSApplication

NSApplication::NSApplication() : state_(std::make_unique<State>()) {}

NSApplication& NSApplication::shared() {
  static NSApplication* app = new NSApplication();  // lives as long as the process, as windows refer to it
  return *app;
}

NSWindow* NSApplication::keyWindow() const { return state_->key; }

NSWindow* NSApplication::mainWindow() const { return state_->main; }

std::vector<NSWindow*> NSApplication::windows() const { return state_->windows; }

NSWindow* NSApplication::windowWithWindowNumber(std::int64_t windowNumber) const {
  if (windowNumber <= 0) return nullptr;
  for (NSWindow* w : state_->windows) {
    if (w->windowNumber() == windowNumber) return w;
  }
  return nullptr;
}

bool NSApplication::isActive() const {
  if (!platform::hasWindowServer()) return false;
  platform::WindowServerPort& server = platform::windowServer();
  return server.frontmostApplication() == server.ownProcessIdentifier();
}

void NSApplication::activate() {
  if (!platform::hasWindowServer()) return;
  platform::WindowServerPort& server = platform::windowServer();
  server.activateApplication(server.ownProcessIdentifier(), NSApplicationActivateIgnoringOtherApps);
}

void NSApplication::hide(NSResponder* sender) {
  if (!platform::hasWindowServer()) return;
  platform::WindowServerPort& server = platform::windowServer();
  server.hideApplication(server.ownProcessIdentifier());
}

NSApplicationActivationPolicy NSApplication::activationPolicy() const {
  if (state_->policy) return *state_->policy;
  if (platform::hasWindowServer()) {
    platform::WindowServerPort& server = platform::windowServer();
    if (auto info = server.application(server.ownProcessIdentifier())) return info->activationPolicy;
  }
  return NSApplicationActivationPolicyRegular;
}

bool NSApplication::setActivationPolicy(NSApplicationActivationPolicy policy) {
  state_->policy = policy;
  return true;
}

CGImageRef NSApplication::applicationIconImage() const { return state_->icon; }

void NSApplication::setApplicationIconImage(CGImageRef image) { state_->icon = std::move(image); }

namespace {

bool performAlong(NSWindow* window, const SEL& action, NSResponder* sender) {
  if (!window) return false;
  NSResponder* first = window->firstResponder();
  if (first->tryToPerform(action, sender)) return true;
  // A view's chain need not lead back to its window; the window still has its say.
  for (NSResponder* r = first; r; r = r->nextResponder()) {
    if (r == window) return false;
  }
  return window->tryToPerform(action, sender);
}

}  // namespace

bool NSApplication::sendAction(const SEL& action, NSResponder* target, NSResponder* sender) {
  if (target) {
    if (!target->respondsToAction(action)) return false;
    target->performAction(action, sender);
    return true;
  }
  if (performAlong(state_->key, action, sender)) return true;
  return state_->main != state_->key && performAlong(state_->main, action, sender);
}

void NSApplication::sendEvent(const NSEvent& event) {
  if (platform::isPointerEvent(event.type())) {
    if (platform::routeToOpenMenu(event)) return;
    NSWindow* window = windowWithWindowNumber(event.windowNumber());
    if (!window) return;
    // A press on an ordinary window brings it forward with the keyboard, as the window
    // server brought the program forward for it.
    const bool press = event.type() == NSEventType::leftMouseDown || event.type() == NSEventType::rightMouseDown;
    if (press && window->level() == NSNormalWindowLevel && window->canBecomeKeyWindow() && !window->isKeyWindow())
      window->makeKeyAndOrderFront(nullptr);
    platform::deliverToWindow(*window, event);
    return;
  }
  if (event.type() != NSEventType::keyDown) return;  // responders here take key downs only
  if (platform::routeKeyToOpenMenu(event)) return;
  NSWindow* key = state_->key;
  if (!key) return;
  if (event.modifierFlags() & NSEventModifierFlagCommand) {
    if (key->performKeyEquivalent(event)) return;
  }
  key->firstResponder()->keyDown(event);
}

NSApplicationDelegate* NSApplication::delegate() const { return state_->delegate; }

void NSApplication::setDelegate(NSApplicationDelegate* delegate) { state_->delegate = delegate; }

void NSApplication::terminate(NSResponder* sender) {
  NSApplicationDelegate* delegate = state_->delegate;
  if (delegate && delegate->applicationShouldTerminate(*this) == NSApplicationTerminateReply::terminateCancel) return;
  if (delegate) delegate->applicationWillTerminate();
  platform::exitProgram(0);
}

void NSApplication::finishLaunching() {
  platform::applyAppearancePalette();
  if (platform::hasSystem()) {
    platform::system().setAppleEventListener([](const platform::AppleEvent& event) {
      platform::mainQueue().async([event] {
        NSAppleEventManager::shared().dispatch(event, [&] {
          if (event.eventClass == kCoreEventClass && event.eventID == kAEQuitApplication) NSApp().terminate(nullptr);
        });
      });
    });
  }
  if (!platform::hasWindowServer()) return;
  platform::windowServer().setOwnEventListener([](const CGEvent& event, std::uint32_t windowNumber) {
    NSEvent routed(event, windowNumber);
    platform::mainQueue().async([routed] {
      NSApplication& app = NSApp();
      if (app.state().automatic) {
        app.sendEvent(routed);
        return;
      }
      std::lock_guard lock(app.state().queueMutex);
      app.state().queue.push_back(routed);
    });
  });
}

void NSApplication::setDispatchesEventsAutomatically(bool automatic) { state_->automatic = automatic; }

std::optional<NSEvent> NSApplication::nextEvent() {
  std::lock_guard lock(state_->queueMutex);
  if (state_->queue.empty()) return std::nullopt;
  NSEvent e = state_->queue.front();
  state_->queue.pop_front();
  return e;
}
