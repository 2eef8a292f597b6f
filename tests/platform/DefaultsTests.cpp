#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <functional>

#include "platform/CoreFoundation.h"
#include "platform/Files.h"
#include "platform/Foundation.h"
#include "platform/sim/PlistCodec.h"
#include "support/Scene.h"
#include "support/Served.h"

using platform::FileManager;
using platform::PlistData;
using platform::PlistDate;
using platform::PlistDictionary;
using platform::PlistValue;
using testing::HasSubstr;

namespace {

std::vector<std::uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

// Counts the lines standard error received while `work` ran that mention `needle`.
template <typename Work>
int stderrLinesMentioning(const std::string& needle, Work work) {
  testing::internal::CaptureStderr();
  work();
  const std::string out = testing::internal::GetCapturedStderr();
  int count = 0;
  std::size_t start = 0;
  while (start < out.size()) {
    const std::size_t end = std::min(out.find('\n', start), out.size());
    if (out.substr(start, end - start).find(needle) != std::string::npos) ++count;
    start = end + 1;
  }
  return count;
}

// Each case in process and in a program attached to a host serving the scene.
class DefaultsTest : public ::testing::TestWithParam<Served> {};
class OtherProgramsPreferencesTest : public ::testing::TestWithParam<Served> {};
class HostilePreferencesTest : public ::testing::TestWithParam<Served> {};
TRELLIQ_SERVED_BOTH_WAYS(DefaultsTest);
TRELLIQ_SERVED_BOTH_WAYS(OtherProgramsPreferencesTest);
TRELLIQ_SERVED_BOTH_WAYS(HostilePreferencesTest);

}  // namespace

TEST_P(DefaultsTest, ApplicationThenGlobalThenRegistration) {
  Scene scene;
  Attachment attachment(scene, GetParam());
  UserDefaults& defaults = UserDefaults::standard();
  defaults.registerDefaults({{"tiles", "apps"}, {"names", "focused"}, {"gesture", ""}});
  scene.world.writeForeignPreferences(".GlobalPreferences", {{"names", "always"}, {"gesture", "global"}});
  defaults.set("gesture", "mine");

  EXPECT_EQ(defaults.stringForKey("tiles"), "apps");
  EXPECT_EQ(defaults.stringForKey("names"), "always");
  EXPECT_EQ(defaults.stringForKey("gesture"), "mine");
  defaults.removeObject("gesture");
  EXPECT_EQ(defaults.stringForKey("gesture"), "global");
  EXPECT_EQ(defaults.object("missing"), std::nullopt);

  // Registration is memory only and later registrations win.
  defaults.registerDefaults({{"tiles", "both"}});
  EXPECT_EQ(defaults.stringForKey("tiles"), "both");
  EXPECT_EQ(scene.world.preferenceValue("app.ondrel.trelliq", "tiles"), std::nullopt);
}

TEST_P(DefaultsTest, BooleansStayBooleansAndConvertLikeTheSystem) {
  Scene scene;
  Attachment attachment(scene, GetParam());
  UserDefaults& defaults = UserDefaults::standard();
  defaults.set("flag", true);
  defaults.set("number", 1);
  EXPECT_TRUE(defaults.object("flag")->isBool());
  EXPECT_FALSE(defaults.object("number")->isBool());

  struct Case {
    PlistValue stored;
    bool expected;
  };
  const Case cases[] = {{true, true},
                        {false, false},
                        {0, false},
                        {2, true},
                        {-1, true},
                        {0.0, false},
                        {0.25, true},
                        {"YES", true},
                        {"yes", true},
                        {"true", true},
                        {"1", true},
                        {"7up", true},
                        {"NO", false},
                        {"0", false},
                        {"", false},
                        {"maybe", false},
                        {PlistData{1}, false},
                        {PlistDictionary{{"a", 1}}, false}};
  for (const Case& c : cases) {
    defaults.set("key", c.stored);
    EXPECT_EQ(defaults.boolForKey("key"), c.expected) << c.stored.describe();
  }
  EXPECT_FALSE(defaults.boolForKey("never stored"));

  defaults.set("key", "42 apples");
  EXPECT_EQ(defaults.integerForKey("key"), 42);
  EXPECT_DOUBLE_EQ(defaults.doubleForKey("key"), 42.0);
  defaults.set("key", 3.9);
  EXPECT_EQ(defaults.integerForKey("key"), 3);
  defaults.set("key", true);
  EXPECT_EQ(defaults.integerForKey("key"), 1);
  defaults.set("key", 12);
  EXPECT_EQ(defaults.stringForKey("key"), std::nullopt);  // numbers are not strings
  EXPECT_EQ(defaults.dictionaryForKey("key"), std::nullopt);
}

