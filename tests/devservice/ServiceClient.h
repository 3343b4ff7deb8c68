// Plain HTTP requests to the local service for its own tests, encoded the way
// the client encodes them: JSON bodies for POST and PUT, query pairs for GET
// and DELETE, and the multipart chunk upload with its query pairs.
#pragma once

#include <map>
#include <string>

#include <nlohmann/json.hpp>

namespace greyfox::test {

struct Reply {
  long status = 0;
  std::string body;
  // The body as JSON (discarded value when it is not JSON).
  nlohmann::json json() const { return nlohmann::json::parse(body, nullptr, false); }
  // The error reply's message, or "" when the body is not an error reply.
  std::string errorMessage() const;
};

class ServiceClient {
 public:
  using Query = std::map<std::string, std::string>;

  // `caFile`: the certificate to trust for an https base URL.
  explicit ServiceClient(std::string baseUrl, std::string caFile = "")
      : base_(std::move(baseUrl)), caFile_(std::move(caFile)) {}

  // `path` is the endpoint with its path arguments ("folder/list.json/S/0").
  Reply get(const std::string& path, const Query& query = {}) const;
  Reply del(const std::string& path, const Query& query = {}) const;
  Reply post(const std::string& path, const nlohmann::json& body) const;
  Reply put(const std::string& path, const nlohmann::json& body) const;
  // "upload/upload_file_chunk2.json/S/F" with temp_location, chunk_offset and
  // chunk_size in the query and as form parts, and the bytes as "file_data".
  Reply uploadChunk(const std::string& session, const std::string& fileId, const std::string& temp, uint64_t offset,
                    const std::string& bytes) const;
  // A session id, or "" when the sign-in was refused.
  std::string login(const std::string& user, const std::string& password = "greyfox-demo") const;

  // Create, chunks of `chunkSize`, close: the whole upload of a new or
  // replaced file. Answers the close reply.
  Reply uploadFile(const std::string& session, const std::string& folderId, const std::string& name,
                   const std::string& bytes, size_t chunkSize = 1 << 20) const;

 private:
  Reply perform(const std::string& method, const std::string& url, const std::string* body,
                const std::string& contentType) const;
  std::string url(const std::string& path, const Query& query) const;
  std::string base_;
  std::string caFile_;
};

}  // namespace greyfox::test
