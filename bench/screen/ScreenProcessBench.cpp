// What the simulated Mac's screen costs as a person uses it, with the world host, the
// program and the screen as their own processes on a virtual X server (run it under
// `xvfb-run -a -s "-screen 0 1600x1000x24"`), keys typed through X as a keyboard's.
// Each "of budget" counter is a figure over the goal it must stay under (below 1 is met).
//
//   ScreenIdleWithPanels  the switcher's panels up and nothing changing: the CPU time the
//                         screen and the host take together over 240 frame periods
//                         (4 s), as a share of one core (under 2 %). The program's share
//                         stands beside it.
//   ScreenKeyToPanels     from the mapped ⇥ pressed with ⌘ held to the panels drawn on
//                         every display in the screen's window: median under the 0.15 s
//                         show delay plus two frames (183 ms). The keys come from one
//                         xdotool kept running, so no program start sits inside the time;
//                         the end is the screen's notice that X has what it painted (its
//                         --tell-painted), the first after which a grab of the window from
//                         the X server shows the panels. Each press is cancelled with
//                         Escape before the next.
//   IdleWith/…            what the three processes take together over 10 s with nothing
//                         touched, as a share of one core: with one of the program's own
//                         windows open (Preferences, Permissions, the guide: under 3 %),
//                         once each was opened and closed again (under 0.5 %), and with a
//                         switcher session held open (under 2 %). Each process's share
//                         stands beside it: the median of the rounds, the first apart;
//                         and the program's resident memory at the end. Beside them what
//                         the load does not move: the paints the screen shows a second, and
//                         per paint the three processes' thread wakes and CPU time.
//                         TRELLIQ_BENCH_BIN names another folder holding simmac, trelliq and
//                         simscreen, to measure another build with the same rounds.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QScreen>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "platform/host/Channel.h"
#include "platform/host/Remote.h"
#include "platform/screen/ScreenLayout.h"
#include "platform/screen/ScreenWindow.h"

namespace {

constexpr int kWidth = 1400, kHeight = 800;
constexpr std::int32_t kPanelLayer = 101;
constexpr int kGrid = 40;
constexpr std::int32_t kMenuLayer = 101, kStatusLayer = 25;
// The status menu's last rows from its bottom edge: the edge's padding, "Quit", a
// separator, "Preferences…" and the guide's entry, each row 22 points, the separator 11.
constexpr double kPreferencesRowAbove = 5 + 22 + 11 + 11, kGuideRowAbove = kPreferencesRowAbove + 22;

bool waitFor(const std::function<bool()>& done, int capMs = 30000) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < capMs) {
    if (done()) return true;
    QThread::msleep(5);
  }
  return done();
}

void xdo(const QStringList& args) {
  QProcess p;
  p.start("xdotool", args);
  p.waitForFinished(30000);
}

/// One xdotool kept running that types each command written to it as it comes, so a
/// key goes to the X server without a program starting first.
class Keyboard {
 public:
  Keyboard() {
    process_.start("xdotool", {"-"});
    process_.waitForStarted(10000);
  }
  ~Keyboard() {
    process_.closeWriteChannel();
    if (!process_.waitForFinished(10000)) process_.kill();
  }
  /// Sends xdotool command `command` ("key Tab"); it is typed a moment later.
  void operator()(const char* command) {
    process_.write(command);
    process_.write("\n");
    process_.waitForBytesWritten(10000);
  }
  /// Waits until every command sent so far was typed (xdotool pauses a little after each).
  void settle() {
    process_.readAllStandardOutput();
    (*this)("getmouselocation");
    while (!process_.canReadLine() && process_.waitForReadyRead(10000)) {
    }
    process_.readAllStandardOutput();
  }

 private:
  QProcess process_;
};

/// CPU seconds (user and system) process `pid` has used so far.
double cpuSeconds(qint64 pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

QString binDir() {
  const char* other = std::getenv("TRELLIQ_BENCH_BIN");
  return other ? QString(other) : QString(TRELLIQ_BIN_DIR);
}

/// Context switches (voluntary and not) of every thread process `pid` has had so far: how
/// often its threads slept and were woken, which costs the most on a virtual machine.
double wakes(qint64 pid) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  QDir dir(QString::fromStdString(tasks));
  double count = 0;
  for (const QString& task : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    std::ifstream in(tasks + "/" + task.toStdString() + "/status");
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) count += std::stod(line.substr(24));
      if (line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) count += std::stod(line.substr(27));
    }
  }
  return count;
}

