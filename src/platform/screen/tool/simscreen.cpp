// The simulated Mac's screen: a window on the Linux desktop showing every simulated
// display, through which a person uses the Mac with the keyboard and the pointer. Without
// --size it takes most of the Linux screen.
//
//   simscreen [--wait SECONDS] [--notice SECONDS] [--size WxH] [--shot FILE [--after SECONDS]]
//             [--tell-painted]
//
// It attaches to the world host of the simulated home ($TRELLIQ_HOME, else
// ~/.trelliq/home) and never starts one; --wait gives one being started that long to
// answer. Without a host, or when the host goes away, it
// says so in its window and on standard error for --notice seconds (3 unless given), then
// ends: status 2 when there was none, 3 when it went away. With --shot it writes its own
// picture to FILE (PNG) once --after seconds (1 unless given) have passed, and ends. With
// --tell-painted it writes "painted NANOSECONDS" (the monotonic clock) on standard output
// each time the X server has what its window painted, for a benchmark to wait on.

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QScreen>
#include <chrono>
#include <thread>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <iostream>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/RealClock.h"
#include "platform/SystemPort.h"
#include "platform/Unicode.h"
#include "platform/WindowServerPort.h"
#include "platform/host/Channel.h"
#include "platform/host/Remote.h"
#include "platform/sim/SimulatedMac.h"
#include "platform/screen/ScreenWindow.h"

namespace {

struct Options {
  double notice = 3, after = 1, wait = 0;
  std::optional<std::string> shot;
  int width = 0, height = 0;
  bool tellPainted = false;
};

/// The options, or nothing (and the usage on standard error) for an argument it does not know.
std::optional<Options> parseArguments(const std::vector<std::string>& args) {
  Options o;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const bool hasValue = i + 1 < args.size();
    if (args[i] == "--notice" && hasValue) {
      o.notice = std::max(0.0, std::atof(args[++i].c_str()));
    } else if (args[i] == "--wait" && hasValue) {
      o.wait = std::max(0.0, std::atof(args[++i].c_str()));
    } else if (args[i] == "--after" && hasValue) {
      o.after = std::max(0.0, std::atof(args[++i].c_str()));
    } else if (args[i] == "--shot" && hasValue) {
      o.shot = args[++i];
    } else if (args[i] == "--tell-painted") {
      o.tellPainted = true;
    } else if (args[i] == "--size" && hasValue &&
               std::sscanf(args[i + 1].c_str(), "%dx%d", &o.width, &o.height) == 2 && o.width > 0 && o.height > 0) {
      ++i;
    } else {
      std::cerr
          << "simscreen: unknown argument " << platform::Unicode::oneLine(args[i])
          << "\nusage: simscreen [--wait SECONDS] [--notice SECONDS] [--size WxH] [--shot FILE [--after SECONDS]]"
             " [--tell-painted]\n";
      return std::nullopt;
    }
  }
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  const auto options = parseArguments(std::vector<std::string>(argv + 1, argv + argc));
  if (!options) return 64;
  const double notice = options->notice, after = options->after, wait = options->wait;
  const std::optional<std::string>& shot = options->shot;
  const int width = options->width, height = options->height;
  const bool tellPainted = options->tellPainted;
  // Painted parts go to X in the request itself, not through shared memory, which makes
  // every paint wait for X to be done with the last one first: a round trip and two
  // thread wakes per frame, for copies of the few parts that changed. Unless asked otherwise.
  if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM")) qputenv("QT_XCB_NO_MITSHM", "1");
  QApplication application(argc, argv);
  std::string home;
  if (auto problem = sim::makeSimulatedHome(home)) {
    std::cerr << "simscreen: " << platform::Unicode::oneLine(*problem) << std::endl;
    return 2;
  }
  const int noticeMs = static_cast<int>(notice * 1000);

  const std::string socket = host::endpointFor(home).socket;
  auto attached = host::RemoteMac::attach(socket, nullptr, host::AttachAs::screen);
  QElapsedTimer waited;
  waited.start();
  while (std::holds_alternative<std::string>(attached) && waited.elapsed() < wait * 1000) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    attached = host::RemoteMac::attach(socket, nullptr, host::AttachAs::screen);
  }
  if (auto* error = std::get_if<std::string>(&attached)) {
    const std::string why = "No simulated Mac runs for " + home + " (" + *error + ").";
    std::cerr << "simscreen: " << platform::Unicode::oneLine(why) << std::endl;
    screen::ScreenWindow window(nullptr, why + "\nStart one with ./run or simmac.");
    window.show();
    QTimer::singleShot(noticeMs, &application, [] { QCoreApplication::exit(2); });
    return application.exec();
  }
  std::unique_ptr<host::RemoteMac> mac = std::move(std::get<std::unique_ptr<host::RemoteMac>>(attached));
  auto source = std::make_unique<screen::RemoteScreenSource>(*mac);
  // The platform's event functions stamp and type events through the installed ports.
  platform::RealClock clock;
  platform::installClock(&clock);
  platform::installSystem(mac->system.get());
  platform::installWindowServer(mac->windowServer.get());

  int status = 0;
  {
    screen::ScreenWindow window(source.get(), std::nullopt);
    window.setNoticeMs(noticeMs);
    if (tellPainted) {
      window.setPaintedListener([] {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        std::printf("painted %lld\n",
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
        std::fflush(stdout);
      });
    }
    mac->connection->setLossHandler([&window](const std::string& why) { window.hostLost(why); });
    if (width > 0) {
      window.resize(width, height);
    } else if (const QScreen* desktop = QGuiApplication::primaryScreen()) {
      // Most of the Linux screen, so the Mac's displays are drawn as large as they can be.
      const QRect room = desktop->availableGeometry();
      const QSize size(room.width() * 9 / 10, room.height() * 9 / 10);
      window.resize(size);
      window.move(room.center() - QPoint(size.width() / 2, size.height() / 2));
    }
    window.show();
    if (shot) {
      QTimer::singleShot(static_cast<int>(after * 1000), &window, [&window, &shot] {
        // A plain file is replaced whole; a pipe or terminal gets the picture as a report would.
        QByteArray png;
        QBuffer buffer(&png);
        std::string refused;
        const bool saved = buffer.open(QIODevice::WriteOnly) && window.grab().save(&buffer, "PNG") &&
                           platform::FileManager::writeOutput(*shot, png.constData(), png.size(), &refused);
        if (!saved) {
          std::cerr << "simscreen: cannot write " << platform::Unicode::oneLine(*shot)
                    << (refused.empty() ? "" : ": it is " + refused) << std::endl;
        }
        QCoreApplication::exit(saved ? 0 : 1);
      });
    }
    status = application.exec();
    mac->connection->setLossHandler(nullptr);
  }
  platform::installWindowServer(nullptr);
  platform::installSystem(nullptr);
  source.reset();
  mac.reset();
  clock.shutdown();
  platform::installClock(nullptr);
  return status;
}