TEST_P(DefaultsTest, ValuesSurviveARestartWithTheirTypes) {
  Scene scene;
  Attachment attachment(scene, GetParam());
  const PlistDictionary names{{"desktop/1234", "Mail"}, {"window/77", "Notes"}};
  UserDefaults::standard().set("instantSpaces", false);
  UserDefaults::standard().set("count", 3);
  UserDefaults::standard().set("when", PlistDate{1767225600});
  UserDefaults::standard().set("blob", PlistData{9, 8, 7});
  UserDefaults::standard().set("spaceNames", names);

  attachment.restart();
  UserDefaults& defaults = UserDefaults::standard();
  EXPECT_EQ(defaults.object("instantSpaces"), PlistValue(false));
  EXPECT_EQ(defaults.object("count"), PlistValue(3));
  EXPECT_EQ(defaults.object("when"), PlistValue(PlistDate{1767225600}));
  EXPECT_EQ(defaults.object("blob"), PlistValue(PlistData{9, 8, 7}));
  EXPECT_EQ(defaults.dictionaryForKey("spaceNames"), names);
  EXPECT_TRUE(FileManager::fileExists(scene.path("Library/Preferences/app.ondrel.trelliq.plist")));
}

TEST_P(DefaultsTest, TwoProgramsOnOneHomeSeeEachOthersWrites) {
  Scene scene;
  Attachment attachment(scene, GetParam());
  sim::World other(scene.home);
  const std::string app = "app.ondrel.trelliq";
  // Writes of the same size, one right after another, must still be seen.
  for (int i = 0; i < 20; ++i) {
    scene.world.setPreferenceValue(app, "flag", i % 2 == 0);
    ASSERT_EQ(other.preferenceValue(app, "flag"), PlistValue(i % 2 == 0)) << "write " << i;
    other.setPreferenceValue(app, "count", i);
    ASSERT_EQ(scene.world.preferenceValue(app, "count"), PlistValue(i)) << "write " << i;
  }
  // Each write merges with what the other wrote rather than replacing it.
  EXPECT_EQ(scene.world.preferenceDomain(app), (PlistDictionary{{"flag", false}, {"count", 19}}));
}

TEST_P(DefaultsTest, AFileRewrittenInPlaceWithItsTimeStampPutBackIsStillSeen) {
  Scene scene;
  Attachment attachment(scene, GetParam());
  const std::string app = "app.ondrel.trelliq";
  const std::string file = scene.path("Library/Preferences/app.ondrel.trelliq.plist");
  ASSERT_TRUE(scene.world.writeForeignPreference(app, "flag", true));
  EXPECT_EQ(UserDefaults::standard().object("flag"), PlistValue(true));

  // Another program rewrites the file in place: same file, same size, and its time stamp put back.
  struct stat before {};
  ASSERT_EQ(::stat(file.c_str(), &before), 0);
  const auto replacement = sim::encodeBinaryPlist(PlistValue(PlistDictionary{{"flag", false}}));
  auto handle = platform::FileHandle::forWriting(file);
  ASSERT_TRUE(handle && handle->truncate(0) && handle->write(replacement.data(), replacement.size()));
  handle->close();
  const timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  ASSERT_EQ(FileManager::fileSize(file), static_cast<std::uint64_t>(before.st_size));

  EXPECT_EQ(UserDefaults::standard().object("flag"), PlistValue(false));
}

