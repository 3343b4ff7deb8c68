#include "api/RequestEncoding.h"

#include <cstdio>
#include <cstdlib>

namespace greyfox {

std::string urlEncode(std::string_view text) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (unsigned char c : text) {
    bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                c == '.' || c == '_' || c == '~';
    if (keep) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 0xF]);
    }
  }
  return out;
}

std::string parameterText(const nlohmann::json& value) {
  switch (value.type()) {
    case nlohmann::json::value_t::string:
      return value.get<std::string>();
    case nlohmann::json::value_t::boolean:
      return value.get<bool>() ? "1" : "0";
    case nlohmann::json::value_t::binary: {
      const auto& b = value.get_binary();
      return std::string(b.begin(), b.end());
    }
    case nlohmann::json::value_t::number_float: {
      double d = value.get<double>();
      char buf[64] = {0};
      // The shortest text that reads back as the same value.
      for (int precision = 1; precision <= 17; ++precision) {
        std::snprintf(buf, sizeof buf, "%.*g", precision, d);
        if (std::strtod(buf, nullptr) == d) break;
      }
      return buf;
    }
    case nlohmann::json::value_t::null:
      return "";
    default:
      return value.dump();
  }
}

std::string queryString(const nlohmann::json& parameters, std::string_view skip) {
  std::string out;
  if (!parameters.is_object()) return out;
  for (const auto& [key, value] : parameters.items()) {
    if (!skip.empty() && key == skip) continue;
    if (!out.empty()) out += '&';
    out += urlEncode(key);
    out += '=';
    out += urlEncode(parameterText(value));
  }
  return out;
}

std::string multipartBody(const nlohmann::json& parameters) {
  const std::string boundary = kMultipartBoundary;
  std::string body;
  if (parameters.is_object()) {
    for (const auto& [key, value] : parameters.items()) {
      body += "\r\n--" + boundary + "\r\n";
      if (value.is_binary()) {
        body += "Content-Disposition: form-data; name=\"" + key + "\"; filename=\"" + key + "\"\r\n";
        body += "Content-Type: application/octet-stream\r\n\r\n";
      } else {
        body += "Content-Disposition: form-data; name=\"" + key + "\"\r\n\r\n";
      }
      body += parameterText(value);
    }
  }
  body += "\r\n--" + boundary + "--\r\n";
  return body;
}

std::string resolveEndpoint(const std::string& base, const std::string& endpoint) {
  size_t scheme = base.find("://");
  size_t pathStart = scheme == std::string::npos ? 0 : base.find('/', scheme + 3);
  if (pathStart == std::string::npos) pathStart = base.size();
  if (!endpoint.empty() && endpoint[0] == '/') return base.substr(0, pathStart) + endpoint;
  size_t query = base.find_first_of("?#", pathStart);
  std::string path = base.substr(0, query);
  size_t lastSlash = path.rfind('/');
  if (lastSlash == std::string::npos || lastSlash < pathStart) return path + "/" + endpoint;
  return path.substr(0, lastSlash + 1) + endpoint;
}

}  // namespace greyfox
