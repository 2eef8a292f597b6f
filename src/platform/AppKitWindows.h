#pragma once
// The program's own windows and panels, key events, the responder chain and the
// application object. All of it is main-thread only, as in the application kit. A window
// gets its window number from the window server the first time it is ordered in and
// keeps it for its life; its visible state, Space and occlusion are the server's answer.
// Frames are in screen coordinates (bottom-left origin, points).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/AppKit.h"
#include "platform/AppKitWorkspace.h"
#include "platform/CGEvent.h"
#include "platform/Geometry.h"
#include "platform/Image.h"

class QWidget;
class NSWindow;

// ---- Events -----------------------------------------------------------------------------

using NSEventModifierFlags = std::uint64_t;
inline constexpr NSEventModifierFlags NSEventModifierFlagCapsLock = 1 << 16;
inline constexpr NSEventModifierFlags NSEventModifierFlagShift = 1 << 17;
inline constexpr NSEventModifierFlags NSEventModifierFlagControl = 1 << 18;
inline constexpr NSEventModifierFlags NSEventModifierFlagOption = 1 << 19;
inline constexpr NSEventModifierFlags NSEventModifierFlagCommand = 1 << 20;
inline constexpr NSEventModifierFlags NSEventModifierFlagNumericPad = 1 << 21;
inline constexpr NSEventModifierFlags NSEventModifierFlagHelp = 1 << 22;
inline constexpr NSEventModifierFlags NSEventModifierFlagFunction = 1 << 23;
inline constexpr NSEventModifierFlags NSEventModifierFlagDeviceIndependentFlagsMask = 0xFFFF0000;

enum class NSEventType : std::uint32_t {
  leftMouseDown = 1,
  leftMouseUp = 2,
  rightMouseDown = 3,
  rightMouseUp = 4,
  mouseMoved = 5,
  leftMouseDragged = 6,
  rightMouseDragged = 7,
  keyDown = 10,
  keyUp = 11,
  flagsChanged = 12,
  scrollWheel = 22,
  otherMouseDown = 25,
  otherMouseUp = 26,
  otherMouseDragged = 27,
};

/// One event as the application kit hands it to windows and responders. A value.
class NSEvent {
 public:
  /// Built from what the window server routes to the program. The characters are the
  /// event's typed text; the characters ignoring modifiers are the key's unshifted text on
  /// a US layout (the typed text lowercased for keys the layout does not know).
  explicit NSEvent(const CGEvent& event, std::int64_t windowNumber = 0);
  /// A key event (for tests and the event pump).
  static NSEvent keyEvent(NSEventType type, NSEventModifierFlags modifierFlags, std::string characters,
                          std::string charactersIgnoringModifiers, bool isARepeat, std::uint16_t keyCode,
                          std::int64_t windowNumber = 0);

  NSEventType type() const { return type_; }
  NSEventModifierFlags modifierFlags() const { return modifierFlags_; }
  std::uint16_t keyCode() const { return keyCode_; }
  /// UTF-8; empty for events without text.
  const std::string& characters() const { return characters_; }
  const std::string& charactersIgnoringModifiers() const { return charactersIgnoringModifiers_; }
  bool isARepeat() const { return isARepeat_; }
  std::int64_t windowNumber() const { return windowNumber_; }
  /// Global top-left location of the underlying event.
  CGPoint cgLocation() const { return location_; }
  /// A scroll's movement: points for a precise (continuous) scroll, else lines; positive
  /// is up and left, as the wheel rolled away from the user.
  double scrollingDeltaX() const { return scrollX_; }
  double scrollingDeltaY() const { return scrollY_; }
  bool hasPreciseScrollingDeltas() const { return precise_; }

  /// The pointer now, in screen coordinates (bottom-left origin: flipped at the first
  /// screen's maxY). Thread-safe.
  static CGPoint mouseLocation();