TEST_P(DefaultsTest, DamagedFileIsReportedOnceAndKeptAside) {
  Scene scene;
  Attachment attachment(scene, GetParam());
  const std::string file = scene.path("Library/Preferences/app.ondrel.trelliq.plist");
  ASSERT_TRUE(FileManager::createDirectory(scene.path("Library/Preferences")));
  ASSERT_TRUE(FileManager::writeAtomically(file, "<?xml version=\"1.0\"?><plist><dict><key>tiles"));

  const int reports = stderrLinesMentioning(file, [] {
    for (int i = 0; i < 3; ++i) EXPECT_EQ(UserDefaults::standard().object("tiles"), std::nullopt);
    UserDefaults::standard().synchronize();
  });
  EXPECT_EQ(reports, 1);

  UserDefaults::standard().set("tiles", "windows");
  EXPECT_EQ(FileManager::contents(file + ".corrupt-1"), bytesOf("<?xml version=\"1.0\"?><plist><dict><key>tiles"));
  EXPECT_EQ(UserDefaults::standard().stringForKey("tiles"), "windows");

  // A file whose top is not a dictionary is no domain either; a second damage gets a new name.
  ASSERT_TRUE(FileManager::writeAtomically(file, "<?xml version=\"1.0\"?><plist><array/></plist>"));
  EXPECT_EQ(stderrLinesMentioning(file, [] { UserDefaults::standard().set("names", "always"); }), 2);
  EXPECT_TRUE(FileManager::fileExists(file + ".corrupt-2"));
  EXPECT_EQ(scene.world.preferenceDomain("app.ondrel.trelliq"), (PlistDictionary{{"names", "always"}}));
}

TEST_P(DefaultsTest, DamagedFileThatCannotBeKeptAsideIsNeverOverwritten) {
  Scene scene;
  Attachment attachment(scene, GetParam());
  const std::string file = scene.path("Library/Preferences/app.ondrel.trelliq.plist");
  ASSERT_TRUE(FileManager::createDirectory(scene.path("Library/Preferences")));
  ASSERT_TRUE(FileManager::writeAtomically(file, "garbage"));
  platform::FileFaults::fail(platform::FileOp::rename, "app.ondrel.trelliq.plist", EACCES);

  testing::internal::CaptureStderr();
  UserDefaults::standard().set("tiles", "both");
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(FileManager::contents(file), bytesOf("garbage"));
  // The program still sees its own setting for the rest of the run.
  EXPECT_EQ(UserDefaults::standard().stringForKey("tiles"), "both");
}

TEST_P(DefaultsTest, FailedWriteKeepsTheValueAndSavesItWithTheNextWrite) {
  Scene scene;
  Attachment attachment(scene, GetParam());
  UserDefaults& defaults = UserDefaults::standard();
  defaults.set("tiles", "apps");
  platform::FileFaults::fail(platform::FileOp::write, "app.ondrel.trelliq.plist", ENOSPC, 1);
  testing::internal::CaptureStderr();
  defaults.set("tiles", "windows");
  EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("app.ondrel.trelliq.plist"));
  EXPECT_EQ(defaults.stringForKey("tiles"), "windows");

  defaults.set("names", "always");
  sim::World fresh(scene.home);
  EXPECT_EQ(fresh.preferenceDomain("app.ondrel.trelliq"), (PlistDictionary{{"tiles", "windows"}, {"names", "always"}}));
}

