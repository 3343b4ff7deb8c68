#include "platform/KeychainStore.h"

#include <sys/stat.h>

#include <functional>
#include <set>
#include <memory>

#include <gtest/gtest.h>

#include "platform/TestTempRoot.h"

namespace greyfox {
namespace {

struct StoreFactory {
  const char* name;
  std::function<std::shared_ptr<KeychainStore>(const std::string& root)> make;
};

// Every KeychainStore implementation must pass this suite.
class KeychainConformance : public ::testing::TestWithParam<StoreFactory> {
 protected:
  testing::TempRoot root;
  std::shared_ptr<KeychainStore> store = GetParam().make(root.path());
};

TEST_P(KeychainConformance, MissingServiceOrAccountIsRefused) {
  struct Case {
    const char* name;
    std::string service, account;
  } cases[] = {{"no service", "", "alice"}, {"no account", "QuillboxAutoLogin", ""}, {"neither", "", ""}};
  for (const auto& c : cases) {
    ErrorPtr e1, e2, e3;
    EXPECT_FALSE(store->setPassword("pw", c.service, c.account, &e1)) << c.name;
    EXPECT_FALSE(store->password(c.service, c.account, &e2)) << c.name;
    EXPECT_FALSE(store->deletePassword(c.service, c.account, &e3)) << c.name;
    for (const auto& e : {e1, e2, e3}) {
      ASSERT_TRUE(e) << c.name;
      EXPECT_EQ(e->code, kKeychainMissingArgument) << c.name;
    }
  }
}

TEST_P(KeychainConformance, StoreReplaceReadAndDelete) {
  ErrorPtr error;
  ASSERT_TRUE(store->setPassword("first", "QuillboxAutoLogin", "alice", &error));
  ASSERT_TRUE(store->setPassword("other", "QuillboxSecureFolder", "alice", &error));
  ASSERT_TRUE(store->setPassword("second", "QuillboxAutoLogin", "alice", &error));
  EXPECT_EQ(store->password("QuillboxAutoLogin", "alice", &error), "second");
  EXPECT_EQ(store->password("QuillboxSecureFolder", "alice", &error), "other");
  EXPECT_FALSE(error);

  ASSERT_TRUE(store->deletePassword("QuillboxAutoLogin", "alice", &error));
  EXPECT_FALSE(store->password("QuillboxAutoLogin", "alice", &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, kKeychainItemNotFound);

  ErrorPtr again;
  EXPECT_FALSE(store->deletePassword("QuillboxAutoLogin", "alice", &again));
  ASSERT_TRUE(again);
  EXPECT_EQ(again->code, kKeychainItemNotFound);
  EXPECT_EQ(store->password("QuillboxSecureFolder", "alice", nullptr), "other") << "the other item stays";
}

TEST_P(KeychainConformance, ListsAccountsByService) {
  store->setPassword("a", "QuillboxAutoLogin", "alice", nullptr);
  store->setPassword("b", "QuillboxAutoLogin", "bob", nullptr);
  store->setPassword("c", "QuillboxSecureFolder", "alice", nullptr);
  auto logins = store->accounts("QuillboxAutoLogin", nullptr);
  ASSERT_EQ(logins.size(), 2u);
  std::set<std::string> names;
  for (const auto& item : logins) {
    EXPECT_EQ(item["svce"], "QuillboxAutoLogin");
    EXPECT_FALSE(item.contains("data")) << "listing never carries the secret";
    names.insert(item["acct"]);
  }
  EXPECT_EQ(names, (std::set<std::string>{"alice", "bob"}));
  EXPECT_EQ(store->accounts("", nullptr).size(), 3u);
  EXPECT_TRUE(store->accounts("Unknown", nullptr).empty());
}

TEST_P(KeychainConformance, AnyBytesSurvive) {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  bytes += "\xc3\xa9\"\\{}";
  ASSERT_TRUE(store->setPasswordData(bytes, "QuillboxSecureFolder", "al\"ice", nullptr));
  EXPECT_EQ(store->passwordData("QuillboxSecureFolder", "al\"ice", nullptr), bytes);
  ASSERT_TRUE(store->setPasswordData("", "QuillboxSecureFolder", "empty", nullptr));
  EXPECT_EQ(store->passwordData("QuillboxSecureFolder", "empty", nullptr), "");
}

INSTANTIATE_TEST_SUITE_P(Stores, KeychainConformance,
                         ::testing::Values(StoreFactory{"FileKeychainStore",
                                                        [](const std::string& root) {
                                                          return std::make_shared<FileKeychainStore>(
                                                              root + "/config/keychain.json");
                                                        }}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FileKeychainStore, OnlyTheUserCanReadItAndItPersists) {
  testing::TempRoot root;
  const std::string file = root.path() + "/config/keychain.json";
  ASSERT_TRUE(FileKeychainStore(file).setPassword("pw", "QuillboxAutoLogin", "alice", nullptr));
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat((root.path() + "/config").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0077, 0u) << "directory closed to others";
  EXPECT_EQ(FileKeychainStore(file).password("QuillboxAutoLogin", "alice", nullptr), "pw");
}

}  // namespace
}  // namespace greyfox