/// The resident memory of process `pid`, in megabytes.
double residentMegabytes(qint64 pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024;
  }
  return 0;
}

/// A host, the program (given `programArgs`) and the screen, started in a home of their own.
class Machine {
 public:
  explicit Machine(const QStringList& programArgs = {}) {
    static int argc = 1;
    static char name[] = "trelliq_screen_bench";
    static char* argv[] = {name, nullptr};
    if (!QGuiApplication::instance()) new QGuiApplication(argc, argv);
    keyboard_ = std::make_unique<Keyboard>();
    char folder[] = "/tmp/trelliq-screen-bench-XXXXXX";
    if (!mkdtemp(folder)) return;
    home_ = folder;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TRELLIQ_HOME", QString::fromStdString(home_));
    QProcessEnvironment offscreen = env;
    offscreen.insert("QT_QPA_PLATFORM", "offscreen");
    start(host, "simmac", {}, offscreen);
    const std::string socket = host::endpointFor(home_).socket;
    waitFor([&] {
      auto attached = host::RemoteMac::attach(socket, nullptr, host::AttachAs::screen);
      if (auto* mac = std::get_if<std::unique_ptr<host::RemoteMac>>(&attached)) mac_ = std::move(*mac);
      return mac_ != nullptr;
    });
    if (!mac_) return;
    mac_->connection->call("screenAttach");
    start(program, "trelliq", programArgs, offscreen);
    QProcessEnvironment xcb = env;
    xcb.insert("QT_QPA_PLATFORM", "xcb");
    screen.setReadChannel(QProcess::StandardOutput);
    start(screen, "simscreen", {"--size", QString("%1x%2").arg(kWidth).arg(kHeight), "--tell-painted"}, xcb);
    QProcess search;
    search.start("xdotool", {"search", "--sync", "--name", "Simulated Mac"});
    search.waitForFinished(30000);
    window_ = search.readAllStandardOutput().trimmed().toStdString();
    if (window_.empty()) return;
    xdo({"windowfocus", "--sync", QString::fromStdString(window_)});
    displays_ = screen::topLeftFrames(mac_->system->screens());
    ready_ = true;
  }
  ~Machine() {
    xdo({"keyup", "ctrl"});
    for (QProcess* p : {&screen, &program, &host}) {
      if (p->state() == QProcess::NotRunning) continue;
      p->terminate();
      if (!p->waitForFinished(15000)) p->kill();
      p->waitForFinished(5000);
    }
    mac_.reset();
    if (!home_.empty()) QProcess::execute("rm", {"-rf", QString::fromStdString(home_)});
  }

  bool ready() const { return ready_; }

  /// When the screen last told that X has what it painted (monotonic nanoseconds), reading
  /// every notice told so far and waiting at most `ms` for one when none is waiting; nothing
  /// when it did not tell in time. The latest one counts: an earlier one left unread would
  /// date a grab that already shows a later paint.
  std::optional<std::int64_t> painted(int ms) {
    if (!screen.canReadLine()) screen.waitForReadyRead(ms);
    std::optional<std::int64_t> latest;
    while (screen.canReadLine() || screen.waitForReadyRead(0)) {
      if (!screen.canReadLine()) continue;
      const QByteArray line = screen.readLine().trimmed();
      if (line.startsWith("painted ")) latest = line.mid(8).toLongLong();
    }
    return latest;
  }
  /// How many paints the screen told of since this was last asked.
  int paints() {
    int count = 0;
    while (screen.canReadLine() || screen.waitForReadyRead(0)) {
      if (!screen.canReadLine()) continue;
      if (screen.readLine().startsWith("painted ")) ++count;
    }
    return count;
  }
  /// Forgets the notices told so far.
  void forgetPainted() {
    while (screen.waitForReadyRead(0) || screen.canReadLine()) screen.readAll();
  }

  /// Types `command` on the kept keyboard.
  void keys(const char* command) { (*keyboard_)(command); }
  /// Waits until the keyboard typed what it was given.
  void keysTyped() { keyboard_->settle(); }

  QImage grab() const {
    QScreen* s = QGuiApplication::primaryScreen();
    return s ? s->grabWindow(std::stoul(window_)).toImage().convertToFormat(QImage::Format_RGB32) : QImage();
  }