TEST_P(DefaultsTest, TheProgramLearnsOfAFailedWriteAndItsNextWriteSavesTheValue) {
  Scene scene;
  Attachment attachment(scene, GetParam());
  platform::SystemPort& port = platform::system();
  const std::string app = port.applicationDomainName();
  EXPECT_TRUE(port.setPreferenceValue(app, "tiles", PlistValue("apps")));
  platform::FileFaults::fail(platform::FileOp::write, app + ".plist", ENOSPC, 2);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(port.setPreferenceValue(app, "tiles", PlistValue("windows")));
  EXPECT_FALSE(port.setPreferenceValues(app, {{"names", "always"}}));
  const std::string said = testing::internal::GetCapturedStderr();
  if (GetParam() == Served::remote) {
    EXPECT_THAT(said, HasSubstr("preferences of app.ondrel.trelliq could not be saved"));
  }
  EXPECT_EQ(port.preferenceValue(app, "tiles"), PlistValue("windows"));

  EXPECT_TRUE(port.setPreferenceValue(app, "gesture", PlistValue("off")));
  sim::World fresh(scene.home);
  EXPECT_EQ(fresh.preferenceDomain(app),
            (PlistDictionary{{"tiles", "windows"}, {"names", "always"}, {"gesture", "off"}}));
}

TEST_P(DefaultsTest, BatchedWritesReplaceKeysAlreadyStored) {
  Scene scene;
  Attachment attachment(scene, GetParam());
  UserDefaults& defaults = UserDefaults::standard();
  defaults.set("tiles", "apps");
  defaults.setValuesForKeys({{"tiles", "windows"}, {"names", "always"}});
  EXPECT_EQ(defaults.stringForKey("tiles"), "windows");
  sim::World fresh(scene.home);
  EXPECT_EQ(fresh.preferenceDomain("app.ondrel.trelliq"), (PlistDictionary{{"tiles", "windows"}, {"names", "always"}}));
}

TEST_P(OtherProgramsPreferencesTest, ReadAfterSynchronisingLikeTheSystem) {
  Scene scene;
  Attachment attachment(scene, GetParam());
  const std::string dock = "com.apple.dock";
  EXPECT_EQ(UserDefaults::standard().persistentDomain(dock), std::nullopt);
  EXPECT_EQ(CFPreferencesCopyAppValue("wvous-tl-corner", dock), std::nullopt);

  ASSERT_TRUE(scene.world.writeForeignPreference(dock, "wvous-tl-corner", 2));
  EXPECT_EQ(UserDefaults::standard().persistentDomain(dock), (PlistDictionary{{"wvous-tl-corner", 2}}));
  ASSERT_TRUE(CFPreferencesAppSynchronize(dock));
  EXPECT_EQ(CFPreferencesCopyAppValue("wvous-tl-corner", dock), PlistValue(2));

  // A change behind the program's back shows only after the next synchronisation.
  ASSERT_TRUE(scene.world.writeForeignPreference(dock, "wvous-tl-corner", 5));
  EXPECT_EQ(CFPreferencesCopyAppValue("wvous-tl-corner", dock), PlistValue(2));
  CFPreferencesAppSynchronize(dock);
  EXPECT_EQ(CFPreferencesCopyAppValue("wvous-tl-corner", dock), PlistValue(5));
  EXPECT_EQ(scene.world.callCount("synchronizePreferences:com.apple.dock"), 2);

  // The global domain closes every program's search list.
  scene.world.writeForeignPreference(".GlobalPreferences", "com.apple.swipescrolldirection", false);
  EXPECT_EQ(CFPreferencesCopyAppValue("com.apple.swipescrolldirection", dock), PlistValue(false));
  EXPECT_EQ(CFPreferencesCopyAppValue("com.apple.swipescrolldirection", kCFPreferencesAnyApplication),
            PlistValue(false));
}

