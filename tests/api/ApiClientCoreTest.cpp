// Reply judging, the request history and the contexts, without a service.
#include <gtest/gtest.h>

#include "api/QBApiClient.h"
#include "api/QBApiClientContext.h"
#include "items/QBUserSessionItem.h"
#include "ApiTestSupport.h"

namespace greyfox {
namespace {

using nlohmann::json;

class ApiClientCore : public ::testing::Test {
 protected:
  test::ApiTestEnvironment env;
  QBApiClient client;
};

TEST_F(ApiClientCore, JudgesReplies) {
  const std::string processing =
      "This file is already being processed. Please wait until previous upload operation will be finished.";
  struct Case {
    const char* name;
    json reply;
    long status;
    long errorCode;  // 0: no error made
    std::optional<std::string> reason;
    std::optional<long> serverCode;
  } cases[] = {
      {"error reply", {{"error", {{"code", 404}, {"message", "x"}}}}, 2, -197, "x", 404},
      {"second key makes it normal", {{"error", {{"code", 404}, {"message", "x"}}}, {"result", 1}}, 0, 0, {}, {}},
      {"busy", {{"error", {{"code", 423}, {"message", "Folder is busy"}}}}, 1, -197, "Folder is busy", 423},
      {"already processing", {{"error", {{"code", 409}, {"message", processing}}}}, 0, -197, processing, 409},
      {"no message", {{"error", {{"code", 500}}}}, 2, -197, {}, 500},
      {"no code", {{"error", {{"message", "m"}}}}, 2, -197, "m", {}},
      {"error not an object", {{"error", "text"}}, 2, -197, {}, {}},
      {"ordinary reply", {{"FileId", "7"}}, 0, 0, {}, {}},
      {"empty reply", json::object(), 0, 0, {}, {}},
  };
  for (const auto& c : cases) {
    ErrorPtr error;
    auto request = QBApiRequest::requestWithMethod("GET", "a.json");
    EXPECT_EQ(client.checkResponseStatus(c.reply, request, &error), c.status) << c.name;
    if (!c.errorCode) {
      EXPECT_FALSE(error) << c.name;
      continue;
    }
    ASSERT_TRUE(error) << c.name;
    EXPECT_EQ(error->code, c.errorCode) << c.name;
    EXPECT_EQ(error->domain, "__FILE__") << c.name;
    EXPECT_EQ(error->failureReason(), c.reason) << c.name;
    EXPECT_EQ(error->serverCode(), c.serverCode) << c.name;
  }
}

TEST_F(ApiClientCore, ServerErrorKeepsThePreviousErrorUnderneath) {
  ErrorPtr error = makeError("other", 5, "earlier", nullptr);
  client.checkResponseStatus({{"error", {{"code", 1}, {"message", "m"}}}}, QBApiRequest::requestWithMethod("GET", "a"), &error);
  ASSERT_TRUE(error && error->underlying);
  EXPECT_EQ(error->underlying->code, 5);
}

TEST_F(ApiClientCore, HistoryKeepsTheLastFiveInOrder) {
  std::vector<QBApiRequest::Ptr> sent;
  for (int i = 0; i < 7; ++i) {
    sent.push_back(QBApiRequest::requestWithMethod("GET", "a.json"));
    client.checkResponseStatus({{"n", i}}, sent.back(), nullptr);
  }
  auto stack = client.requestsStack();
  ASSERT_EQ(stack.size(), 5u);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(stack[i].first, sent[i + 2]) << "entry " << i;
    EXPECT_EQ(stack[i].second["n"], i + 2) << "entry " << i;
  }
}

std::shared_ptr<QBUserSessionItem> session(const std::string& id) {
  auto s = std::make_shared<QBUserSessionItem>();
  s->sessionId = id;
  return s;
}

TEST_F(ApiClientCore, AuthContextPutsTheSessionInPathOrParameters) {
  struct Case {
    const char* method;
    const char* endpoint;
    bool inPath;
  } cases[] = {
      {"GET", "securefolders/auth.json", true},   {"POST", "securefolders/auth.json", false},
      {"DELETE", "folder/trash.json", true},      {"POST", "folder/trash.json", false},
      {"DELETE", "sharing.json", true},           {"POST", "sharing.json", false},
      {"GET", "folder/list.json", true},          {"POST", "upload/upload_file_chunk2.json", true},
      {"GET", "file/info.json", false},           {"GET", "download/file.json", false},
      {"POST", "session/logout.json", false},
  };
  for (const auto& c : cases) {
    QBApiClientAuthContext context(session("S"));
    auto request = QBApiRequest::requestWithMethod(c.method, c.endpoint, QBApiRequest::Arguments{"F"});
    ASSERT_TRUE(context.preFill(*request, client, nullptr)) << c.method << " " << c.endpoint;
    if (c.inPath) {
      EXPECT_EQ(request->arguments, (QBApiRequest::Arguments{"S", "F"})) << c.method << " " << c.endpoint;
      EXPECT_TRUE(request->parameters.is_null()) << c.method << " " << c.endpoint;
    } else {
      EXPECT_EQ(request->arguments, (QBApiRequest::Arguments{"F"})) << c.method << " " << c.endpoint;
      EXPECT_EQ(request->parameters, (json{{"session_id", "S"}})) << c.method << " " << c.endpoint;
    }
  }
}

TEST_F(ApiClientCore, ContextsFailBeforeSendingWhenIdsAreMissing) {
  ErrorPtr error;
  QBApiClientAuthContext noSession;
  EXPECT_FALSE(noSession.preFill(*QBApiRequest::requestWithMethod("GET", "a.json"), client, &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, -199);

  error.reset();
  QBApiClientSharingContext noIds(session("S"));
  noIds.sourceSharingId = "only-source";
  EXPECT_FALSE(noIds.preFill(*QBApiRequest::requestWithMethod("GET", "a.json"), client, &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, -198);
}

TEST_F(ApiClientCore, SharingContextAddsItsIds) {
  QBApiClientSharingContext both(session("S"));
  both.sourceSharingId = "a";
  both.destinationSharingId = "b";
  auto move = QBApiRequest::requestWithMethod("POST", "file/move_copy.json", json{{"src_file_id", "1"}});
  ASSERT_TRUE(both.preFill(*move, client, nullptr));
  EXPECT_EQ(move->parameters, (json{{"src_file_id", "1"}, {"session_id", "S"}, {"src_sharing_id", "a"}, {"dst_sharing_id", "b"}}));

  QBApiClientSharingContext one(session("S"));
  one.sharingId = "u7";
  auto list = QBApiRequest::requestWithMethod("GET", "sharing/listsharedfolders.json");
  ASSERT_TRUE(one.preFill(*list, client, nullptr));
  EXPECT_EQ(list->arguments, (QBApiRequest::Arguments{"S", "u7"}));
  auto listing = QBApiRequest::requestWithMethod("GET", "folder/list.json", QBApiRequest::Arguments{"F"});
  ASSERT_TRUE(one.preFill(*listing, client, nullptr));
  EXPECT_EQ(listing->arguments, (QBApiRequest::Arguments{"S", "F"}));
  EXPECT_EQ(listing->parameters, (json{{"sharing_id", "u7"}}));
}

}  // namespace
}  // namespace greyfox
