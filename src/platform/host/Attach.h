#pragma once
// How a program meets the simulated Mac: it attaches to the world host of its home, or,
// when none runs, starts one (which ends a few seconds after its last program) and
// attaches to that. The program's own clock is a real one; the ports it installs forward
// to the host.

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {
class RealClock;
}

namespace host {

struct RemoteMac;

/// How long a host started on demand stays after its last program has gone: long enough
/// for a relaunch to attach to it.
inline constexpr double kOnDemandLingerSeconds = 5;

class ProgramAttachment {
 public:
  ProgramAttachment();
  ~ProgramAttachment();

  /// Takes "--scenario FILE" out of `args`, makes the simulated home ($TRELLIQ_HOME, else
  /// ~/.trelliq/home), attaches to its host or starts one with that scenario, and installs
  /// the clock and the ports. A scenario given while a host already runs is refused, and so
  /// is a host that does not serve the program (another user's, or one that is full). On
  /// failure nothing is installed and the answer says why.
  std::optional<std::string> start(std::vector<std::string>& args);

  /// Whether this program started the host it is attached to.
  bool startedHost() const { return startedHost_; }

 private:
  std::unique_ptr<platform::RealClock> clock_;
  std::unique_ptr<RemoteMac> remote_;
  bool startedHost_ = false;
};

/// The host executable a program starts: $TRELLIQ_SIMMAC, else "simmac" beside the program.
std::string hostExecutable();

/// Starts a host for `home` in a session of its own (it outlives the program), waits until
/// it listens and answers nothing; or the reason it could not, as the host told it.
std::optional<std::string> startHost(const std::string& executable, const std::string& home,
                                     const std::optional<std::string>& scenario, double lingerSeconds);

}  // namespace host
