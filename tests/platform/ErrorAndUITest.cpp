#include <gtest/gtest.h>

#include "platform/Clock.h"
#include "platform/Error.h"
#include "platform/KeychainStore.h"
#include "platform/Paths.h"
#include "platform/UIPort.h"

namespace greyfox {
namespace {

TEST(Error, FirstErrorHoldsNilAndLaterOnesChain) {
  ErrorPtr error;
  setQBError(&error, -1000, "File not found!");
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain, "__FILE__");
  EXPECT_EQ(error->code, -1000);
  EXPECT_EQ(error->failureReason(), "File not found!");
  ASSERT_TRUE(error->userInfo.contains("nil"));
  EXPECT_TRUE(error->userInfo["nil"].is_null());
  EXPECT_FALSE(error->underlying);

  ErrorPtr first = error;
  setQBError(&error, -101, "Server error", {{kServerCodeKey, 42}});
  EXPECT_EQ(error->underlying, first) << "the previous error becomes the underlying one";
  EXPECT_FALSE(error->userInfo.contains("nil"));
  EXPECT_EQ(error->serverCode(), 42);
  EXPECT_EQ(error->message(), "Server error");
  EXPECT_EQ(first->code, -1000) << "errors are not changed by chaining";

  setQBError(nullptr, -1, "nobody listens");  // no out-parameter: nothing happens
}

TEST(Error, ExtraEntriesCannotReplaceTheFailureReason) {
  auto e = makeError("greyfox.file", -2, "the reason", nullptr, {{kFailureReasonKey, "other"}, {kDescriptionKey, "d"}});
  EXPECT_EQ(e->failureReason(), "the reason");
  EXPECT_EQ(e->description(), "d");
  EXPECT_EQ(e->message(), "the reason");
  EXPECT_FALSE(e->serverCode());
}

TEST(ScriptedUI, AnswersFromItsQueuesAndRecordsWhatWasShown) {
  ScriptedUI ui;
  ui.queueAlertAnswer(2);
  ui.queueAlertAnswer(1);
  ui.queuePassword(PasswordAnswer{"secret", true});
  ui.queuePassword(std::nullopt);
  ui.queueText("123456");

  EXPECT_EQ(ui.showAlert({"Low space", "m", {"Cancel", "Continue", "Quit"}}), 2);
  EXPECT_EQ(ui.showAlert({"Second", "", {}}), 1);
  EXPECT_EQ(ui.showAlert({"Unscripted", "", {}}), 0) << "empty queue answers the default button";

  auto pw = ui.askPassword({"Secure folder", "Enter", true, true});
  ASSERT_TRUE(pw);
  EXPECT_EQ(pw->password, "secret");
  EXPECT_TRUE(pw->trustComputer);
  EXPECT_FALSE(ui.askPassword({"Again", "", false, false})) << "queued cancel";
  EXPECT_FALSE(ui.askPassword({"Unscripted", "", false, false}));

  EXPECT_EQ(ui.askText("Code:", true), "123456");
  EXPECT_FALSE(ui.askText("E-mail:", false));

  ui.presentError("Error:\n- x [-1]\n");

  ASSERT_EQ(ui.alerts().size(), 3u);
  EXPECT_EQ(ui.alerts()[0].title, "Low space");
  EXPECT_EQ(ui.alerts()[2].title, "Unscripted");
  ASSERT_EQ(ui.passwordRequests().size(), 3u);
  EXPECT_TRUE(ui.passwordRequests()[0].confirm);
  EXPECT_EQ(ui.textPrompts(), (std::vector<std::string>{"Code:", "E-mail:"}));
  EXPECT_EQ(ui.errors(), std::vector<std::string>{"Error:\n- x [-1]\n"});
}

// The accessors hand out references that callers use without a lock; a
// later install must not destroy or overwrite what such a caller still uses.
TEST(Installables, ReferencesStayValidAfterReplacement) {
  struct ProbeClock : ManualClock {
    explicit ProbeClock(bool* destroyed) : destroyed(destroyed) {}
    ~ProbeClock() override { *destroyed = true; }
    bool* destroyed;
  };
  struct ProbeUI : ScriptedUI {
    explicit ProbeUI(bool* destroyed) : destroyed(destroyed) {}
    ~ProbeUI() override { *destroyed = true; }
    bool* destroyed;
  };
  struct ProbeStore : FileKeychainStore {
    explicit ProbeStore(bool* destroyed) : FileKeychainStore("/nonexistent/keychain.json"), destroyed(destroyed) {}
    ~ProbeStore() override { *destroyed = true; }
    bool* destroyed;
  };
  bool clockGone = false, uiGone = false, storeGone = false;
  Clock::install(std::make_shared<ProbeClock>(&clockGone));
  UIPort::install(std::make_shared<ProbeUI>(&uiGone));
  KeychainStore::install(std::make_shared<ProbeStore>(&storeGone));
  Paths::install(Paths::underRoot("/first"));
  Clock& clock = Clock::current();
  UIPort& ui = UIPort::shared();
  KeychainStore& store = KeychainStore::shared();
  const Paths& paths = Paths::current();

  Clock::install(nullptr);
  UIPort::install(nullptr);
  KeychainStore::install(nullptr);
  Paths::install(Paths::underRoot("/second"));

  EXPECT_FALSE(clockGone);
  EXPECT_FALSE(uiGone);
  EXPECT_FALSE(storeGone);
  EXPECT_EQ(paths.applicationSupport(), "/first/data");
  EXPECT_EQ(clock.now(), 1'700'000'000);
  ui.presentError("still reachable");
  EXPECT_FALSE(store.password("s", "a", nullptr));
}

}  // namespace
}  // namespace greyfox