TEST_P(OtherProgramsPreferencesTest, BooleanReadingSaysWhetherTheValueWasUsable) {
  Scene scene;
  Attachment attachment(scene, GetParam());
  const std::string access = "com.apple.universalaccess";
  struct Case {
    std::optional<PlistValue> stored;
    bool value;
    bool valid;
  };
  const Case cases[] = {
      {std::nullopt, false, false}, {true, true, true},     {0, false, true},  {2.5, true, true},
      {"YES", true, true},          {"false", false, true}, {"1", true, true}, {"maybe", false, false},
      {PlistData{}, false, false}};
  for (const Case& c : cases) {
    scene.world.writeForeignPreference(access, "closeViewTrackpadGestureZoomEnabled", c.stored);
    CFPreferencesAppSynchronize(access);
    bool valid = !c.valid;
    EXPECT_EQ(CFPreferencesGetAppBooleanValue("closeViewTrackpadGestureZoomEnabled", access, &valid), c.value)
        << (c.stored ? c.stored->describe() : "missing");
    EXPECT_EQ(valid, c.valid) << (c.stored ? c.stored->describe() : "missing");
  }
}

TEST_P(OtherProgramsPreferencesTest, NamesThatAreNoDomainTouchNoFile) {
  Scene scene;
  Attachment attachment(scene, GetParam());
  EXPECT_FALSE(scene.world.writeForeignPreference("../escape", "key", 1));
  scene.world.setPreferenceValue("a/b", "key", 1);
  EXPECT_EQ(UserDefaults::standard().persistentDomain("../escape"), std::nullopt);
  EXPECT_FALSE(FileManager::fileExists(scene.path("Library/escape.plist")));
  EXPECT_FALSE(FileManager::isDirectory(scene.path("Library/Preferences/a")));
}

namespace {

// The program's own domain file and its folder, made ready in `scene`'s home.
std::string ownDomainFile(const Scene& scene) {
  EXPECT_TRUE(FileManager::createDirectory(scene.path("Library/Preferences")));
  return scene.path("Library/Preferences/app.ondrel.trelliq.plist");
}

}  // namespace

TEST_P(HostilePreferencesTest, APipeOrALinkIsNeitherWaitedOnNorFollowedButKeptAside) {
  Scene scene;
  Attachment attachment(scene, GetParam());
  const std::string file = ownDomainFile(scene);
  // With no writer on the pipe, a blocking open would wait for ever.
  ASSERT_EQ(::mkfifo(file.c_str(), 0644), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(UserDefaults::standard().object("tiles"), std::nullopt);
  EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("not a plain file"));
  struct stat aside {};
  ASSERT_EQ(::lstat((file + ".corrupt-1").c_str(), &aside), 0);
  EXPECT_TRUE(S_ISFIFO(aside.st_mode));
  UserDefaults::standard().set("tiles", "windows");
  EXPECT_TRUE(FileManager::isRegularFile(file));

  // A link to another program's settings: never read through, never written through.
  const std::string other = scene.path("elsewhere.plist");
  const auto otherBytes = sim::encodeBinaryPlist(PlistValue(PlistDictionary{{"tiles", "both"}}));
  ASSERT_TRUE(FileManager::writeAtomically(other, otherBytes.data(), otherBytes.size()));
  ASSERT_EQ(::unlink(file.c_str()), 0);
  ASSERT_EQ(::symlink(other.c_str(), file.c_str()), 0);
  testing::internal::CaptureStderr();
  UserDefaults::standard().synchronize();
  EXPECT_EQ(UserDefaults::standard().object("tiles"), std::nullopt);
  UserDefaults::standard().set("names", "always");
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(FileManager::contents(other), otherBytes);
  EXPECT_TRUE(FileManager::isSymbolicLink(file + ".corrupt-2"));
  EXPECT_EQ(scene.world.preferenceDomain("app.ondrel.trelliq"), (PlistDictionary{{"names", "always"}}));
}