 private:
  NSEvent() = default;
  NSEventType type_ = NSEventType::keyDown;
  NSEventModifierFlags modifierFlags_ = 0;
  std::uint16_t keyCode_ = 0;
  std::string characters_;
  std::string charactersIgnoringModifiers_;
  bool isARepeat_ = false;
  std::int64_t windowNumber_ = 0;
  CGPoint location_;
  double scrollX_ = 0;
  double scrollY_ = 0;
  bool precise_ = false;
};

/// `NSMouseInRect` with a non-flipped rectangle: the left and top edges count, the right and bottom do not
/// (a point on the bottom edge belongs to the screen below).
inline bool NSMouseInRect(CGPoint p, const CGRect& r, bool flipped = false) {
  if (flipped) return p.x >= r.minX() && p.x < r.maxX() && p.y >= r.minY() && p.y < r.maxY();
  return p.x >= r.minX() && p.x < r.maxX() && p.y > r.minY() && p.y <= r.maxY();
}

// ---- Responders -------------------------------------------------------------------------

/// An action message such as "cut:", "copy:", "paste:" or "selectAll:".
using SEL = std::string;

/// A link of the responder chain. Views (text fields) subclass it to take actions and keys.
class NSResponder {
 public:
  virtual ~NSResponder() = default;

  NSResponder* nextResponder() const { return nextResponder_; }
  void setNextResponder(NSResponder* responder) { nextResponder_ = responder; }

  /// Whether this responder takes `action`; the default takes none.
  virtual bool respondsToAction(const SEL& action) const { return false; }
  /// Performs an action this responder takes.
  virtual void performAction(const SEL& action, NSResponder* sender) {}
  /// Whether a window may make this its first responder.
  virtual bool acceptsFirstResponder() const { return false; }
  /// Handles a key equivalent; true when it was consumed. The default consumes none.
  virtual bool performKeyEquivalent(const NSEvent& event) { return false; }
  /// A key down not taken as a key equivalent; the default passes it along the chain.
  virtual void keyDown(const NSEvent& event) {
    if (nextResponder_) nextResponder_->keyDown(event);
  }

  /// The first responder from this one along the chain that takes `action` performs it;
  /// true when one did.
  bool tryToPerform(const SEL& action, NSResponder* sender) {
    for (NSResponder* r = this; r; r = r->nextResponder()) {
      if (r->respondsToAction(action)) {
        r->performAction(action, sender);
        return true;
      }
    }
    return false;
  }

 private:
  NSResponder* nextResponder_ = nullptr;
};

// ---- Windows ----------------------------------------------------------------------------

using NSWindowStyleMask = std::uint64_t;
inline constexpr NSWindowStyleMask NSWindowStyleMaskBorderless = 0;
inline constexpr NSWindowStyleMask NSWindowStyleMaskTitled = 1 << 0;
inline constexpr NSWindowStyleMask NSWindowStyleMaskClosable = 1 << 1;
inline constexpr NSWindowStyleMask NSWindowStyleMaskMiniaturizable = 1 << 2;
inline constexpr NSWindowStyleMask NSWindowStyleMaskResizable = 1 << 3;
inline constexpr NSWindowStyleMask NSWindowStyleMaskUtilityWindow = 1 << 4;
inline constexpr NSWindowStyleMask NSWindowStyleMaskNonactivatingPanel = 1 << 7;
inline constexpr NSWindowStyleMask NSWindowStyleMaskFullScreen = 1 << 14;
inline constexpr NSWindowStyleMask NSWindowStyleMaskFullSizeContentView = 1 << 15;

