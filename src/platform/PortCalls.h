#pragma once
// Every call of the two ports, declared once. Each row of a list is
//
//   X(remote, host, name, Result, (parameters), (arguments), (fields), via, {fallback}, owner)
//
// and the lists are expanded (X-macros) into the ports' pure virtual functions, the
// overrides of the in-process world and of the attached program, the attached program's
// forwarders and the host's dispatch, so a call is added by one row here and its
// implementation in the world. The columns:
// - remote: `gen` when the attached program's forwarder is made from the row; `own` when it
//   is written by hand in host/Remote.cpp (it keeps answers, holds callbacks or pictures);
//   `local` when the program answers it itself, with no request of that name.
// - host: `gen` when the host's handler is made from the row; `own` when it is written by
//   hand in host/HostCalls.cpp under the call's name; `none` when no request has the name.
// - (fields): the request's body. No names: nothing for no argument, the value itself
//   for one. Names: an object with each argument under its name, in order.
// - via: `ask`, answered in order on the calling thread's lane; `kept`, the same, but
//   answered from what the program read ahead while the world stands still; `tell`, sent
//   without waiting and answered at once by the host's reader (lane 0); `picture`, asked
//   after the program published its windows, the picture coming back in shared memory.
// - {fallback}: what the attached program answers when the host is gone or the answer
//   cannot be read (`()` for a call with no result).
// - owner: `none`, or which of the program's own objects the first argument must be
//   (`requireTap`, `takeTap`, `requireObserver`, `takeObserver`, `requireIterator`):
//   a program reaches only what it made, and `take` forgets it; `domain` when it names
//   preference domains (one or a list), each refused past the length a domain's name has.
// Result types are written in full (platform::…); one with a comma has an alias.