TEST_P(HostilePreferencesTest, AHugeOrExplosiveFileIsRefusedUnreadAndTheNextStartIsClean) {
  Scene scene;
  Attachment attachment(scene, GetParam());
  const std::string dock = scene.path("Library/Preferences/com.apple.dock.plist");
  ASSERT_TRUE(FileManager::createDirectory(scene.path("Library/Preferences")));
  struct Row {
    const char* what;
    std::function<void()> make;
    const char* reason;
  };
  const Row rows[] = {
      {"a sparse file of 2 GB",
       [&] {
         const int fd = ::open(dock.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
         ASSERT_GE(fd, 0);
         ASSERT_EQ(::ftruncate(fd, 2ll << 30), 0);
         ::close(fd);
       },
       "larger than 64 MB"},
      {"forty levels of arrays each holding the next twice",
       [&] {
         // The same shape as the codec's own refusal test, at the Dock's domain.
         std::vector<std::uint8_t> bytes{'b', 'p', 'l', 'i', 's', 't', '0', '0'};
         std::vector<std::uint8_t> offsets;
         for (int i = 0; i < 40; ++i) {
           offsets.push_back(static_cast<std::uint8_t>(bytes.size()));
           bytes.insert(bytes.end(), {0xA2, static_cast<std::uint8_t>(i + 1), static_cast<std::uint8_t>(i + 1)});
         }
         offsets.push_back(static_cast<std::uint8_t>(bytes.size()));
         bytes.insert(bytes.end(), {0x10, 0x01});
         const auto table = static_cast<std::uint8_t>(bytes.size());
         bytes.insert(bytes.end(), offsets.begin(), offsets.end());
         const std::uint8_t trailer[32] = {0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 41,
                                           0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, table};
         bytes.insert(bytes.end(), trailer, trailer + 32);
         ASSERT_TRUE(FileManager::writeAtomically(dock, bytes.data(), bytes.size()));
       },
       "too many values"},
      {"XML arrays 200,000 deep behind a processing instruction that holds a '>'",
       [&] {
         std::string text = "<?xml version=\"1.0\"?><plist><?x > <!-- ?>";
         for (int i = 0; i < 200000; ++i) text += "<array>";
         ASSERT_TRUE(FileManager::writeAtomically(dock, text));
       },
       "nested too deeply"},
  };
  int aside = 0;
  for (const Row& row : rows) {
    row.make();
    testing::internal::CaptureStderr();
    CFPreferencesAppSynchronize("com.apple.dock");
    EXPECT_EQ(CFPreferencesCopyAppValue("wvous-tl-corner", "com.apple.dock"), std::nullopt) << row.what;
    EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr(row.reason)) << row.what;
    EXPECT_TRUE(FileManager::fileExists(dock + ".corrupt-" + std::to_string(++aside))) << row.what;
    EXPECT_FALSE(FileManager::fileExists(dock)) << row.what;

    // The next start finds nothing to trip over.
    attachment.restart();
    EXPECT_EQ(stderrLinesMentioning("com.apple.dock",
                                    [] {
                                      CFPreferencesAppSynchronize("com.apple.dock");
                                      CFPreferencesCopyAppValue("wvous-tl-corner", "com.apple.dock");
                                    }),
              0)
        << row.what;
  }
}

TEST_P(HostilePreferencesTest, AValidFileThatCannotBeReadIsNeitherKeptAsideNorReplaced) {
  Scene scene;
  Attachment attachment(scene, GetParam());
  const std::string file = ownDomainFile(scene);
  UserDefaults::standard().set("tiles", "both");
  const auto before = FileManager::contents(file);
  ASSERT_TRUE(before);

  attachment.restart();
  platform::FileFaults::fail(platform::FileOp::read, "app.ondrel.trelliq.plist", EACCES);
  testing::internal::CaptureStderr();
  EXPECT_EQ(UserDefaults::standard().object("tiles"), std::nullopt);
  UserDefaults::standard().set("names", "always");
  EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("cannot be read"));
  EXPECT_FALSE(FileManager::fileExists(file + ".corrupt-1"));
  platform::FileFaults::clear();
  EXPECT_EQ(FileManager::contents(file), before);

  // Once readable again, the stored settings are all there and new ones join them.
  UserDefaults::standard().set("gesture", "");
  EXPECT_EQ(scene.world.preferenceDomain("app.ondrel.trelliq"), (PlistDictionary{{"tiles", "both"}, {"gesture", ""}}));
}

