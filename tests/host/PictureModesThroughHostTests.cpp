// The picture modes give the same pictures attached to a host as with a world of their
// own: the program's windows reach the host's captures through their published surfaces.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QImage>
#include <QImageReader>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "HostProcess.h"

namespace {

/// How many pixels of `a` and `b` differ by more than a rounding step in some channel;
/// -1 when the sizes differ or a picture is missing. With `clock`, the menu bar's clock
/// (within 140 points of the right and 40 of the top, at up to two pixels a point) is left
/// out: the two runs may show different minutes.
long differing(const QImage& a, const QImage& b, bool clock = false) {
  if (a.isNull() || b.isNull() || a.size() != b.size()) return -1;
  long count = 0;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      if (clock && y < 80 && x >= a.width() - 280) continue;
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      if (std::abs(qRed(p) - qRed(q)) > 4 || std::abs(qGreen(p) - qGreen(q)) > 4 || std::abs(qBlue(p) - qBlue(q)) > 4 ||
          std::abs(qAlpha(p) - qAlpha(q)) > 4)
        ++count;
    }
  }
  return count;
}

/// Its exit status once it has ended; -1 past a deadline far beyond any loaded machine's
/// delay (eight sanitized programs drawing at once).
int ended(ProgramProcess& program) {
  const auto status = exitStatusWithin(program.pid, std::chrono::minutes(3));
  if (!status) return -1;
  program.pid = -1;
  return *status;
}

TEST(PictureModesThroughHost, GiveTheSamePicturesAsInProcess) {
  struct Mode {
    std::string flag;
    std::string file;  // the picture the mode writes (a screenshot adds one per display)
  };
  // No delay: the guide's demonstration then shows its first frame both ways.
  const std::vector<Mode> modes = {{"--guide-shot", "out.png"},
                                   {"--prefs-shot", "out.png"},
                                   {"--permissions-shot", "out.png"},
                                   {"--screenshot", "out.png"}};
  struct Run {
    std::unique_ptr<Home> home = std::make_unique<Home>();
    std::unique_ptr<HostProcess> host;
    std::unique_ptr<ProgramProcess> program;
  };
  std::vector<Run> attached(modes.size()), alone(modes.size());
  // All at once: each has a home (and the attached ones a host) of its own.
  for (std::size_t i = 0; i < modes.size(); ++i) {
    auto argsIn = [&](const Run& run) {
      std::vector<std::string> a = {modes[i].flag, run.home->path + "/" + modes[i].file};
      if (modes[i].flag != "--screenshot") a.push_back("0");
      return a;
    };
    attached[i].host = std::make_unique<HostProcess>(attached[i].home->path);
    ASSERT_EQ(attached[i].host->said, "ready");
    attached[i].program = std::make_unique<ProgramProcess>(attached[i].home->path, argsIn(attached[i]));
    alone[i].program = std::make_unique<ProgramProcess>(alone[i].home->path, argsIn(alone[i]),
                                                        std::vector<std::string>{"TRELLIQ_IN_PROCESS=1"});
  }
  for (std::size_t i = 0; i < modes.size(); ++i) {
    SCOPED_TRACE(modes[i].flag);
    const int throughHost = ended(*attached[i].program), inProcess = ended(*alone[i].program);
    ASSERT_TRUE(WIFEXITED(throughHost) && WEXITSTATUS(throughHost) == 0)
        << "status " << throughHost << ": " << fileText(attached[i].program->output);
    ASSERT_TRUE(WIFEXITED(inProcess) && WEXITSTATUS(inProcess) == 0)
        << "status " << inProcess << ": " << fileText(alone[i].program->output);
    std::vector<std::string> files = {modes[i].file};
    if (modes[i].flag == "--screenshot") files.push_back("out-display1.png");
    for (const std::string& file : files) {
      const QImage a(QString::fromStdString(attached[i].home->path + "/" + file));
      const QImage b(QString::fromStdString(alone[i].home->path + "/" + file));
      ASSERT_FALSE(a.isNull()) << file;
      EXPECT_EQ(differing(a, b, modes[i].flag == "--screenshot"), 0) << file << " differs";
    }
  }
}

}  // namespace

TEST(PictureModesThroughHost, AScreenshotOfTheLargestDisplaysTravelsWhole) {
  // Larger than a message may be (8192 × 4608 pixels, 151 MB): the picture comes in
  // shared memory. Each side as large as the scenario lets a display be at that scale.
  Home home;
  const std::string scenario = home.path + "/large.json";
  std::ofstream(scenario) << R"({"displays": [{"id": 1, "frame": [0, 0, 4096, 2304], "scale": 2}],
                                "permissions": {"screenCapture": true, "accessibility": true}})";
  HostProcess host(home.path, {"--scenario", scenario});
  ASSERT_EQ(host.said, "ready");
  ProgramProcess program(home.path, {"--screenshot", home.path + "/out.png"});
  const int status = ended(program);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status << ": " << fileText(program.output);
  QImageReader picture(QString::fromStdString(home.path + "/out.png"));
  EXPECT_EQ(picture.size(), QSize(8192, 4608)) << fileText(program.output);
}
