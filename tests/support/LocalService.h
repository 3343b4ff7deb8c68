// Starts a quillbox-devservice for a test and talks to its test controls.
//
// Component tests make one LocalService (usually per test suite), point their
// client at baseUrl(), and use the controls to seed users and files, inspect
// what the service holds, count requests and inject faults. The service
// binary is taken from $GREYFOX_BIN_DIR, which greyfox_add_test sets.
//
// Not thread-safe: use one LocalService from one thread at a time.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace greyfox::test {

class LocalService {
 public:
  struct Options {
    bool seedDemo = true;
    bool testControls = true;
    std::string dataDir;  // empty: a fresh temporary folder removed at the end
    // Both set: the service speaks HTTPS with this certificate and key, and
    // baseUrl() starts with "https://" (the controls do not verify the peer).
    std::string tlsCert, tlsKey;
  };

  // Starts "$GREYFOX_BIN_DIR/quillbox-devservice --listen 127.0.0.1:0 ..." and
  // waits (at most 10 s) for its "listening on URL" line. Throws
  // std::runtime_error when it cannot start.
  explicit LocalService(Options options);
  LocalService();  // the default Options
  // SIGTERM, then waits; removes the temporary data folder if it made one.
  ~LocalService();
  LocalService(const LocalService&) = delete;
  LocalService& operator=(const LocalService&) = delete;

  // "http://127.0.0.1:PORT/api/v1/" (or https)
  const std::string& baseUrl() const { return baseUrl_; }
  const std::string& dataDir() const { return dataDir_; }

  // The service goes away at once (SIGKILL: a pulled cable, or a crash).
  void stop();
  // Back on the same port with the same data. Throws std::runtime_error.
  void start();

  // Test controls; each throws std::runtime_error when the service refuses.
  void addUser(const nlohmann::json& user);
  void putFile(const std::string& user, const std::string& path, const std::string& bytes);
  // The bytes the service holds for the path (ciphertext in secure folders),
  // or nullopt when it has no such file.
  std::optional<std::string> getFile(const std::string& user, const std::string& path);
  // The same two controls streamed, for files too large to hold in memory:
  // the body is sent from `localFile`, and the bytes held are handed to
  // `sink` piece by piece (answering how many arrived).
  void putFileFrom(const std::string& user, const std::string& path, const std::string& localFile);
  std::uint64_t streamFile(const std::string& user, const std::string& path,
                           const std::function<void(const char*, std::size_t)>& sink);
  void encryptFolder(const std::string& user, const std::string& path);
  std::string twoFactorCode(const std::string& user);
  void addNotification(const nlohmann::json& n);
  nlohmann::json stats();  // the "requests" object
  void resetStats();
  void addFault(const nlohmann::json& fault);
  void clearFaults();

 private:
  void launch(const std::string& listen);
  // One control request; answers the status and fills `body`.
  long control(const std::string& method, const std::string& pathAndQuery, const std::string& payload,
               std::string* body);
  std::string controlUrl(const std::string& pathAndQuery) const;

  Options options_;
  std::string dataDir_;
  bool ownsDataDir_ = false;
  std::string baseUrl_;
  std::string rootUrl_;  // "http://127.0.0.1:PORT"
  int port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace greyfox::test