using NSWindowCollectionBehavior = std::uint64_t;
inline constexpr NSWindowCollectionBehavior NSWindowCollectionBehaviorCanJoinAllSpaces = 1 << 0;
inline constexpr NSWindowCollectionBehavior NSWindowCollectionBehaviorMoveToActiveSpace = 1 << 1;
inline constexpr NSWindowCollectionBehavior NSWindowCollectionBehaviorManaged = 1 << 2;
inline constexpr NSWindowCollectionBehavior NSWindowCollectionBehaviorTransient = 1 << 3;
inline constexpr NSWindowCollectionBehavior NSWindowCollectionBehaviorStationary = 1 << 4;
inline constexpr NSWindowCollectionBehavior NSWindowCollectionBehaviorParticipatesInCycle = 1 << 5;
inline constexpr NSWindowCollectionBehavior NSWindowCollectionBehaviorIgnoresCycle = 1 << 6;
inline constexpr NSWindowCollectionBehavior NSWindowCollectionBehaviorFullScreenPrimary = 1 << 7;
inline constexpr NSWindowCollectionBehavior NSWindowCollectionBehaviorFullScreenAuxiliary = 1 << 8;

using NSWindowLevel = std::int32_t;
inline constexpr NSWindowLevel NSNormalWindowLevel = 0;
inline constexpr NSWindowLevel NSFloatingWindowLevel = 3;
inline constexpr NSWindowLevel NSModalPanelWindowLevel = 8;
inline constexpr NSWindowLevel NSMainMenuWindowLevel = 24;
inline constexpr NSWindowLevel NSStatusWindowLevel = 25;
inline constexpr NSWindowLevel NSPopUpMenuWindowLevel = 101;
inline constexpr NSWindowLevel NSScreenSaverWindowLevel = 1000;

enum class NSBackingStoreType { retained = 0, nonretained = 1, buffered = 2 };

using NSWindowOcclusionState = std::uint64_t;
inline constexpr NSWindowOcclusionState NSWindowOcclusionStateVisible = 1 << 1;

/// Hooks a window's owner may set; a window does not own its delegate.
class NSWindowDelegate {
 public:
  virtual ~NSWindowDelegate() = default;
  /// Asked by performClose; false keeps the window open.
  virtual bool windowShouldClose(NSWindow& window) { return true; }
  virtual void windowWillClose(NSWindow& window) {}
  virtual void windowDidBecomeKey(NSWindow& window) {}
  virtual void windowDidResignKey(NSWindow& window) {}
};

class NSWindow : public NSResponder {
 public:
  /// A window of `contentRect` (screen coordinates; with a screen, relative to that
  /// screen's frame origin); titled windows add a 28-point title bar above it. It is not
  /// ordered in, so it has no window number yet. `backing` and `defer` are kept for shape.
  NSWindow(CGRect contentRect, NSWindowStyleMask style, NSBackingStoreType backing, bool defer,
           const NSScreen* screen = nullptr);
  ~NSWindow() override;
  NSWindow(const NSWindow&) = delete;
  NSWindow& operator=(const NSWindow&) = delete;

  /// The server's number for the window, 0 until it is first ordered in.
  std::int64_t windowNumber() const;

  CGRect frame() const;
  /// The content area of a window of this style with `frame` (screen coordinates): below
  /// the title bar of a titled window that is neither full screen nor full-size content.
  CGRect contentRectForFrameRect(CGRect frame) const;
  /// Moves and resizes the window; `display` is accepted for shape.
  void setFrame(CGRect frame, bool display);
  NSWindowLevel level() const;
  void setLevel(NSWindowLevel level);
  double alphaValue() const;
  void setAlphaValue(double alpha);
  NSWindowStyleMask styleMask() const;
  void setStyleMask(NSWindowStyleMask style);
  NSWindowCollectionBehavior collectionBehavior() const;
  void setCollectionBehavior(NSWindowCollectionBehavior behavior);
  const std::string& title() const;
  void setTitle(std::string title);
  bool isOpaque() const;
  void setOpaque(bool opaque);
  /// The style of the glass effect views in the content, which the window server composes
  /// behind the content's translucent pixels (a Mac's window server reads it from the view
  /// tree; here the views that draw glass tell the window). Regular unless set.
  platform::GlassStyle glassStyle() const;
  void setGlassStyle(platform::GlassStyle style);
  /// 0xAARRGGBB; 0 is the clear colour.
  std::uint32_t backgroundColor() const;
  void setBackgroundColor(std::uint32_t argb);
  bool hasShadow() const;
  void setHasShadow(bool hasShadow);
  /// Whether the window's picture the window server holds (its surface, and the kept copy
  /// it is drawn in) is let go whenever the window is ordered out, and drawn anew before it
  /// comes back. A titled window's always is; false unless set. A one-shot window is drawn
  /// whole straight into its surface, with no kept copy.
  bool isOneShot() const;
  void setOneShot(bool oneShot);
  bool ignoresMouseEvents() const;
  void setIgnoresMouseEvents(bool ignores);
  bool acceptsMouseMovedEvents() const;
  void setAcceptsMouseMovedEvents(bool accepts);
  /// Whether the window orders out when the program deactivates (default: false; panels: true).
  bool hidesOnDeactivate() const;
  void setHidesOnDeactivate(bool hides);
  /// Kept for shape: windows are owned by their creators, never freed by closing.
  bool isReleasedWhenClosed() const;
  void setReleasedWhenClosed(bool released);

