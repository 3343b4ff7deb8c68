#include "TestControls.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>

#include "Service.h"

namespace greyfox::devservice {

namespace {

void replyControlError(httplib::Response& res, int status, const std::string& message) {
  res.status = status;
  res.set_content(nlohmann::json{{"error", message}}.dump(), "application/json");
}

std::vector<std::string> components(const std::string& path) {
  std::vector<std::string> out;
  for (size_t start = 0; start < path.size();) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    if (slash > start) out.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  return out;
}

// The folder at `parts` below the user's root; missing folders are made when `create`.
std::optional<int64_t> folderAt(Store& store, const User& user, const std::vector<std::string>& parts, bool create) {
  int64_t current = user.rootId;
  for (const auto& name : parts) {
    auto child = store.childFolderNamed(current, name);
    if (child) {
      current = child->id;
    } else if (create) {
      current = store.createFolder(current, name);
    } else {
      return std::nullopt;
    }
  }
  return current;
}

User userParam(Store& store, const std::string& name) {
  auto user = store.findUser(name);
  if (!user) throw ApiError(404, "no such user: " + name);
  return *user;
}

// Runs `body` under the store's lock, turning failures into control errors.
template <typename F>
void guarded(Store& store, httplib::Response& res, F body) {
  try {
    std::lock_guard lock(store.mutex());
    body();
  } catch (const ApiError& e) {
    replyControlError(res, e.status, e.what());
  } catch (const std::exception& e) {
    replyControlError(res, 400, e.what());
  }
}

nlohmann::json bodyJson(const httplib::Request& req) {
  auto j = nlohmann::json::parse(req.body, nullptr, false);
  if (!j.is_object()) throw ApiError(400, "body must be a JSON object");
  return j;
}

}  // namespace

void installTestControls(httplib::Server& server, Store& store, Faults& faults) {
  server.Post("/_test/users", [&store](const httplib::Request& req, httplib::Response& res) {
    guarded(store, res, [&] {
      User u = store.upsertUser(bodyJson(req));
      replyJson(res, {{"username", u.username}, {"id", std::to_string(u.id)}});
    });
  });

  server.Put("/_test/files", [&store](const httplib::Request& req, httplib::Response& res,
                                      const httplib::ContentReader& reader) {
    static std::atomic<int> counter{0};
    std::string temp = store.dataDir() + "/uploads/put-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    {
      std::ofstream out(temp, std::ios::binary | std::ios::trunc);
      bool ok = reader([&out](const char* data, size_t n) { return static_cast<bool>(out.write(data, n)); });
      out.flush();
      if (!ok || !out) {
        std::filesystem::remove(temp);
        return replyControlError(res, 500, "could not store the body");
      }
    }
    guarded(store, res, [&] {
      User u = userParam(store, req.get_param_value("user"));
      auto parts = components(req.get_param_value("path"));
      if (parts.empty()) throw ApiError(400, "path names no file");
      std::string name = parts.back();
      parts.pop_back();
      int64_t folder = *folderAt(store, u, parts, true);
      auto existing = store.childFileNamed(folder, name);
      int64_t id = existing ? existing->id : store.createFile(folder, name, Store::now());
      int64_t size = static_cast<int64_t>(std::filesystem::file_size(temp));
      store.replaceContent(id, temp, size, Store::now());
      replyJson(res, {{"FileId", std::to_string(id)}});
    });
    std::error_code ec;
    std::filesystem::remove(temp, ec);
  });

  server.Get("/_test/files", [&store](const httplib::Request& req, httplib::Response& res) {
    guarded(store, res, [&] {
      User u = userParam(store, req.get_param_value("user"));
      auto parts = components(req.get_param_value("path"));
      if (parts.empty()) throw ApiError(404, "no such file");
      std::string name = parts.back();
      parts.pop_back();
      auto folder = folderAt(store, u, parts, false);
      auto file = folder ? store.childFileNamed(*folder, name) : std::nullopt;
      if (!file) throw ApiError(404, "no such file");
      std::string blob = store.blobPath(*file);
      if (blob.empty() || file->held == 0) return res.set_content("", "application/octet-stream");
      auto fd = std::make_shared<int>(::open(blob.c_str(), O_RDONLY | O_CLOEXEC));
      if (*fd < 0) throw std::runtime_error("cannot open " + blob);
      res.set_content_provider(
          static_cast<size_t>(file->held), "application/octet-stream",
          [fd](size_t offset, size_t length, httplib::DataSink& sink) {
            std::string buffer(std::min<size_t>(length, 256 * 1024), '\0');
            ssize_t n = ::pread(*fd, buffer.data(), buffer.size(), static_cast<off_t>(offset));
            return n > 0 && sink.write(buffer.data(), static_cast<size_t>(n));
          },
          [fd](bool) { ::close(*fd); });
    });
  });

  server.Post("/_test/encrypt", [&store](const httplib::Request& req, httplib::Response& res) {
    guarded(store, res, [&] {
      auto body = bodyJson(req);
      User u = userParam(store, body.value("user", ""));
      auto folder = folderAt(store, u, components(body.value("path", "")), true);
      store.setSecureMark(*folder);
      replyJson(res, {{"FolderID", std::to_string(*folder)}});
    });
  });

  server.Get("/_test/2fa", [&store](const httplib::Request& req, httplib::Response& res) {
    guarded(store, res, [&] {
      User u = userParam(store, req.get_param_value("user"));
      replyJson(res, {{"code", u.lastTwoFactorCode}});
    });
  });

  server.Post("/_test/notifications", [&store](const httplib::Request& req, httplib::Response& res) {
    guarded(store, res, [&] {
      auto body = bodyJson(req);
      User u = userParam(store, body.value("user", ""));
      store.addNotification(u.id, body.value("type", int64_t{0}), body.value("text", ""), body.value("url", ""));
      replyJson(res, {{"ok", true}});
    });
  });

  server.Get("/_test/stats", [&faults](const httplib::Request&, httplib::Response& res) {
    replyJson(res, {{"requests", faults.stats()}});
  });
  server.Delete("/_test/stats", [&faults](const httplib::Request&, httplib::Response& res) {
    faults.resetStats();
    replyJson(res, {{"ok", true}});
  });

  server.Post("/_test/faults", [&faults](const httplib::Request& req, httplib::Response& res) {
    try {
      faults.add(bodyJson(req));
      replyJson(res, {{"ok", true}});
    } catch (const std::exception& e) {
      replyControlError(res, 400, e.what());
    }
  });
  server.Delete("/_test/faults", [&faults](const httplib::Request&, httplib::Response& res) {
    faults.clear();
    replyJson(res, {{"ok", true}});
  });
}

}  // namespace greyfox::devservice
