#include "ServiceClient.h"

#include <curl/curl.h>

#include <stdexcept>

namespace greyfox::test {

namespace {

const std::string kBoundary = "------WebKitFormBoundaryf8AVk0gFLWQNUVjP";

std::string escape(const std::string& text) {
  char* e = curl_easy_escape(nullptr, text.c_str(), static_cast<int>(text.size()));
  std::string out = e ? e : "";
  curl_free(e);
  return out;
}

size_t collect(char* data, size_t size, size_t n, void* out) {
  static_cast<std::string*>(out)->append(data, size * n);
  return size * n;
}

}  // namespace

std::string Reply::errorMessage() const {
  auto j = json();
  if (!j.is_object() || j.size() != 1 || !j.contains("error")) return "";
  return j["error"].value("message", "");
}

std::string ServiceClient::url(const std::string& path, const Query& query) const {
  std::string u = base_ + path + "?";
  bool first = true;
  for (const auto& [k, v] : query) {
    u += (first ? "" : "&") + escape(k) + "=" + escape(v);
    first = false;
  }
  return u;
}

Reply ServiceClient::perform(const std::string& method, const std::string& u, const std::string* body,
                             const std::string& contentType) const {
  CURL* curl = curl_easy_init();
  Reply reply;
  curl_slist* headers = nullptr;
  if (!contentType.empty()) headers = curl_slist_append(headers, ("Content-Type: " + contentType).c_str());
  curl_easy_setopt(curl, CURLOPT_URL, u.c_str());
  curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 60L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  if (!caFile_.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, caFile_.c_str());
  if (body) {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body->data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body->size()));
  }
  CURLcode rc = curl_easy_perform(curl);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  if (rc != CURLE_OK) reply.status = -static_cast<long>(rc);
  return reply;
}

Reply ServiceClient::get(const std::string& path, const Query& query) const {
  return perform("GET", url(path, query), nullptr, "");
}

Reply ServiceClient::del(const std::string& path, const Query& query) const {
  return perform("DELETE", url(path, query), nullptr, "");
}

Reply ServiceClient::post(const std::string& path, const nlohmann::json& body) const {
  std::string text = body.dump();
  return perform("POST", base_ + path, &text, "application/json");
}

Reply ServiceClient::put(const std::string& path, const nlohmann::json& body) const {
  std::string text = body.dump();
  return perform("PUT", base_ + path, &text, "application/json");
}

Reply ServiceClient::uploadChunk(const std::string& session, const std::string& fileId, const std::string& temp,
                                 uint64_t offset, const std::string& bytes) const {
  Query query = {{"temp_location", temp},
                 {"chunk_offset", std::to_string(offset)},
                 {"chunk_size", std::to_string(bytes.size())}};
  std::string body;
  for (const auto& [name, value] : query)
    body += "\r\n--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value;
  body += "\r\n--" + kBoundary +
          "\r\nContent-Disposition: form-data; name=\"file_data\"; filename=\"file_data\"\r\n"
          "Content-Type: application/octet-stream\r\n\r\n" +
          bytes + "\r\n--" + kBoundary + "--\r\n";
  return perform("POST", url("upload/upload_file_chunk2.json/" + session + "/" + fileId, query), &body,
                 "multipart/form-data; boundary=" + kBoundary);
}

std::string ServiceClient::login(const std::string& user, const std::string& password) const {
  Reply r = post("session/login.json", {{"username", user}, {"passwd", password}, {"version", "0.1"}});
  auto j = r.json();
  return r.status == 200 && j.contains("SessionID") ? j["SessionID"].get<std::string>() : "";
}

Reply ServiceClient::uploadFile(const std::string& session, const std::string& folderId, const std::string& name,
                                const std::string& bytes, size_t chunkSize) const {
  Reply created = post("upload/create_file.json", {{"session_id", session},
                                                   {"folder_id", folderId},
                                                   {"file_name", name},
                                                   {"file_size", bytes.size()}});
  auto c = created.json();
  if (created.status != 200) return created;
  std::string fileId = c["FileId"], temp = c["TempLocation"];
  for (size_t offset = 0; offset < bytes.size(); offset += chunkSize) {
    Reply chunk = uploadChunk(session, fileId, temp, offset, bytes.substr(offset, chunkSize));
    if (chunk.status != 200) return chunk;
  }
  return post("upload/close_file_upload.json", {{"session_id", session},
                                                {"file_id", fileId},
                                                {"file_size", bytes.size()},
                                                {"temp_location", temp},
                                                {"file_time", 1700000000}});
}

}  // namespace greyfox::test
