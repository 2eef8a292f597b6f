#include <gtest/gtest.h>

#include "platform/DynamicLoader.h"
#include "support/Scene.h"

namespace {

constexpr const char* kSkyLight = "/System/Library/PrivateFrameworks/SkyLight.framework/SkyLight";
constexpr const char* kCoreServices = "/System/Library/Frameworks/CoreServices.framework/CoreServices";

int connectionID() { return 42; }
int otherFunction() { return 7; }
const char* pidKey = "pid";

}  // namespace

TEST(DynamicLoaderTest, SymbolsComeFromTheWorldsRegistryOnly) {
  Scene scene;
  // The window server beside the world registers its own functions; start from none.
  scene.world.removeLibrary(kSkyLight);
  scene.world.removeLibrary(kCoreServices);
  EXPECT_EQ(platform::dlopen(kSkyLight, platform::RTLD_NOW_), nullptr);
  EXPECT_EQ(platform::dlsym(nullptr, "SLSMainConnectionID"), nullptr);

  scene.world.addFunction(kSkyLight, "SLSMainConnectionID", &connectionID);
  scene.world.addSymbol(kCoreServices, "_kLSPIDKey", &pidKey);
  const platform::LibraryHandle skyLight = platform::dlopen(kSkyLight, platform::RTLD_NOW_);
  ASSERT_NE(skyLight, nullptr);
  EXPECT_EQ(platform::dlopen(kSkyLight, platform::RTLD_LAZY_), skyLight);

  auto* function = platform::symbolAs<int()>(skyLight, "SLSMainConnectionID");
  ASSERT_NE(function, nullptr);
  EXPECT_EQ(function(), 42);
  EXPECT_EQ(*static_cast<const char**>(platform::dlsym(platform::dlopen(kCoreServices, 2), "_kLSPIDKey")), pidKey);

  // A symbol is found only in the library it was registered in, and never from the real linker.
  EXPECT_EQ(platform::dlsym(skyLight, "_kLSPIDKey"), nullptr);
  EXPECT_EQ(platform::dlsym(skyLight, "malloc"), nullptr);
  EXPECT_EQ(scene.world.callCount("dlsym:SLSMainConnectionID"), 1);
}

TEST(DynamicLoaderTest, TakingOneSymbolAwayLeavesTheRest) {
  Scene scene;
  scene.world.addFunction(kSkyLight, "SLSMainConnectionID", &connectionID);
  scene.world.addFunction(kSkyLight, "SLSCopyManagedDisplaySpaces", &otherFunction);
  const platform::LibraryHandle skyLight = platform::dlopen(kSkyLight, platform::RTLD_NOW_);

  scene.world.removeSymbol(kSkyLight, "SLSMainConnectionID");
  EXPECT_EQ(platform::dlsym(skyLight, "SLSMainConnectionID"), nullptr);
  EXPECT_NE(platform::dlsym(skyLight, "SLSCopyManagedDisplaySpaces"), nullptr);
  EXPECT_NE(platform::dlopen(kSkyLight, platform::RTLD_NOW_), nullptr);

  // Without the library nothing opens; a handle kept from before finds nothing.
  scene.world.removeLibrary(kSkyLight);
  EXPECT_EQ(platform::dlopen(kSkyLight, platform::RTLD_NOW_), nullptr);
  EXPECT_EQ(platform::dlsym(skyLight, "SLSCopyManagedDisplaySpaces"), nullptr);

  scene.world.addLibrary(kSkyLight);
  EXPECT_EQ(platform::dlopen(kSkyLight, platform::RTLD_NOW_), skyLight);
  EXPECT_EQ(platform::dlsym(skyLight, "SLSCopyManagedDisplaySpaces"), nullptr);
}