  /// The view tree shown in the window; not owned. Null until set.
  QWidget* contentView() const;
  void setContentView(QWidget* view);
  /// Draws what of the content view waits to be drawn and hands it to the window server
  /// now, rather than at the main queue's next turn. Main thread.
  void displayIfNeeded();
  NSWindowDelegate* delegate() const;
  void setDelegate(NSWindowDelegate* delegate);

  /// Ordered in (on some Space), whether or not that Space shows.
  bool isVisible() const;
  bool isMiniaturized() const;
  /// The window server's answer: on a Space that shows now.
  bool isOnActiveSpace() const;
  /// The window server's answer; includes NSWindowOcclusionStateVisible when some of it can be seen.
  NSWindowOcclusionState occlusionState() const;
  /// The screen holding most of the window; nothing when it is on none.
  std::optional<NSScreen> screen() const;

  bool isKeyWindow() const;
  bool isMainWindow() const;
  /// Default: true for windows with a title bar or the resizable bit, false otherwise.
  virtual bool canBecomeKeyWindow() const;
  /// Default: as canBecomeKeyWindow, and false for panels.
  virtual bool canBecomeMainWindow() const;
  /// Appearance hooks: whether the window draws as active and as key. Default: the window
  /// is key (or main) and the program is active.
  virtual bool _hasActiveAppearance() const;
  virtual bool _hasActiveAppearanceIgnoringKeyFocus() const;
  virtual bool _hasKeyAppearance() const;

  /// Orders the window in front of the program's other windows of its level (the program
  /// need not be active for orderFrontRegardless); the first time, it gets its number.
  void orderFront(NSResponder* sender);
  void orderFrontRegardless();
  void orderBack(NSResponder* sender);
  void orderOut(NSResponder* sender);
  /// Makes it the key window when canBecomeKeyWindow allows; posts NSWindowDidBecomeKeyNotification
  /// on the default centre (object: this window) when it was not key before.
  void makeKeyWindow();
  void makeKeyAndOrderFront(NSResponder* sender);
  void makeMainWindow();
  /// Orders out at once, telling the delegate (windowWillClose); the window can be shown again.
  void close();
  /// As a click on the close button: asks the delegate, then closes.
  void performClose(NSResponder* sender);
  void miniaturize(NSResponder* sender);
  void deminiaturize(NSResponder* sender);
  /// Asks the window server to take the window into (or out of) a full-screen Space; the
  /// full-screen style bit follows when the server has done it.
  void toggleFullScreen(NSResponder* sender);

  NSResponder* firstResponder() const;
  /// Makes `responder` the first responder (null: the window itself); false when it declines.
  bool makeFirstResponder(NSResponder* responder);
  /// The standard handling: offers the event along the first responder's chain; true
  /// when a responder consumed it.
  bool performKeyEquivalent(const NSEvent& event) override;

  struct State;