/// SystemPort: screens, permissions, preferences, the login item, display pictures,
/// private symbols, processes and messages from other programs.
#define PLATFORM_SYSTEM_CALLS(X)                                                                                      \
  /** Screens, in the system's order (the first holds the menu bar). */                                             \
  X(gen, gen, screens, std::vector<platform::ScreenDescription>, (), (), (), kept, {}, none)                         \
  X(gen, gen, screenCaptureAllowed, bool, (), (), (), kept, {false}, none)                                          \
  /** Asks for screen capture; answers whether it is allowed now. */                                                \
  X(gen, gen, requestScreenCaptureAccess, bool, (), (), (), ask, {false}, none)                                     \
  /** Whether the process is trusted for Accessibility; `prompt` shows the system's prompt once. */                  \
  X(gen, gen, accessibilityTrusted, bool, (bool prompt), (prompt), (), ask, {false}, none)                          \
  /** Preferences. `domain` is a program's identifier; the program's own domain is named by */                     \
  /** applicationDomainName(). Missing keys answer nothing. */                                                      \
  X(gen, gen, applicationDomainName, std::string, (), (), (), kept, {""}, none)                                     \
  X(own, gen, preferenceValue, std::optional<platform::PlistValue>,                                                 \
    (const std::string& domain, const std::string& key), (domain, key), ("domain", "key"), ask, {}, domain)         \
  /** The value of `key` in the first of `domains` that holds it: the search list a program's */                    \
  /** defaults read (its own domain, then the global one). */                                                       \
  X(own, gen, firstPreferenceValue, std::optional<platform::PlistValue>,                                            \
    (const std::vector<std::string>& domains, const std::string& key), (domains, key), ("domains", "key"), ask, {},  \
    domain)                                                                                                          \
  /** Every key of `domains` with its value from the first that holds it: the whole search */                       \
  /** list in one answer. */                                                                                         \
  X(gen, gen, firstPreferenceValues, platform::PlistDictionary, (const std::vector<std::string>& domains),          \
    (domains), (), ask, {}, domain)                                                                                  \
  /** Stores (or, with nothing, removes) one key of a domain and persists the domain. False */                     \
  /** when the file could not be written: the value is kept all the same and saved with the */                     \
  /** next write of the domain. */                                                                                   \
  X(own, own, setPreferenceValue, bool,                                                                             \
    (const std::string& domain, const std::string& key, const std::optional<platform::PlistValue>& value),          \
    (domain, key, value), ("domain", "key", "value"), ask, {false}, none)                                            \
  /** Stores several keys of a domain and persists the domain once, so either all of them */                        \
  /** reach the file or none; false as above. */                                                                     \
  X(own, own, setPreferenceValues, bool, (const std::string& domain, const platform::PlistDictionary& values),     \
    (domain, values), ("domain", "values"), ask, {false}, none)                                                      \
  /** The whole domain; nothing when it does not exist. */                                                          \
  X(gen, gen, preferenceDomain, std::optional<platform::PlistDictionary>, (const std::string& domain), (domain), (), \
    ask, {}, domain)                                                                                                 \
  /** Re-reads the domain from its file so changes by other processes are seen. */                                  \
  X(gen, own, synchronizePreferences, void, (const std::string& domain), (domain), (), ask, (), none)              \
  /** The login item of the main application. */                                                                    \
  X(own, gen, loginItemStatus, platform::LoginItemStatus, (), (), (), ask, {}, none)                                 \
  /** Registers (on) or unregisters (off); the error's description on failure. */                                   \
  X(own, gen, setLoginItem, std::optional<std::string>, (bool on), (on), (), ask, {}, none)                          \
  /** The displays that can be captured; nothing when the content is unavailable. */                               \
  X(gen, gen, shareableDisplays, std::optional<std::vector<platform::SystemPort::ShareableDisplay>>, (), (), (),     \
    ask, {}, none)                                                                                                   \
  /** A picture of one display at the given pixel size; nothing when the capture fails. */                          \
  X(gen, gen, captureDisplay, CGImageRef, (std::uint32_t displayID, int width, int height, bool showsCursor),       \
    (displayID, width, height, showsCursor), ("id", "w", "h", "cursor"), picture, {}, none)                          \
  /** Private symbols: the address registered for `symbol` in the library at `path`, or null. */                    \
  X(gen, gen, libraryExists, bool, (const std::string& path), (path), (), kept, {false}, none)                      \
  /** Whether a fresh system glass effect view answers `selector` (its private variant's */                         \
  /** "set_variant:" is there on some systems only). */                                                             \
  X(gen, gen, glassEffectViewResponds, bool, (const std::string& selector), (selector), (), ask, {false}, none)     \
  X(own, own, symbol, void*, (const std::string& path, const std::string& symbol), (path, symbol), ("path", "name"), \
    kept, {}, none)                                                                                                  \
  /** Starts `executable` with `arguments`: its pid, or the error's description when it */                          \
  /** cannot start. `terminated` then gets the exit status once, on any thread; never after */                      \
  /** a failed start. */                                                                                             \
  X(own, own, launchProcess, platform::LaunchAnswer,                                                                \
    (const std::string& executable, const std::vector<std::string>& arguments,                                     \
     std::function<void(int status)> terminated),                                                                    \
    (executable, arguments, terminated), ("executable", "arguments", "token"), ask, {}, none)                       \
  /** The program's own bundle folder, and the executable inside it. */                                             \
  X(gen, gen, mainBundlePath, std::string, (), (), (), ask, {""}, none)                                             \
  X(gen, gen, mainExecutablePath, std::string, (), (), (), ask, {""}, none)                                         \
  /** The executable of a running process; nothing for an unknown pid. */                                           \
  X(gen, gen, processPath, std::optional<std::string>, (std::int32_t pid), (pid), (), ask, {}, none)                \
  /** Ends the program with `status`. */                                                                            \
  X(local, none, exitProgram, void, (int status), (status), (), ask, (), none)                                      \
  /** Messages from other programs. Each replaces the one listener (null removes it); the */                        \
  /** world may call it on any thread. */                                                                            \
  X(local, none, setDistributedNotificationListener, void, (std::function<void(const std::string& name)> listener), \
    (listener), (), ask, (), none)                                                                                   \
  X(local, none, setAppleEventListener, void, (std::function<void(const platform::AppleEvent& event)> listener),    \
    (listener), (), ask, (), none)

