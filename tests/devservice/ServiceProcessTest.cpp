// The service as a process: its options and HTTPS.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "ServiceClient.h"
#include "support/LocalService.h"

namespace greyfox::test {
namespace {

std::string binary() { return std::string(std::getenv("GREYFOX_BIN_DIR")) + "/quillbox-devservice"; }

int exitCodeOf(const std::string& arguments) {
  int status = std::system((binary() + " " + arguments + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ServiceProcessTest, RefusesBadOptions) {
  std::string dir = (std::filesystem::temp_directory_path() / "greyfox-devservice-options").string();
  struct Case {
    const char* name;
    std::string arguments;
    int exitCode;
  };
  const Case cases[] = {
      {"no data directory", "--listen 127.0.0.1:0", 2},
      {"unknown option", "--data " + dir + " --fast", 2},
      {"unknown seed", "--data " + dir + " --seed everything", 2},
      {"certificate without key", "--data " + dir + " --tls-cert /nonexistent", 2},
      {"unreadable certificate", "--data " + dir + " --listen 127.0.0.1:0 --tls-cert /nonexistent --tls-key /nonexistent", 1},
  };
  for (const auto& c : cases) EXPECT_EQ(exitCodeOf(c.arguments), c.exitCode) << c.name;
  std::filesystem::remove_all(dir);
}

TEST(ServiceProcessTest, SeedsADataDirectoryWithoutUsersOnly) {
  auto dir = std::filesystem::temp_directory_path() / ("greyfox-devservice-seed-" + std::to_string(::getpid()));
  LocalService::Options options;
  options.dataDir = dir.string();
  options.seedDemo = false;
  {
    LocalService bare(options);
    EXPECT_TRUE(ServiceClient(bare.baseUrl()).login("demo@greyfox.test").empty()) << "no seed asked for";
  }
  options.seedDemo = true;
  {
    LocalService seeded(options);
    EXPECT_FALSE(ServiceClient(seeded.baseUrl()).login("demo@greyfox.test").empty()) << "no users yet: seeded";
    seeded.putFile("demo@greyfox.test", "/Documents/readme.txt", "changed");
  }
  {
    LocalService again(options);
    EXPECT_EQ(again.getFile("demo@greyfox.test", "/Documents/readme.txt"), "changed") << "not seeded over";
  }
  std::filesystem::remove_all(dir);
}

TEST(ServiceProcessTest, ServesHttpsWithTheGivenCertificate) {
  auto dir = std::filesystem::temp_directory_path() / ("greyfox-devservice-tls-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::string cert = (dir / "cert.pem").string(), key = (dir / "key.pem").string();
  int made = std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 "
                          "-addext subjectAltName=IP:127.0.0.1 -keyout " + key + " -out " + cert + " >/dev/null 2>&1")
                             .c_str());
  if (made != 0) {
    std::filesystem::remove_all(dir);
    GTEST_SKIP() << "no openssl command to make a certificate";
  }
  {
    LocalService::Options options;
    options.tlsCert = cert;
    options.tlsKey = key;
    LocalService service(options);
    ASSERT_EQ(service.baseUrl().rfind("https://127.0.0.1:", 0), 0u) << service.baseUrl();
    ServiceClient trusting(service.baseUrl(), cert);
    EXPECT_FALSE(trusting.login("demo@greyfox.test").empty()) << "verified against the given certificate";
    ServiceClient untrusting(service.baseUrl());
    EXPECT_LT(untrusting.get("users/info.json/x").status, 0) << "an unknown certificate is not trusted";
    service.putFile("demo@greyfox.test", "/tls.txt", "over tls");
    EXPECT_EQ(service.getFile("demo@greyfox.test", "/tls.txt"), "over tls") << "controls work over https";
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace greyfox::test
