// What the client asks of whoever faces the user: showing an error, an alert
// with buttons, and asking for a password or a line of text. The terminal
// front end (HeadlessUI) and a scripted one for tests (ScriptedUI) implement
// it here; a desktop front end implements it later.
//
// Calls may come from any thread; each call blocks its caller until answered.
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace greyfox {

struct Alert {
  std::string title;
  std::string message;
  std::vector<std::string> buttons;  // first is the default; empty means one "OK"
  bool critical = false;
  double timeoutSeconds = 0;          // 0: wait for an answer
};

// An alert answered by nobody within its time-out.
inline constexpr int kAlertTimedOut = -1;

struct PasswordRequest {
  std::string title;
  std::string message;
  bool confirm = false;        // setting a new password: ask twice
  bool offerTrust = false;     // offer "trust this computer"
};

struct PasswordAnswer {
  std::string password;
  bool trustComputer = false;
};

class UIPort {
 public:
  virtual ~UIPort() = default;

  static UIPort& shared();
  static void install(std::shared_ptr<UIPort> port);

  // Shows a critical error text ("Title:\n- reason [code]\n...").
  virtual void presentError(const std::string& text) = 0;
  // The index of the button chosen, or kAlertTimedOut.
  virtual int showAlert(const Alert& alert) = 0;
  // The password typed, or nullopt when the user cancelled.
  virtual std::optional<PasswordAnswer> askPassword(const PasswordRequest& request) = 0;
  // A line typed (an e-mail address, a two-factor code), or nullopt when cancelled.
  virtual std::optional<std::string> askText(const std::string& prompt, bool secret) = 0;
};

// Writes to the terminal and reads answers from it when there is one; with no
// terminal, alerts take their default button and questions are cancelled.
// GREYFOX_SECURE_PASSWORD answers password requests without asking.
class HeadlessUI : public UIPort {
 public:
  void presentError(const std::string& text) override;
  int showAlert(const Alert& alert) override;
  std::optional<PasswordAnswer> askPassword(const PasswordRequest& request) override;
  std::optional<std::string> askText(const std::string& prompt, bool secret) override;

 private:
  std::mutex mutex_;  // one conversation with the terminal at a time
};

// Answers from queues filled by a test, and records everything shown.
class ScriptedUI : public UIPort {
 public:
  void presentError(const std::string& text) override;
  int showAlert(const Alert& alert) override;
  std::optional<PasswordAnswer> askPassword(const PasswordRequest& request) override;
  std::optional<std::string> askText(const std::string& prompt, bool secret) override;

  // Queued answers; when a queue is empty, alerts answer 0 and questions nullopt.
  void queueAlertAnswer(int button);
  void queuePassword(std::optional<PasswordAnswer> answer);
  void queueText(std::optional<std::string> answer);

  std::vector<std::string> errors() const;
  std::vector<Alert> alerts() const;
  std::vector<PasswordRequest> passwordRequests() const;
  std::vector<std::string> textPrompts() const;

 private:
  mutable std::mutex mutex_;
  std::deque<int> alertAnswers_;
  std::deque<std::optional<PasswordAnswer>> passwords_;
  std::deque<std::optional<std::string>> texts_;
  std::vector<std::string> errors_;
  std::vector<Alert> alerts_;
  std::vector<PasswordRequest> passwordRequests_;
  std::vector<std::string> textPrompts_;
};

}  // namespace greyfox
