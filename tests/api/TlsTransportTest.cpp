// The transport verifies the service's certificate: a service with a
// self-signed certificate is reached only when its authority is configured.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "ApiTestSupport.h"
#include "api/CurlTransport.h"
#include "api/QBApiRequest.h"

namespace greyfox {
namespace {

namespace fs = std::filesystem;

class TlsTransport : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = fs::temp_directory_path() / ("greyfox-tls-" + std::to_string(::getpid()));
    fs::create_directories(dir_ / "data");
    std::string cmd = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 "
                      "-addext subjectAltName=IP:127.0.0.1 -keyout " +
                      (dir_ / "key.pem").string() + " -out " + (dir_ / "cert.pem").string() + " 2>/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << "openssl could not make a certificate";

    const char* bin = std::getenv("GREYFOX_BIN_DIR");
    ASSERT_TRUE(bin) << "GREYFOX_BIN_DIR is not set";
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::close(out[0]);
      std::string exe = std::string(bin) + "/quillbox-devservice";
      std::string data = (dir_ / "data").string(), cert = (dir_ / "cert.pem").string(),
                  key = (dir_ / "key.pem").string();
      ::execl(exe.c_str(), exe.c_str(), "--listen", "127.0.0.1:0", "--data", data.c_str(), "--seed", "demo",
              "--tls-cert", cert.c_str(), "--tls-key", key.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(out[1]);
    FILE* in = ::fdopen(out[0], "r");
    char line[512] = {0};
    ASSERT_TRUE(std::fgets(line, sizeof line, in)) << "the service printed nothing";
    std::fclose(in);
    std::string text = line;
    ASSERT_EQ(text.rfind("listening on https://", 0), 0u) << text;
    baseUrl_ = text.substr(13, text.find('\n') - 13);
  }
  static void TearDownTestSuite() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  void SetUp() override { ::setenv("GREYFOX_SERVICE_URL", baseUrl_.c_str(), 1); }
  void TearDown() override { ::unsetenv("GREYFOX_SERVICE_URL"); }

  static bool login(ErrorPtr* error) {
    auto r = QBApiRequest::requestWithMethod(
        "POST", "session/login.json", nlohmann::json{{"username", "demo@greyfox.test"}, {"passwd", "greyfox-demo"}});
    r->numberOfRetries = 0;
    nlohmann::json reply;
    return r->sendSyncWith(error, &reply) && reply.contains("SessionID");
  }

  test::ApiTestEnvironment env;
  static fs::path dir_;
  static pid_t pid_;
  static std::string baseUrl_;
};

fs::path TlsTransport::dir_;
pid_t TlsTransport::pid_ = -1;
std::string TlsTransport::baseUrl_;

TEST_F(TlsTransport, ConfiguredAuthorityIsTrusted) {
  HttpTransport::install(std::make_shared<CurlTransport>(CurlTransportOptions{(dir_ / "cert.pem").string()}));
  ErrorPtr error;
  EXPECT_TRUE(login(&error)) << (error ? error->message() : "");
}

TEST_F(TlsTransport, UnknownCertificateIsRefused) {
  HttpTransport::install(std::make_shared<CurlTransport>(CurlTransportOptions{}));
  ErrorPtr error;
  EXPECT_FALSE(login(&error));
  ASSERT_TRUE(error && error->underlying);
  EXPECT_EQ(error->code, -100);
  EXPECT_EQ(error->underlying->domain, kHttpTransportErrorDomain);
}

}  // namespace
}  // namespace greyfox
