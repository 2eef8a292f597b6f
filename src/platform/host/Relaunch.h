#pragma once
// A program attached to a host that opens its own bundle again through the shell (after
// access went away, or to restart) gets a real new process: the simulated Mac's shell
// command is turned into one this machine's shell runs, with the program's real pid in
// place of its pid in the world and its own executable in place of the bundle it opens.
// The new process inherits the program's environment, so it attaches to the same home.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace host {

/// The real command (shell first) that does what `arguments` of "/bin/sh" ask for when
/// they open `bundle` again: "-c", a script ending in an open of "$0", the bundle, and
/// optionally "--args" and the new instance's arguments. A wait for `worldPID` ("kill -0")
/// becomes a wait for `realPID`. Nothing for any other command, or a script that waits
/// for another process (whose real pid is unknown here).
std::optional<std::vector<std::string>> relaunchCommand(const std::string& executable,
                                                        const std::vector<std::string>& arguments,
                                                        const std::string& bundle, std::int32_t worldPID,
                                                        pid_t realPID, const std::string& realExecutable);

/// Starts `command` twice forked, in a session of its own (it outlives the program and is
/// nobody's child to reap), with standard input from /dev/null and the program's output
/// and environment; no other descriptor is inherited. False when it could not start.
bool spawnDetached(const std::vector<std::string>& command);

/// The path of the running executable, empty when it cannot be read.
std::string ownExecutable();

}  // namespace host
