#include "platform/KeychainStore.h"

#include "platform/Files.h"
#include "platform/Paths.h"

namespace greyfox {

namespace {
std::mutex sharedMutex;
std::shared_ptr<KeychainStore>& installedStore() {
  static std::shared_ptr<KeychainStore> store;
  return store;
}

bool missingArgument(const std::string& service, const std::string& account, ErrorPtr* error) {
  if (!service.empty() && !account.empty()) return false;
  setError(error, kKeychainErrorDomain, kKeychainMissingArgument, "missing service or account");
  return true;
}

// Secrets are stored hex-encoded so any bytes survive the JSON file.
std::string toHex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::optional<std::string> fromHex(const std::string& hex) {
  auto value = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  if (hex.size() % 2) return std::nullopt;
  std::string out;
  for (size_t i = 0; i < hex.size(); i += 2) {
    int hi = value(hex[i]), lo = value(hex[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out += static_cast<char>(hi * 16 + lo);
  }
  return out;
}
}  // namespace

KeychainStore& KeychainStore::shared() {
  std::lock_guard lock(sharedMutex);
  auto& store = installedStore();
  if (!store) store = std::make_shared<FileKeychainStore>(Paths::current().keychainFile());
  return *store;
}

void KeychainStore::install(std::shared_ptr<KeychainStore> store) {
  // Callers hold the reference shared() gave them without the lock, so a
  // replaced store is kept alive for the rest of the process.
  static auto* retired = new std::vector<std::shared_ptr<KeychainStore>>();
  std::lock_guard lock(sharedMutex);
  retired->push_back(std::move(installedStore()));
  installedStore() = std::move(store);
}

FileKeychainStore::FileKeychainStore(std::string file) : file_(std::move(file)) {}

nlohmann::json FileKeychainStore::load() const {
  if (auto text = readWholeFile(file_)) {
    auto parsed = nlohmann::json::parse(*text, nullptr, false);
    if (parsed.is_array()) return parsed;
  }
  return nlohmann::json::array();
}

bool FileKeychainStore::store(const nlohmann::json& items, ErrorPtr* error) {
  ErrorPtr cause;
  if (writeFileAtomically(file_, items.dump(), 0600, &cause)) return true;
  setError(error, kKeychainErrorDomain, kKeychainWriteFailed, cause ? cause->message() : "write failed");
  return false;
}

bool FileKeychainStore::setPasswordData(const std::string& bytes, const std::string& service,
                                        const std::string& account, ErrorPtr* error) {
  if (missingArgument(service, account, error)) return false;
  std::lock_guard lock(mutex_);
  auto items = load();
  nlohmann::json kept = nlohmann::json::array();
  for (auto& item : items)
    if (!(item.value("svce", "") == service && item.value("acct", "") == account)) kept.push_back(item);
  kept.push_back({{"svce", service}, {"acct", account}, {"data", toHex(bytes)}});
  return store(kept, error);
}

std::optional<std::string> FileKeychainStore::passwordData(const std::string& service, const std::string& account,
                                                           ErrorPtr* error) {
  if (missingArgument(service, account, error)) return std::nullopt;
  std::lock_guard lock(mutex_);
  for (auto& item : load()) {
    if (item.value("svce", "") == service && item.value("acct", "") == account) {
      if (auto bytes = fromHex(item.value("data", ""))) return bytes;
    }
  }
  setError(error, kKeychainErrorDomain, kKeychainItemNotFound, "The specified item could not be found in the keychain.");
  return std::nullopt;
}

bool FileKeychainStore::deletePassword(const std::string& service, const std::string& account, ErrorPtr* error) {
  if (missingArgument(service, account, error)) return false;
  std::lock_guard lock(mutex_);
  auto items = load();
  nlohmann::json kept = nlohmann::json::array();
  for (auto& item : items)
    if (!(item.value("svce", "") == service && item.value("acct", "") == account)) kept.push_back(item);
  if (kept.size() == items.size()) {
    setError(error, kKeychainErrorDomain, kKeychainItemNotFound, "The specified item could not be found in the keychain.");
    return false;
  }
  return store(kept, error);
}

std::vector<nlohmann::json> FileKeychainStore::accounts(const std::string& service, ErrorPtr*) {
  std::lock_guard lock(mutex_);
  std::vector<nlohmann::json> out;
  for (auto& item : load())
    if (service.empty() || item.value("svce", "") == service)
      out.push_back({{"svce", item.value("svce", "")}, {"acct", item.value("acct", "")}});
  return out;
}

}  // namespace greyfox
