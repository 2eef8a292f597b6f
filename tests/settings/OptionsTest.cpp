// The options as stored in the user defaults: what each getter reads from what is
// stored, the registered defaults, and the launch-time carry-over and migration.

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "platform/Foundation.h"
#include "platform/host/Remote.h"
#include "settings/Settings.h"
#include "support/Scene.h"
#include "support/Served.h"

namespace trelliq {
namespace {

using platform::PlistDictionary;
using platform::PlistValue;

// Each case in process and in a program attached to a host serving the scene (the
// carry-over, above all, must be as quick and as whole through the host).
class Options : public ::testing::TestWithParam<Served> {
 protected:
  void SetUp() override { scene_.world.setScreenCaptureAllowed(true); }

  static void store(const std::string& key, const PlistValue& value) { UserDefaults::standard().set(key, value); }
  // What the program's own domain holds, registered defaults left out.
  std::optional<PlistValue> stored(const std::string& key) const {
    return scene_.world.preferenceValue(sim::World::kApplicationDomain, key);
  }
  void earlierProduct(const std::optional<PlistDictionary>& domain) const {
    ASSERT_TRUE(scene_.world.writeForeignDomain(Settings::earlierProductDomain, domain));
  }

  Scene scene_;
  Attachment attachment_{scene_, GetParam()};
};
TRELLIQ_SERVED_BOTH_WAYS(Options);

TEST_P(Options, AFreshUserReadsTheRegisteredDefaults) {
  Settings::registerDefaults();
  EXPECT_EQ(Settings::preview(), Settings::Preview::thumbnail);
  EXPECT_TRUE(Settings::showThumbnails());
  EXPECT_FALSE(Settings::showInPlace());
  EXPECT_EQ(Settings::desktops(), Settings::Desktops::always);
  EXPECT_EQ(Settings::tiles(), Settings::Tiles::apps);
  EXPECT_TRUE(Settings::instantSpaces());
  EXPECT_TRUE(Settings::appWindows());
  EXPECT_FALSE(Settings::gesture());
  EXPECT_TRUE(Settings::hotCorners().empty());
  EXPECT_EQ(UserDefaults::standard().stringForKey("names"), "focused");
  // Registering stores nothing but the carry-over mark.
  for (const char* key :
       {"preview", "instantSpaces", "desktops", "tiles", "names", "hotCorner", "gesture", "appWindows"}) {
    EXPECT_FALSE(stored(key)) << key;
  }
  // Marks that other parts keep are not registered.
  for (const char* key : {"launchAtLoginSetUp", "diagnosticScreenshots", "askedForAccessibility",
                          "screenCaptureConfirmed", "spaceNames", "showThumbnails"}) {
    EXPECT_FALSE(UserDefaults::standard().object(key)) << key;
  }
}

TEST_P(Options, GettersFallBackOnMissingOrUnknownValues) {
  struct Row {
    const char* key;
    std::optional<PlistValue> value;
    std::string expected;  // what the getter answers, as a raw value
  };
  const auto read = [](const std::string& key) -> std::string {
    if (key == "preview") return std::string(Settings::preview().rawValue());
    if (key == "desktops") return std::string(Settings::desktops().rawValue());
    if (key == "tiles") return std::string(Settings::tiles().rawValue());
    if (key == "gesture") return Settings::gesture() ? std::string(Settings::gesture()->rawValue()) : "<none>";
    return Settings::HotCorner::stored(Settings::hotCorners());
  };
  const std::vector<Row> rows = {
      {"preview", std::nullopt, "thumbnail"},
      {"preview", "none", "none"},
      {"preview", "fullScreen", "fullScreen"},
      {"preview", "thumbnail", "thumbnail"},
      {"preview", "FullScreen", "thumbnail"},
      {"preview", 1, "thumbnail"},
      {"desktops", std::nullopt, "always"},
      {"desktops", "whenEmpty", "whenEmpty"},
      {"desktops", "firstWhenEmpty", "firstWhenEmpty"},
      {"desktops", "never", "always"},
      {"desktops", true, "always"},
      {"tiles", "windows", "windows"},
      {"tiles", "both", "both"},
      {"tiles", "", "apps"},
      {"tiles", PlistValue(PlistDictionary{}), "apps"},
      {"gesture", std::nullopt, "<none>"},
      {"gesture", "", "<none>"},
      {"gesture", "fourFingerDoubleTap", "fourFingerDoubleTap"},
      {"gesture", "threeFingerDoubleTap ", "<none>"},
      {"gesture", 3, "<none>"},
      {"hotCorner", std::nullopt, ""},
      {"hotCorner", "bottomRight,,topLeft, topRight", "topLeft,bottomRight"},
      {"hotCorner", 5, ""},
  };
  for (const Row& row : rows) {
    if (row.value) {
      store(row.key, *row.value);
    } else {
      UserDefaults::standard().removeObject(row.key);
    }
    EXPECT_EQ(read(row.key), row.expected) << row.key << " = " << (row.value ? row.value->describe() : "missing");
  }
}

TEST_P(Options, WithoutScreenCaptureThereIsNoPreview) {
  Settings::registerDefaults();
  store("preview", "fullScreen");
  EXPECT_TRUE(Settings::showInPlace());
  scene_.world.setScreenCaptureAllowed(false);
  EXPECT_EQ(Settings::preview(), Settings::Preview::none);
  EXPECT_FALSE(Settings::showInPlace());
  EXPECT_FALSE(Settings::showThumbnails());
  EXPECT_EQ(stored("preview"), PlistValue("fullScreen"));  // the choice itself is kept
}

TEST(OptionsMigration, OldPreviewAndDesktopKeysMigrateOnce) {
  struct Row {
    const char* name;
    PlistDictionary before;
    std::optional<PlistValue> preview;   // stored afterwards
    std::optional<PlistValue> desktops;  // stored afterwards
  };
  const std::vector<Row> rows = {
      {"nothing old", {}, std::nullopt, std::nullopt},
      {"thumbnails off only", {{"showThumbnails", false}}, "fullScreen", std::nullopt},
      {"both off", {{"showThumbnails", false}, {"showInPlace", false}}, "none", std::nullopt},
      {"in place off only", {{"showInPlace", false}}, "thumbnail", std::nullopt},
      {"in place on", {{"showThumbnails", false}, {"showInPlace", true}}, "fullScreen", std::nullopt},
      {"thumbnails on", {{"showThumbnails", true}, {"showInPlace", false}}, "thumbnail", std::nullopt},
      {"not a Boolean counts as on", {{"showThumbnails", false}, {"showInPlace", 0}}, "fullScreen", std::nullopt},
      {"a stored preview wins", {{"preview", "none"}, {"showInPlace", true}}, "none", std::nullopt},
      {"a preview that is no string is replaced",
       {{"preview", 7}, {"showInPlace", false}, {"showThumbnails", false}},
       "none",
       std::nullopt},
      {"desktops shown", {{"showDesktops", true}}, std::nullopt, "always"},
      {"desktops shown as text", {{"showDesktops", "YES"}}, std::nullopt, "always"},
      {"desktops hidden", {{"showDesktops", false}}, std::nullopt, std::nullopt},
      {"a stored desktops wins", {{"showDesktops", true}, {"desktops", "whenEmpty"}}, std::nullopt, "whenEmpty"},
  };
  for (const Row& row : rows) {
    Scene scene;
    for (const auto& [key, value] : row.before) UserDefaults::standard().set(key, value);
    Settings::registerDefaults();
    const auto preview = scene.world.preferenceValue(sim::World::kApplicationDomain, "preview");
    const auto desktops = scene.world.preferenceValue(sim::World::kApplicationDomain, "desktops");
    EXPECT_EQ(preview, row.preview) << row.name;
    EXPECT_EQ(desktops, row.desktops) << row.name;
    // The old keys stay where they were.
    for (const auto& [key, value] : row.before) {
      if (key.rfind("show", 0) != 0) continue;
      EXPECT_EQ(scene.world.preferenceValue(sim::World::kApplicationDomain, key), value) << row.name << ' ' << key;
    }
  }
}

TEST_P(Options, EarlierProductsSettingsAreCarriedOverOnce) {
  store("preview", "fullScreen");
  earlierProduct(PlistDictionary{{"preview", "none"},
                                 {"tiles", "windows"},
                                 {"hotCorner", "topLeft,bottomRight"},
                                 {"launchAtLoginSetUp", true},
                                 {"somethingElse", PlistValue(PlistDictionary{{"nested", 42}})},
                                 {"showInPlace", false}});
  Settings::registerDefaults();
  EXPECT_EQ(stored("carriedOverFromTabrook"), PlistValue(true));
  EXPECT_EQ(stored("preview"), PlistValue("fullScreen"));  // the program's own value wins
  EXPECT_EQ(Settings::tiles(), Settings::Tiles::windows);
  EXPECT_EQ(Settings::HotCorner::stored(Settings::hotCorners()), "topLeft,bottomRight");
  EXPECT_EQ(stored("somethingElse"), PlistValue(PlistDictionary{{"nested", 42}}));
  EXPECT_EQ(stored("showInPlace"), PlistValue(false));
  EXPECT_FALSE(stored("launchAtLoginSetUp"));

  // A later launch copies nothing, even what the earlier product stored since.
  earlierProduct(PlistDictionary{{"tiles", "both"}, {"desktops", "whenEmpty"}});
  attachment_.restart();
  scene_.world.setScreenCaptureAllowed(true);
  Settings::registerDefaults();
  EXPECT_EQ(Settings::tiles(), Settings::Tiles::windows);
  EXPECT_FALSE(stored("desktops"));
}

TEST_P(Options, ManySettingsAreCarriedOverInOneWriteThatAlsoMarksTheCopyDone) {
  PlistDictionary many;
  for (int n = 0; n < 2000; ++n) many.emplace("key" + std::to_string(n), PlistValue(n));
  earlierProduct(many);
  const std::string own = "writePreferences:" + std::string(sim::World::kApplicationDomain);
  scene_.world.resetCallCounts();
  const auto asked = [&] { return attachment_.remote() ? attachment_.remote()->connection->calls() : 0; };
  const auto askedBefore = asked();
  Settings::registerDefaults();
  EXPECT_EQ(scene_.world.callCount(own), 1) << "the domain is written once, not once per key";
  EXPECT_LT(asked() - askedBefore, 50u) << "what the program has is read at once, not asked key by key";
  EXPECT_EQ(stored("key1999"), PlistValue(1999));
  EXPECT_EQ(stored("carriedOverFromTabrook"), PlistValue(true));

  // A copy that never reached the disk leaves no mark, so the next launch makes it again.
  attachment_.restart();
  const std::string file = scene_.world.preferencesFile(sim::World::kApplicationDomain);
  ASSERT_TRUE(platform::FileManager::removeFile(file));
  earlierProduct(PlistDictionary{{"tiles", "windows"}});
  platform::FileFaults::fail(platform::FileOp::write, "app.ondrel.trelliq.plist", ENOSPC);
  testing::internal::CaptureStderr();
  Settings::registerDefaults();
  testing::internal::GetCapturedStderr();
  platform::FileFaults::clear();
  attachment_.restart();
  scene_.world.setScreenCaptureAllowed(true);
  EXPECT_FALSE(stored("carriedOverFromTabrook"));
  Settings::registerDefaults();
  EXPECT_EQ(Settings::tiles(), Settings::Tiles::windows);
  EXPECT_EQ(stored("carriedOverFromTabrook"), PlistValue(true));
}

TEST_P(Options, CarriedOverOldKeysMigrateOnTheSameLaunch) {
  earlierProduct(PlistDictionary{{"showThumbnails", false}, {"showDesktops", true}});
  Settings::registerDefaults();
  EXPECT_EQ(stored("preview"), PlistValue("fullScreen"));
  EXPECT_EQ(stored("desktops"), PlistValue("always"));
}

TEST_P(Options, AMissingEarlierProductIsLookedForOnlyOnce) {
  Settings::registerDefaults();
  EXPECT_EQ(stored("carriedOverFromTabrook"), PlistValue(true));
  earlierProduct(PlistDictionary{{"tiles", "both"}});
  attachment_.restart();
  Settings::registerDefaults();
  EXPECT_FALSE(stored("tiles"));
  EXPECT_EQ(Settings::tiles(), Settings::Tiles::apps);
}

}  // namespace
}  // namespace trelliq
