#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <map>
#include <optional>

#include <gtest/gtest.h>

#include "platform/Paths.h"
#include "platform/Preferences.h"
#include "platform/TestTempRoot.h"

namespace greyfox {
namespace {

// Sets environment variables for one test and puts the old values back.
class Environment {
 public:
  void set(const char* name, const char* value) {
    if (!saved_.count(name)) {
      const char* old = std::getenv(name);
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value) ::setenv(name, value, 1); else ::unsetenv(name);
  }
  ~Environment() {
    for (auto& [name, value] : saved_) {
      if (value) ::setenv(name.c_str(), value->c_str(), 1); else ::unsetenv(name.c_str());
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

std::vector<std::pair<const char*, std::string>> everyPath(const Paths& p) {
  return {{"application data", p.applicationSupport()},
          {"config", p.configDirectory()},
          {"mount", p.mountDirectory()},
          {"sockets", p.socketDirectory()},
          {"tmp file", p.tmp("QuillboxSession.id")},
          {"socket", p.socket("quillbox.sock")},
          {"staging", p.stagingRoot()},
          {"preferences", p.preferencesFile()},
          {"keychain", p.keychainFile()}};
}

TEST(Paths, RootMovesEveryPathUnderIt) {
  Environment env;
  env.set("GREYFOX_ROOT", "/srv/gf");
  env.set("GREYFOX_MOUNT_DIR", nullptr);
  env.set("XDG_DATA_HOME", "/elsewhere/data");
  env.set("XDG_RUNTIME_DIR", "/run/user/1000");
  Paths p = Paths::fromEnvironment();
  for (const auto& [name, path] : everyPath(p)) {
    EXPECT_EQ(path.rfind("/srv/gf/", 0), 0u) << name << ": " << path;
  }
  EXPECT_EQ(p.stagingRoot(), "/srv/gf/tmp/QuillboxTmp/temp");
  EXPECT_EQ(p.socket("quillboxupload.sock"), "/srv/gf/run/quillboxupload.sock");
}

TEST(Paths, XdgDefaultsWithoutARoot) {
  struct Case {
    const char* name;
    const char* dataHome;
    const char* configHome;
    const char* runtimeDir;
    const char* mountDir;
    std::string data, config, sockets, mount;
  } cases[] = {
      {"nothing set", nullptr, nullptr, nullptr, nullptr, "/home/u/.local/share", "/home/u/.config/greyfox", "/tmp",
       "/home/u/Drives"},
      {"XDG set", "/x/data", "/x/config", "/run/user/7", nullptr, "/x/data", "/x/config/greyfox", "/run/user/7",
       "/home/u/Drives"},
      {"mount dir set", nullptr, nullptr, nullptr, "/media/q", "/home/u/.local/share", "/home/u/.config/greyfox",
       "/tmp", "/media/q"},
  };
  for (const auto& c : cases) {
    Environment env;
    env.set("GREYFOX_ROOT", nullptr);
    env.set("HOME", "/home/u");
    env.set("XDG_DATA_HOME", c.dataHome);
    env.set("XDG_CONFIG_HOME", c.configHome);
    env.set("XDG_RUNTIME_DIR", c.runtimeDir);
    env.set("GREYFOX_MOUNT_DIR", c.mountDir);
    Paths p = Paths::fromEnvironment();
    EXPECT_EQ(p.applicationSupport(), c.data) << c.name;
    EXPECT_EQ(p.configDirectory(), c.config) << c.name;
    EXPECT_EQ(p.socketDirectory(), c.sockets) << c.name;
    EXPECT_EQ(p.mountDirectory(), c.mount) << c.name;
    EXPECT_EQ(p.tmp("QuillboxSession.id"), "/tmp/QuillboxSession.id") << c.name;
    EXPECT_EQ(p.preferencesFile(), c.config + "/preferences.json") << c.name;
  }
}

TEST(Preferences, ValuesPersistAcrossInstances) {
  testing::TempRoot root;
  const std::string file = Paths::current().preferencesFile();
  {
    Preferences prefs(file);
    prefs.set("autoLogin", true);
    prefs.set("DBGKeys", {{"al_enabled", 1}});
    prefs.set("savedEmails", {"a@x", "b@x"});
    prefs.set("gone", 1);
    prefs.remove("gone");
  }
  Preferences again(file);
  EXPECT_TRUE(again.boolValue("autoLogin"));
  EXPECT_EQ(again.get("DBGKeys"), nlohmann::json({{"al_enabled", 1}}));
  EXPECT_EQ(again.get("savedEmails"), nlohmann::json({"a@x", "b@x"}));
  EXPECT_FALSE(again.contains("gone"));
  EXPECT_TRUE(again.get("gone").is_null());

  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(Preferences, BoolValueReadsBooleansAndNumbers) {
  testing::TempRoot root;
  Preferences prefs(Paths::current().preferencesFile());
  prefs.set("yes", true);
  prefs.set("one", 1);
  prefs.set("zero", 0);
  prefs.set("text", "YES");
  struct Case {
    const char* key;
    bool fallback, expected;
  } cases[] = {{"yes", false, true},  {"one", false, true},  {"zero", true, false},
               {"text", true, true},  {"text", false, false}, {"absent", true, true}};
  for (const auto& c : cases) EXPECT_EQ(prefs.boolValue(c.key, c.fallback), c.expected) << c.key;
}

TEST(Preferences, ACorruptFileStartsEmpty) {
  testing::TempRoot root;
  const std::string file = root.path() + "/prefs.json";
  std::ofstream(file) << "{\"running\": tru";
  Preferences prefs(file);
  EXPECT_FALSE(prefs.contains("running"));
  prefs.set("running", false);
  EXPECT_EQ(Preferences(file).get("running"), false);
}

TEST(Preferences, StandardFollowsThePathsInForce) {
  testing::TempRoot first;
  Preferences::standard().set("drive", "one");
  testing::TempRoot second;
  EXPECT_FALSE(Preferences::standard().contains("drive"));
  EXPECT_EQ(Preferences::standard().file(), second.path() + "/config/preferences.json");
}

}  // namespace
}  // namespace greyfox