  bool panelsUp() {
    std::size_t up = 0;
    for (const auto& e : mac_->windowServer->windowList())
      if (e.layer == kPanelLayer && e.onScreen && e.alpha > 0) ++up;
    return up >= displays_.size();
  }
  bool panelsGone() {
    for (const auto& e : mac_->windowServer->windowList())
      if (e.layer == kPanelLayer && e.onScreen && e.alpha > 0) return false;
    return true;
  }

  /// For each display, how many points of a grid over it differ between `a` and `b`.
  std::vector<int> changed(const QImage& a, const QImage& b) const {
    const auto layout = screen::fit(displays_, a.width(), a.height() - screen::ScreenWindow::kFootHeight, 8);
    std::vector<int> counts;
    for (const auto& p : layout.displays) {
      int n = 0;
      for (int i = 0; i < kGrid; ++i)
        for (int k = 0; k < kGrid; ++k) {
          const QPoint at(static_cast<int>(p.area.minX() + p.area.width() * (i + 0.5) / kGrid),
                          static_cast<int>(p.area.minY() + p.area.height() * (k + 0.5) / kGrid));
          if (a.rect().contains(at) && b.rect().contains(at) && a.pixel(at) != b.pixel(at)) ++n;
        }
      counts.push_back(n);
    }
    return counts;
  }

  /// The window of that title while it is on screen.
  std::optional<platform::WindowEntry> shown(const std::string& title) {
    for (const auto& e : mac_->windowServer->windowList())
      if (e.name == title && e.onScreen) return e;
    return std::nullopt;
  }
  /// An entry of the program's at `layer` on screen, or none.
  std::optional<platform::WindowEntry> ownAt(std::int32_t layer) {
    for (const auto& e : mac_->windowServer->windowList())
      if (e.layer == layer && e.ownerName == std::string("Trelliq") && e.onScreen && e.bounds.height() < 600) return e;
    return std::nullopt;
  }

  /// A click of the pointer at desk point `at`, made on the screen's window through X as
  /// a hand's is: the screen turns it into the host's pointer events.
  void click(CGPoint at) {
    const QImage shown = grab();
    const auto layout = screen::fit(displays_, shown.width(), shown.height() - screen::ScreenWindow::kFootHeight, 8);
    for (const auto& p : layout.displays) {
      if (!p.frame.contains(at)) continue;
      const int x = static_cast<int>(p.area.minX() + (at.x - p.frame.minX()) * layout.scale);
      const int y = static_cast<int>(p.area.minY() + (at.y - p.frame.minY()) * layout.scale);
      xdo({"mousemove", "--window", QString::fromStdString(window_), QString::number(x), QString::number(y)});
      xdo({"click", "1"});
      return;
    }
  }

  /// Opens the status menu and chooses the entry `above` points over its bottom edge;
  /// true once the window titled `title` shows.
  bool choose(double above, const std::string& title) {
    return waitFor(
        [&] {
          const auto item = ownAt(kStatusLayer);
          if (!item) return false;
          click(CGPoint{item->bounds.midX(), item->bounds.midY()});
          std::optional<platform::WindowEntry> menu;
          if (!waitFor([&] { return (menu = ownAt(kMenuLayer)).has_value(); }, 3000)) return false;
          click(CGPoint{menu->bounds.midX(), menu->bounds.maxY() - above});
          return waitFor([&] { return shown(title).has_value(); }, 5000);
        },
        60000);
  }

  /// Closes the window titled `title` by its close button; true once it is gone.
  bool close(const std::string& title) {
    const auto window = shown(title);
    if (!window) return false;
    click(CGPoint{window->bounds.minX() + 20, window->bounds.minY() + 14});
    return waitFor([&] { return !shown(title); }, 10000);
  }

  QProcess host, program, screen;

 private:
  void start(QProcess& p, const char* binary, const QStringList& args, const QProcessEnvironment& env) {
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(binDir() + "/" + binary, args);
    p.waitForStarted(10000);
  }

  std::string home_;
  std::unique_ptr<Keyboard> keyboard_;
  std::unique_ptr<host::RemoteMac> mac_;
  std::string window_;
  std::vector<screen::DisplayPlace> displays_;
  bool ready_ = false;
};

/// Holds ⌘ and presses ⇥ until the panels are up (the program may still be starting).
bool openPanels(Machine& m) {
  return waitFor(
      [&] {
        m.keys("keydown ctrl");
        m.keys("key Tab");
        if (waitFor([&] { return m.panelsUp(); }, 3000)) return true;
        m.keys("key Escape");
        m.keys("keyup ctrl");
        return false;
      },
      60000);
}