/// WindowServerPort: the window list and the pointer, events and taps, processes and the
/// workspace, the program's own windows, accessibility, window pictures and IOKit.
#define PLATFORM_WINDOW_SERVER_CALLS(X)                                                                               \
  /** Every window, front to back (higher layers first), including ones ordered out. */                             \
  X(own, gen, windowList, std::vector<platform::WindowEntry>, (), (), (), kept, {}, none)                            \
  /** The pointer, global top-left points. */                                                                       \
  X(gen, gen, pointerLocation, CGPoint, (), (), (), kept, {}, none)                                                  \
  X(gen, gen, warpPointer, void, (CGPoint location), (location), (), ask, (), none)                                 \
  X(gen, gen, listenEventAccess, bool, (), (), (), ask, {false}, none)                                              \
  X(gen, gen, postEventAccess, bool, (), (), (), ask, {false}, none)                                                \
  /** Queues a synthetic event at `tap`; delivered later, through the taps, like a real one. */                     \
  X(gen, gen, postEvent, void, (CGEventTapLocation tap, const CGEvent& event), (tap, event), ("tap", "event"), ask,  \
    (), none)                                                                                                        \
  /** Installs a tap; nothing when refused. Returns a tap id (never 0). */                                          \
  X(own, own, createEventTap, std::optional<std::uint64_t>,                                                          \
    (const platform::EventTapRequest& request, platform::EventTapHandler handler), (request, handler),              \
    ("request", "key"), ask, {}, none)                                                                               \
  X(gen, gen, setEventTapEnabled, void, (std::uint64_t tap, bool enabled), (tap, enabled), ("tap", "on"), ask, (),   \
    requireTap)                                                                                                      \
  X(gen, gen, isEventTapEnabled, bool, (std::uint64_t tap), (tap), (), ask, {false}, none)                          \
  /** Removes the tap; its handler is never called afterwards (replies still pending are ignored). */               \
  X(own, gen, removeEventTap, void, (std::uint64_t tap), (tap), (), ask, (), takeTap)                               \
  X(gen, gen, ownProcessIdentifier, std::int32_t, (), (), (), kept, {0}, none)                                      \
  X(gen, gen, operatingSystemVersion, platform::OperatingSystemVersion, (), (), (), ask, {}, none)                  \
  /** Running (not terminated) applications, oldest launch first, the program itself included. */                   \
  X(own, own, runningApplications, std::vector<platform::RunningApplicationInfo>, (), (), (), kept, {}, none)        \
  /** One process, also after it terminated (then `terminated` is true); nothing for an unknown pid. */             \
  X(own, own, application, std::optional<platform::RunningApplicationInfo>, (std::int32_t pid), (pid), (), kept, {}, \
    none)                                                                                                            \
  X(gen, gen, frontmostApplication, std::optional<std::int32_t>, (), (), (), ask, {}, none)                          \
  /** Requests to an application; false when it is gone or refuses. `options` are */                                \
  /** NSApplicationActivationOptions. */                                                                             \
  X(gen, gen, activateApplication, bool, (std::int32_t pid, std::uint32_t options), (pid, options),                 \
    ("pid", "options"), ask, {false}, none)                                                                          \
  X(gen, gen, hideApplication, bool, (std::int32_t pid), (pid), (), ask, {false}, none)                             \
  X(gen, gen, unhideApplication, bool, (std::int32_t pid), (pid), (), ask, {false}, none)                           \
  /** Asks it to quit (it may refuse or take a while); `force` kills it at once. */                                 \
  X(gen, gen, terminateApplication, bool, (std::int32_t pid, bool force), (pid, force), ("pid", "force"), ask,      \
    {false}, none)                                                                                                   \
  /** Launches (or, when running, reopens) the application bundle at `path`; `done` gets its */                      \
  /** pid or an error text, once, on any thread. */                                                                  \
  X(own, own, openApplication, void,                                                                                \
    (const std::string& path, bool activates,                                                                       \
     std::function<void(std::optional<std::int32_t> pid, std::optional<std::string> error)> done),                  \
    (path, activates, done), ("path", "activates", "token"), ask, (), none)                                          \
  /** Opens a URL or file with its default application; false when nothing handles it. */                          \
  X(gen, gen, openURL, bool, (const std::string& url), (url), (), ask, {false}, none)                               \
  /** Opens the system's settings at the pane of login items (nothing happens when the */                           \
  /** system cannot open its settings). */                                                                           \
  X(gen, gen, openSystemSettingsLoginItems, void, (), (), (), ask, (), none)                                        \
  /** The bundle path of the application with that bundle identifier, a running one before */                       \
  /** an installed one; nothing when the system has none. */                                                        \
  X(gen, gen, applicationPath, std::optional<std::string>, (const std::string& bundleIdentifier),                   \
    (bundleIdentifier), (), ask, {}, none)                                                                           \
  /** The icon of the application bundle at `path` (running or installed); null for any other */                    \
  /** path. Made afresh for each request: sent whole, never kept by reference. */                                   \
  X(own, gen, bundleIcon, CGImageRef, (const std::string& path), (path), (), ask, {}, none)                         \
  /** Replaces the one listener of workspace events (null removes it). */                                           \
  X(local, none, setWorkspaceListener, void, (std::function<void(const platform::WorkspaceEvent&)> listener),       \
    (listener), (), ask, (), none)                                                                                   \
  /** The program's own windows. Registers a window the first time it is ordered in; its */                          \
  /** number (never 0), or 0 when the program has as many as it may. */                                             \
  X(own, own, createOwnWindow, std::uint32_t, (const platform::OwnWindowState& state), (state), (), ask, {0}, none) \
  X(own, own, updateOwnWindow, void, (std::uint32_t number, const platform::OwnWindowState& state),                 \
    (number, state), ("n", "state"), ask, (), none)                                                                  \
  X(own, own, orderOwnWindow, void, (std::uint32_t number, platform::OwnWindowOrder order), (number, order),        \
    ("n", "order"), ask, (), none)                                                                                   \
  /** Which own window has the keyboard focus within the program (0: none). */                                      \
  X(own, own, setOwnKeyWindow, void, (std::uint32_t number), (number), (), ask, (), none)                           \
  X(own, gen, ownWindowStatus, std::optional<platform::OwnWindowStatus>, (std::uint32_t number), (number), (), ask,  \
    {}, none)                                                                                                        \
  X(own, own, destroyOwnWindow, void, (std::uint32_t number), (number), (), ask, (), none)                          \
  /** Replaces the one listener of the events the server routes to the program itself */                            \
  /** (keys while it has the keyboard, clicks on its windows). */                                                    \
  X(local, none, setOwnEventListener, void,                                                                         \
    (std::function<void(const CGEvent& event, std::uint32_t windowNumber)> listener), (listener), (), ask, (), none) \
  /** Hands the server the surface an own window's content is published in (null: none; */                           \
  /** the window then shows its plain fill). The server reads the newest published frame */                         \
  /** whenever it draws the window, on any thread, and never asks the program for it; the */                        \
  /** program hands over a new surface when the size changes. Destroying the window drops it. */                     \
  X(own, own, setOwnWindowSurface, void,                                                                            \
    (std::uint32_t number, std::shared_ptr<const platform::SharedSurface> surface), (number, surface), ("n"), ask,  \
    (), none)                                                                                                        \
  /** Says that the program published a new frame in the surface of its window `number`, so */                      \
  /** whoever shows the window can look at once rather than when it next looks. Changes */                          \
  /** nothing the program reads; nothing comes back. Main thread. */                                                 \
  X(gen, own, ownWindowSurfacePublished, void, (std::uint32_t number), (number), (), tell, (), none)               \
  /** Accessibility (timeouts in seconds, already resolved from 0 to the default). */                               \
  X(own, own, axCopyAttribute, platform::AXAnswer, (AXElementID element, const std::string& attribute, double timeout), \
    (element, attribute, timeout), ("e", "a", "t"), ask, {}, none)                                                   \
  X(own, own, axSetAttribute, AXError,                                                                              \
    (AXElementID element, const std::string& attribute, const AXValue& value, double timeout),                      \
    (element, attribute, value, timeout), ("e", "a", "value", "t"), ask, {kAXErrorCannotComplete}, none)            \
  X(own, own, axPerformAction, AXError, (AXElementID element, const std::string& action, double timeout),           \
    (element, action, timeout), ("e", "a", "t"), ask, {kAXErrorCannotComplete}, none)                                \
  /** A new observer of `pid` whose notifications go to `deliver`; its id (never 0) or an error. */                 \
  X(own, own, axCreateObserver, platform::AXObserverAnswer,                                                         \
    (std::int32_t pid, std::function<void(AXElementID element, const std::string& notification)> deliver),          \
    (pid, deliver), ("pid", "key"), ask, {}, none)                                                                   \
  X(gen, gen, axAddNotification, AXError,                                                                           \
    (std::uint64_t observer, AXElementID element, const std::string& notification), (observer, element, notification), \
    ("o", "e", "n"), ask, {kAXErrorCannotComplete}, requireObserver)                                                 \
  X(gen, gen, axRemoveNotification, AXError,                                                                        \
    (std::uint64_t observer, AXElementID element, const std::string& notification), (observer, element, notification), \
    ("o", "e", "n"), ask, {kAXErrorCannotComplete}, requireObserver)                                                 \
  X(own, gen, axDestroyObserver, void, (std::uint64_t observer), (observer), (), ask, (), takeObserver)             \
  /** Window pictures. The capturable windows; nothing without the screen-capture permission. */                   \
  X(gen, gen, shareableWindows, std::optional<std::vector<platform::ShareableWindow>>, (bool onScreenOnly),         \
    (onScreenOnly), (), ask, {}, none)                                                                               \
  /** One window at the given pixel size, also when covered or on another Space; null on failure. */                \
  X(gen, gen, captureWindowPicture, CGImageRef, (std::uint32_t windowID, int width, int height),                    \
    (windowID, width, height), ("id", "w", "h"), picture, {}, none)                                                  \
  /** IOKit. Watches for services of `className` appearing; the iterator (never 0) starts with */                   \
  /** the ones present now. `arrived` is called (any thread) each time new ones join it. */                          \
  X(own, own, addServiceMatching, std::optional<std::uint32_t>,                                                     \
    (const std::string& className, std::function<void()> arrived), (className, arrived), ("class", "key"), ask, {},  \
    none)                                                                                                            \
  /** The next service of the iterator, 0 when drained. */                                                          \
  X(gen, gen, nextMatchedService, std::uint32_t, (std::uint32_t iterator), (iterator), (), ask, {0},                \
    requireIterator)                                                                                                 \
  /** Releases a service or an iterator; releasing an iterator ends its matching. */                                \
  X(own, own, releaseIOObject, void, (std::uint32_t object), (object), (), ask, (), none)

/// Expands a row into a port's pure virtual function.
#define PLATFORM_PORT_CALL(remote, host, name, Result, params, ...) virtual auto name params -> Result = 0;
/// Expands a row into an implementation's override.
#define PLATFORM_PORT_OVERRIDE(remote, host, name, Result, params, ...) auto name params -> Result override;