 protected:
  /// For NSPanel: marks the window as a panel (hides on deactivate, never main).
  void markAsPanel();

 private:
  std::unique_ptr<State> state_;
};

/// The system's glass material as the program sets it up: its style and, on systems that
/// have one, a private variant set through key-value coding (the key "_variant").
class NSGlassEffectView {
 public:
  using Style = platform::GlassStyle;
  /// Whether this system's glass view answers `selector` (such as "set_variant:"); false
  /// while no system is installed. Any thread.
  bool respondsToSelector(const std::string& selector) const;
};

class NSPanel : public NSWindow {
 public:
  NSPanel(CGRect contentRect, NSWindowStyleMask style, NSBackingStoreType backing, bool defer,
          const NSScreen* screen = nullptr)
      : NSWindow(contentRect, style, backing, defer, screen) {
    markAsPanel();
  }
};

// ---- The application object -------------------------------------------------------------

enum class NSApplicationTerminateReply { terminateCancel = 0, terminateNow = 1, terminateLater = 2 };

class NSApplication;

/// Hooks the application's owner may set; the application does not own its delegate.
class NSApplicationDelegate {
 public:
  virtual ~NSApplicationDelegate() = default;
  virtual NSApplicationTerminateReply applicationShouldTerminate(NSApplication& sender) {
    return NSApplicationTerminateReply::terminateNow;
  }
  virtual void applicationWillTerminate() {}
};

class NSApplication {
 public:
  /// The one application object, made on first use.
  static NSApplication& shared();

  NSWindow* keyWindow() const;
  NSWindow* mainWindow() const;
  /// Every live window of the program, in creation order.
  std::vector<NSWindow*> windows() const;
  /// The live window with that number; null when there is none.
  NSWindow* windowWithWindowNumber(std::int64_t windowNumber) const;

  /// Whether the program is the frontmost application (the window server's answer).
  bool isActive() const;
  /// Asks the window server to make the program frontmost.
  void activate();
  void hide(NSResponder* sender);
  NSApplicationActivationPolicy activationPolicy() const;
  bool setActivationPolicy(NSApplicationActivationPolicy policy);
  CGImageRef applicationIconImage() const;
  void setApplicationIconImage(CGImageRef image);

  /// Sends `action` to `target`, or with no target along the key window's chain (from its
  /// first responder to the window), then the main window's; true when one performed it.
  bool sendAction(const SEL& action, NSResponder* target, NSResponder* sender);
  /// Dispatches one event: a key down with ⌘ goes to the key window's performKeyEquivalent
  /// and, when not consumed, to its first responder's keyDown; other key events go to the
  /// first responder; mouse events to the window under them.
  void sendEvent(const NSEvent& event);

  NSApplicationDelegate* delegate() const;
  void setDelegate(NSApplicationDelegate* delegate);
  /// Asks the delegate whether to quit (no delegate: yes). When it answers now, tells it
  /// the program will terminate and ends the program with status 0 (platform::exitProgram);
  /// a cancel keeps it running, and a later answer is treated as now. Main thread.
  void terminate(NSResponder* sender);

  /// Starts taking the events the window server routes to the program, and the Apple
  /// events sent to it: a quit event ('aevt' 'quit') is answered with terminate while it
  /// is the current Apple event (NSAppleEventManager).
  void finishLaunching();
  /// While true (the default) routed events are dispatched on the main queue as they
  /// arrive; while false they wait for nextEvent (the self-tests' event pump).
  void setDispatchesEventsAutomatically(bool automatic);
  /// Takes the oldest routed event not yet dispatched; nothing when none waits (never blocks).
  std::optional<NSEvent> nextEvent();

  struct State;
  /// Bookkeeping for NSWindow.
  State& state() const { return *state_; }

 private:
  NSApplication();
  std::unique_ptr<State> state_;
};

/// The application object, as the global `NSApp` is used.
inline NSApplication& NSApp() { return NSApplication::shared(); }