void closePanels(Machine& m) {
  m.keys("key Escape");
  m.keys("keyup ctrl");
  waitFor([&] { return m.panelsGone(); });
}

void ScreenIdleWithPanels(benchmark::State& state) {
  Machine m;
  if (!m.ready() || !openPanels(m)) {
    state.SkipWithError("the machine did not start or the panels did not show");
    return;
  }
  // Up and drawn: the grab stops changing.
  QImage last = m.grab();
  waitFor([&] {
    QThread::msleep(300);
    const QImage now = m.grab();
    const auto counts = m.changed(last, now);
    last = now;
    return std::all_of(counts.begin(), counts.end(), [](int n) { return n == 0; });
  });
  constexpr int kPeriods = 240;
  double both = 0, program = 0;
  int rounds = 0;
  for (auto _ : state) {
    const double h0 = cpuSeconds(m.host.processId()), s0 = cpuSeconds(m.screen.processId());
    const double p0 = cpuSeconds(m.program.processId());
    const auto start = std::chrono::steady_clock::now();
    QThread::msleep(kPeriods * 1000 / 60);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    both += (cpuSeconds(m.host.processId()) - h0 + cpuSeconds(m.screen.processId()) - s0) / wall;
    program += (cpuSeconds(m.program.processId()) - p0) / wall;
    ++rounds;
  }
  if (!m.panelsUp()) state.SkipWithError("the panels went away");
  state.counters["screen+host %"] = 100 * both / rounds;
  state.counters["program %"] = 100 * program / rounds;
  state.counters["of budget"] = 100 * both / rounds / 2;
  closePanels(m);
}
BENCHMARK(ScreenIdleWithPanels)->Iterations(3)->Unit(benchmark::kMillisecond);

void ScreenKeyToPanels(benchmark::State& state) {
  Machine m;
  if (!m.ready() || !openPanels(m)) {
    state.SkipWithError("the machine did not start or the panels did not show");
    return;
  }
  closePanels(m);
  QThread::msleep(500);
  const QImage rest = m.grab();
  // What the panels change in the grab once fully drawn, to know a drawn frame by.
  openPanels(m);
  QThread::msleep(1000);
  const std::vector<int> full = m.changed(rest, m.grab());
  closePanels(m);
  auto panelsDrawn = [&] {
    const auto counts = m.changed(rest, m.grab());
    for (std::size_t i = 0; i < counts.size() && i < full.size(); ++i)
      if (counts[i] * 2 < full[i]) return false;
    return true;
  };
  std::vector<double> times;
  for (auto _ : state) {
    waitFor([&] {
      const auto counts = m.changed(rest, m.grab());
      return std::all_of(counts.begin(), counts.end(), [](int n) { return n < 20; });
    });
    m.keys("keydown ctrl");
    m.keysTyped();
    m.forgetPainted();
    const std::int64_t start =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    m.keys("key Tab");
    // Each notice is checked against what X shows; one whose pixels X has not shown yet
    // when grabbed is looked at again when no later notice comes. A grab that shows the
    // panels ends the wait only when no paint was told while it grabbed: otherwise the
    // pixels may be the later paint's, and the time is taken again against that one.
    std::optional<std::int64_t> shown;
    bool drawn = false;
    QElapsedTimer waited;
    waited.start();
    while (!drawn && waited.elapsed() < 5000) {
      if (auto next = m.painted(200)) {
        shown = next;
      } else if (!shown) {
        continue;
      }
      drawn = panelsDrawn();
      while (drawn && waited.elapsed() < 5000) {
        const auto during = m.painted(0);
        if (!during) break;
        shown = during;
        drawn = panelsDrawn();
      }
    }
    const double seconds = shown ? static_cast<double>(*shown - start) / 1e9 : 5;
    state.SetIterationTime(seconds);
    if (!drawn) state.SkipWithError("the panels were not drawn");
    times.push_back(seconds);
    closePanels(m);
  }
  std::sort(times.begin(), times.end());
  if (!times.empty()) {
    const double median = times[times.size() / 2] * 1e3;
    state.counters["median ms"] = median;
    state.counters["of budget"] = median / 183;
  }
}
BENCHMARK(ScreenKeyToPanels)->Iterations(15)->UseManualTime()->Unit(benchmark::kMillisecond);

enum class Idle { preferences, permissions, guide, allClosed, session };

