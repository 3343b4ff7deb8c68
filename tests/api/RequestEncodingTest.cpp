// The bytes a request puts on the wire: percent-encoding, query strings,
// multipart bodies, endpoint resolution and the built HTTP request.
#include <gtest/gtest.h>

#include <sstream>

#include "api/QBApiRequest.h"
#include "api/RequestEncoding.h"

namespace greyfox {
namespace {

nlohmann::json bytes(const std::string& s) {
  return nlohmann::json::binary(std::vector<std::uint8_t>(s.begin(), s.end()));
}

TEST(UrlEncode, OnlyUnreservedCharactersStay) {
  struct Case {
    const char* name;
    std::string in;
    std::string out;
  } cases[] = {
      {"unreserved", "AZaz09-._~", "AZaz09-._~"},
      {"space", "x y", "x%20y"},
      {"removed delimiters", "!*'();:@&=+$,/?%#[]", "%21%2A%27%28%29%3B%3A%40%26%3D%2B%24%2C%2F%3F%25%23%5B%5D"},
      {"other query-allowed", "\"<>\\^`{|}", "%22%3C%3E%5C%5E%60%7B%7C%7D"},
      {"utf-8 bytes (NFD e + acute)", "e\xCC\x81", "e%CC%81"},
      {"control and NUL", std::string("\n\0", 2), "%0A%00"},
      {"empty", "", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(urlEncode(c.in), c.out) << c.name;
}

TEST(ParameterText, ValuesTakeTheirTextForm) {
  EXPECT_EQ(parameterText("a b"), "a b");
  EXPECT_EQ(parameterText(std::uint64_t{18446744073709551615u}), "18446744073709551615");
  EXPECT_EQ(parameterText(-5), "-5");
  EXPECT_EQ(parameterText(1.5), "1.5");
  EXPECT_EQ(parameterText(true), "1");
  EXPECT_EQ(parameterText(bytes("xy")), "xy");
}

TEST(Multipart, BodyIsByteExact) {
  nlohmann::json params = {{"temp_location", "tmp/a b"},
                           {"chunk_offset", std::uint64_t{1024}},
                           {"chunk_size", 5},
                           {"file_data", bytes(std::string("ab\0\r\n", 5))}};
  const std::string b = "------WebKitFormBoundaryf8AVk0gFLWQNUVjP";
  std::string expected = "\r\n--" + b + "\r\n" +
                         "Content-Disposition: form-data; name=\"chunk_offset\"\r\n\r\n1024" +
                         "\r\n--" + b + "\r\n" +
                         "Content-Disposition: form-data; name=\"chunk_size\"\r\n\r\n5" +
                         "\r\n--" + b + "\r\n" +
                         "Content-Disposition: form-data; name=\"file_data\"; filename=\"file_data\"\r\n" +
                         "Content-Type: application/octet-stream\r\n\r\n" + std::string("ab\0\r\n", 5) +
                         "\r\n--" + b + "\r\n" +
                         "Content-Disposition: form-data; name=\"temp_location\"\r\n\r\ntmp/a b" +
                         "\r\n--" + b + "--\r\n";
  EXPECT_EQ(multipartBody(params), expected);
  EXPECT_EQ(multipartBody(nlohmann::json::object()), "\r\n--" + b + "--\r\n");
}

TEST(ResolveEndpoint, RelativeReferences) {
  struct Case {
    const char* name;
    std::string base, endpoint, out;
  } cases[] = {
      {"api base", "https://h:8443/api/v1/", "folder/list.json", "https://h:8443/api/v1/folder/list.json"},
      {"base without final slash", "https://h/api/v1", "users.json", "https://h/api/users.json"},
      {"absolute path", "https://h/api/v1/", "/x.json", "https://h/x.json"},
      {"host only", "http://127.0.0.1:5000", "a.json", "http://127.0.0.1:5000/a.json"},
  };
  for (const auto& c : cases) EXPECT_EQ(resolveEndpoint(c.base, c.endpoint), c.out) << c.name;
}

// A built request against a fixed base.
HttpRequest build(const QBApiRequest::Ptr& r) {
  r->configuration->requestHost = "https://svc.test/api/v1/";
  ErrorPtr error;
  const HttpRequest* built = r->urlRequest(&error);
  EXPECT_NE(built, nullptr) << (error ? error->message() : "");
  return built ? *built : HttpRequest{};
}

std::string header(const HttpRequest& r, const std::string& name) {
  for (const auto& [n, v] : r.headers)
    if (n == name) return v;
  return "(none)";
}

TEST(BuiltRequest, UrlAndBodyFollowTheEncoding) {
  const std::string base = "https://svc.test/api/v1/";
  {
    auto r = build(QBApiRequest::requestWithMethod("GET", "users/info.json"));
    EXPECT_EQ(r.url, base + "users/info.json?") << "GET without parameters ends in ?";
    EXPECT_EQ(r.body, "");
  }
  {
    auto r = build(QBApiRequest::requestWithMethod("GET", "x.json", nlohmann::json{{"a", "x y"}}));
    EXPECT_EQ(r.url, base + "x.json?a=x%20y");
  }
  {
    auto r = build(QBApiRequest::requestWithMethod("DELETE", "folder/list.json", QBApiRequest::Arguments{"S 1", "F/2"},
                                                    nlohmann::json{{"last_request_time", "0"}, {"encryption_supported", "1"}}));
    EXPECT_EQ(r.url, base + "folder/list.json/S%201/F%2F2?encryption_supported=1&last_request_time=0");
    EXPECT_EQ(r.method, "DELETE");
  }
  {
    auto r = build(QBApiRequest::requestWithMethod("POST", "folder.json", nlohmann::json{{"folder_name", "a\"b"}}));
    EXPECT_EQ(r.url, base + "folder.json") << "POST parameters go to the body, not the URL";
    EXPECT_EQ(header(r, "Content-Type"), "application/json");
    EXPECT_EQ(nlohmann::json::parse(r.body), (nlohmann::json{{"folder_name", "a\"b"}}));
  }
  {
    auto r = build(QBApiRequest::requestWithMethod("POST", "session/logout.json"));
    EXPECT_EQ(r.body, "") << "POST without parameters has no body";
    EXPECT_EQ(header(r, "Content-Type"), "(none)");
  }
  {
    auto stream = std::make_shared<std::istringstream>("raw");
    auto req = QBApiRequest::requestWithMethod("PUT", "x.json", stream);
    EXPECT_EQ(req->parametersType, QBApiRequestParametersStream);
    auto r = build(req);
    EXPECT_EQ(r.bodyStream, stream);
  }
}

TEST(BuiltRequest, QueryAndMultipartKeepsFileDataOutOfTheUrl) {
  auto req = QBApiRequest::requestWithMethod(
      "POST", "upload/upload_file_chunk2.json", QBApiRequest::Arguments{"S", "F"},
      nlohmann::json{{"temp_location", "t"}, {"chunk_offset", std::uint64_t{7}}, {"chunk_size", 3}, {"file_data", bytes("abc")}});
  req->parametersType = QBApiRequestParametersQueryAndMultipart;
  auto r = build(req);
  EXPECT_EQ(r.url, "https://svc.test/api/v1/upload/upload_file_chunk2.json/S/F?chunk_offset=7&chunk_size=3&temp_location=t");
  EXPECT_EQ(header(r, "Content-Type"), "multipart/form-data; boundary=------WebKitFormBoundaryf8AVk0gFLWQNUVjP");
  EXPECT_EQ(r.body, multipartBody(req->parameters));
  EXPECT_NE(r.body.find("name=\"chunk_offset\"\r\n\r\n7"), std::string::npos);
  EXPECT_NE(r.body.find("filename=\"file_data\""), std::string::npos);
}

TEST(BuiltRequest, ParametersWithoutJsonFormFailToBuild) {
  struct Case {
    const char* name;
    nlohmann::json parameters;
  } cases[] = {
      {"byte buffer", {{"d", bytes("a")}}},
      {"invalid UTF-8 text", {{"folder_name", "bad\xC3("}}},
  };
  for (const auto& c : cases) {
    auto req = QBApiRequest::requestWithMethod("POST", "x.json", c.parameters);
    ErrorPtr error;
    EXPECT_EQ(req->urlRequest(&error), nullptr) << c.name;
    ASSERT_TRUE(error) << c.name;
    EXPECT_EQ(error->code, -97) << c.name;
    EXPECT_EQ(error->domain, "__FILE__") << c.name;
    EXPECT_TRUE(error->underlying) << c.name << ": the cause is kept";
    EXPECT_FALSE(error->failureReason()) << c.name;

    int failures = 0;
    req->setDataHandler([&](const std::optional<std::string>& data, ErrorPtr e) {
      EXPECT_FALSE(data) << c.name;
      EXPECT_EQ(e ? e->code : 0, -97) << c.name;
      ++failures;
    });
    req->sendAsync();
    EXPECT_EQ(failures, 1) << c.name << ": an unbuildable request reports at once";
    EXPECT_FALSE(req->isRunning()) << c.name;
  }
}

TEST(BuiltRequest, BuiltOnceAndReused) {
  auto req = QBApiRequest::requestWithMethod("GET", "a.json", nlohmann::json{{"k", "1"}});
  const HttpRequest* first = req->urlRequest(nullptr);
  req->parameters["k"] = "2";
  EXPECT_EQ(req->urlRequest(nullptr), first);
  EXPECT_NE(first->url.find("k=1"), std::string::npos);
}

TEST(RequestLog, HidesPasswordAndSummarisesBytes) {
  auto req = QBApiRequest::requestWithMethod("POST", "session/login.json",
                                             nlohmann::json{{"passwd", "secret"}, {"username", "u"}, {"blob", bytes("12345")}});
  EXPECT_EQ(req->parametersLogText(),
            "{\n  blob = \"NSData of 5\"\n  passwd = \"user_password\"\n  username = \"u\"\n");
}

TEST(ApiResponseFrom, DecodesEveryBodyShape) {
  struct Case {
    const char* name;
    std::optional<std::string> body;
    std::optional<nlohmann::json> out;
    long code;  // 0 when no error is expected
  } cases[] = {
      {"true", std::string("true"), nlohmann::json{{"response", "true"}}, 0},
      {"array", std::string("[1,2]"), nlohmann::json::object(), 0},
      {"empty", std::string(""), nlohmann::json::object(), 0},
      {"object", std::string(R"({"a":1})"), nlohmann::json{{"a", 1}}, 0},
      {"plain text", std::string("<html>oops"), std::nullopt, -98},
      {"number", std::string("42"), std::nullopt, -98},
      {"true with newline", std::string("true\n"), std::nullopt, -98},
      {"missing body", std::nullopt, std::nullopt, -98},
  };
  for (const auto& c : cases) {
    ErrorPtr error;
    auto out = QBApiRequest::apiResponseFrom(c.body, "ABCD", &error);
    EXPECT_EQ(out, c.out) << c.name;
    if (c.code) {
      ASSERT_TRUE(error) << c.name;
      EXPECT_EQ(error->code, c.code) << c.name;
      EXPECT_EQ(error->message(), "Possible internal server error") << c.name;
    }
  }
}

TEST(Request, DefaultsAndCancelNotification) {
  auto a = QBApiRequest::requestWithMethod("GET", "a.json");
  auto b = QBApiRequest::requestWithMethod("GET", "a.json");
  EXPECT_EQ(a->uid.size(), 4u);
  EXPECT_NE(a->uid, b->uid);
  EXPECT_EQ(a->numberOfRetries, 3u);
  EXPECT_EQ(a->timeout, 240);
  EXPECT_EQ(a->state(), QBApiRequestStateIdle);
  EXPECT_FALSE(a->operationsCancelled());
  NotificationCenter::defaultCenter().post("CancelAllUploads");
  EXPECT_TRUE(a->operationsCancelled());
  EXPECT_TRUE(b->operationsCancelled());
}

}  // namespace
}  // namespace greyfox