TEST_P(HostilePreferencesTest, ALeftoverOfAnInterruptedWriteGoesWithTheNextWrite) {
  Scene scene;
  Attachment attachment(scene, GetParam());
  const std::string file = ownDomainFile(scene);
  const std::string leftover = scene.path("Library/Preferences/.app.ondrel.trelliq.plist.tmp-x1Y2z3");
  ASSERT_TRUE(FileManager::writeAtomically(leftover, "half"));
  UserDefaults::standard().set("tiles", "windows");
  EXPECT_FALSE(FileManager::fileExists(leftover));
  EXPECT_TRUE(FileManager::isRegularFile(file));
}

TEST_P(HostilePreferencesTest, APipeWhereThePreferencesFolderBelongsHoldsNoWrite) {
  Scene scene;
  Attachment attachment(scene, GetParam());
  ASSERT_TRUE(FileManager::createDirectory(scene.path("Library")));
  // Opening it to lock it, as a folder would be, would wait for a writer for ever.
  ASSERT_EQ(::mkfifo(scene.path("Library/Preferences").c_str(), 0644), 0);
  testing::internal::CaptureStderr();
  UserDefaults::standard().set("tiles", "windows");
  EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("cannot write"));
  EXPECT_EQ(UserDefaults::standard().stringForKey("tiles"), "windows") << "kept for the rest of the run";
}

// Domains asked for by the thousand that have no file, or whose file cannot be looked at,
// leave no more behind than a bound, each problem said once through the store's reporter;
// a name longer than any domain's is none.
TEST(DefaultsStoreTest, DomainsWithoutAFileLeaveNoMoreBehindThanABound) {
  Scene scene;
  sim::DefaultsStore store(scene.path("Library/Preferences"));
  std::size_t said = 0;
  store.setReporter([&](const std::string&) { ++said; });
  const std::size_t many = 4 * sim::DefaultsStore::kKeptBeforeSweep;
  for (std::size_t n = 0; n < many; ++n) EXPECT_FALSE(store.domain("missing.domain." + std::to_string(n)));
  EXPECT_LE(store.keptDomains(), sim::DefaultsStore::kKeptBeforeSweep);

  platform::FileFaults::fail(platform::FileOp::stat, ".plist", EIO);
  for (std::size_t n = 0; n < many; ++n) store.value("hidden.domain." + std::to_string(n), "key");
  platform::FileFaults::clear();
  EXPECT_EQ(said, many);
  EXPECT_LE(sim::DefaultsStore::rememberedReports(), sim::DefaultsStore::kMaxRemembered);
  EXPECT_LE(store.keptDomains(), sim::DefaultsStore::kKeptBeforeSweep);

  EXPECT_FALSE(store.domain(std::string(1000, 'd')));
  EXPECT_EQ(said, many) << "nothing to say of what is no domain";
}

TEST(WorldAppearanceTest, IsReadAgainOnlyAfterSomethingInThePreferencesFolderChanged) {
  Scene scene;
  sim::World& world = scene.world;
  world.writeForeignPreferences(".GlobalPreferences", {{"AppleInterfaceStyle", "Dark"}});
  ASSERT_TRUE(world.darkAppearance());
  int looks = 0;  // a look at the file that cannot be made is said
  world.setPreferencesReporter([&](const std::string&) { ++looks; });
  platform::FileFaults::fail(platform::FileOp::stat, ".GlobalPreferences.plist");
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(world.darkAppearance());
  EXPECT_EQ(looks, 0) << "the file was looked at though nothing changed";
  platform::FileFaults::clear();
  // Another program turns the light appearance on, writing the file itself.
  world.writeForeignPreferences(".GlobalPreferences", {{"AppleInterfaceStyle", "Light"}});
  EXPECT_FALSE(world.darkAppearance());
  world.setPreferenceValue(".GlobalPreferences", "AppleInterfaceStyle", PlistValue(std::string("Dark")));
  EXPECT_TRUE(world.darkAppearance());
  world.setPreferencesReporter(nullptr);
}