/// Opens what `idle` keeps open (or opens and closes every window); false when it could not.
bool prepare(Machine& m, Idle idle) {
  switch (idle) {
    case Idle::preferences:
      return waitFor([&] { return m.shown("Trelliq Preferences").has_value(); }, 60000);
    case Idle::permissions:
      return waitFor([&] { return m.shown("Welcome to Trelliq").has_value(); }, 60000);
    case Idle::guide:
      return m.choose(kGuideRowAbove, "Keyboard Shortcuts");
    case Idle::allClosed:
      return waitFor([&] { return m.shown("Welcome to Trelliq").has_value(); }, 60000) &&
             m.close("Welcome to Trelliq") && m.choose(kGuideRowAbove, "Keyboard Shortcuts") &&
             m.close("Keyboard Shortcuts") && m.choose(kPreferencesRowAbove, "Trelliq Preferences") &&
             m.close("Trelliq Preferences");
    case Idle::session:
      return openPanels(m);
  }
  return false;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

void IdleWith(benchmark::State& state, Idle idle, double budget) {
  QStringList args;
  if (idle == Idle::preferences) args << "--show-preferences";
  if (idle == Idle::permissions || idle == Idle::allClosed) args << "--show-permissions";
  Machine m(args);
  if (!m.ready() || !prepare(m, idle)) {
    state.SkipWithError("the machine did not start or the window did not show");
    return;
  }
  QThread::msleep(2000);  // what opening started has settled
  std::vector<double> program, host, screen, total;
  // What does not follow the machine's load: the paints the screen shows a second, and per
  // paint the wakes of the three processes' threads and their CPU time.
  std::vector<double> paints, cpuPerPaint;
  std::vector<double> wakesPerPaint[3];  // the program's, the host's, the screen's
  const qint64 pids[] = {m.program.processId(), m.host.processId(), m.screen.processId()};
  for (auto _ : state) {
    const double p0 = cpuSeconds(m.program.processId()), h0 = cpuSeconds(m.host.processId());
    const double s0 = cpuSeconds(m.screen.processId());
    const double w0[] = {wakes(pids[0]), wakes(pids[1]), wakes(pids[2])};
    m.paints();
    const auto start = std::chrono::steady_clock::now();
    QThread::msleep(10000);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double shown = std::max(1, m.paints());
    program.push_back(100 * (cpuSeconds(m.program.processId()) - p0) / wall);
    host.push_back(100 * (cpuSeconds(m.host.processId()) - h0) / wall);
    screen.push_back(100 * (cpuSeconds(m.screen.processId()) - s0) / wall);
    total.push_back(program.back() + host.back() + screen.back());
    paints.push_back(shown / wall);
    for (int i = 0; i < 3; ++i) wakesPerPaint[i].push_back((wakes(pids[i]) - w0[i]) / shown);
    cpuPerPaint.push_back(10 * total.back() * wall / shown);  // ms: total % of a core × wall s / 100 × 1000
  }
  if (idle == Idle::session && !m.panelsUp()) state.SkipWithError("the panels went away");
  if (total.empty()) return;
  // The first round apart: it may still see what opening started.
  state.counters["first total %"] = total.front();
  const auto rest = [](const std::vector<double>& v) {
    return v.size() > 1 ? median(std::vector<double>(v.begin() + 1, v.end())) : v.front();
  };
  state.counters["program %"] = rest(program);
  state.counters["host %"] = rest(host);
  state.counters["screen %"] = rest(screen);
  state.counters["total %"] = rest(total);
  state.counters["of budget"] = rest(total) / budget;
  state.counters["paints/s"] = rest(paints);
  state.counters["program wakes/paint"] = rest(wakesPerPaint[0]);
  state.counters["host wakes/paint"] = rest(wakesPerPaint[1]);
  state.counters["screen wakes/paint"] = rest(wakesPerPaint[2]);
  state.counters["CPU ms/paint"] = rest(cpuPerPaint);
  state.counters["program MB"] = residentMegabytes(m.program.processId());
  if (idle == Idle::session) closePanels(m);
}
BENCHMARK_CAPTURE(IdleWith, Preferences, Idle::preferences, 3.0)->Iterations(3)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(IdleWith, Permissions, Idle::permissions, 3.0)->Iterations(3)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(IdleWith, Guide, Idle::guide, 3.0)->Iterations(3)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(IdleWith, AllClosed, Idle::allClosed, 0.5)->Iterations(3)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(IdleWith, Session, Idle::session, 2.0)->Iterations(3)->Unit(benchmark::kSecond);

}  // namespace
