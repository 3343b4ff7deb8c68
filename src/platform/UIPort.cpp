#include "platform/UIPort.h"

#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>

namespace greyfox {

namespace {
std::mutex sharedMutex;
std::shared_ptr<UIPort>& installedPort() {
  static std::shared_ptr<UIPort> port;
  return port;
}

bool haveTerminal() { return ::isatty(STDIN_FILENO) && ::isatty(STDERR_FILENO); }

// Reads one line from the terminal, without echo when `secret`.
std::optional<std::string> readLine(bool secret) {
  termios old{};
  bool restore = false;
  if (secret && ::tcgetattr(STDIN_FILENO, &old) == 0) {
    termios quiet = old;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    restore = ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet) == 0;
  }
  std::string line;
  bool ok = static_cast<bool>(std::getline(std::cin, line));
  if (restore) {
    ::tcsetattr(STDIN_FILENO, TCSANOW, &old);
    std::cerr << "\n";
  }
  if (!ok) return std::nullopt;
  return line;
}
}  // namespace

UIPort& UIPort::shared() {
  std::lock_guard lock(sharedMutex);
  auto& port = installedPort();
  if (!port) port = std::make_shared<HeadlessUI>();
  return *port;
}

void UIPort::install(std::shared_ptr<UIPort> port) {
  // A caller may still be inside a call on the port current() gave it, so a
  // replaced port is kept alive for the rest of the process.
  static auto* retired = new std::vector<std::shared_ptr<UIPort>>();
  std::lock_guard lock(sharedMutex);
  retired->push_back(std::move(installedPort()));
  installedPort() = std::move(port);
}

void HeadlessUI::presentError(const std::string& text) {
  std::lock_guard lock(mutex_);
  std::cerr << text << std::endl;
}

int HeadlessUI::showAlert(const Alert& alert) {
  std::lock_guard lock(mutex_);
  std::cerr << alert.title << "\n" << alert.message << std::endl;
  if (alert.buttons.size() < 2 || !haveTerminal()) return 0;
  for (size_t i = 0; i < alert.buttons.size(); ++i) std::cerr << "  " << i + 1 << ") " << alert.buttons[i] << "\n";
  std::cerr << "Choose [1]: " << std::flush;
  auto line = readLine(false);
  if (!line || line->empty()) return 0;
  int choice = std::atoi(line->c_str());
  return choice >= 1 && choice <= static_cast<int>(alert.buttons.size()) ? choice - 1 : 0;
}

std::optional<PasswordAnswer> HeadlessUI::askPassword(const PasswordRequest& request) {
  if (const char* fromEnv = std::getenv("GREYFOX_SECURE_PASSWORD"); fromEnv && *fromEnv)
    return PasswordAnswer{fromEnv, false};
  std::lock_guard lock(mutex_);
  if (!haveTerminal()) return std::nullopt;
  std::cerr << request.title << "\n" << request.message << "\nPassword: " << std::flush;
  auto first = readLine(true);
  if (!first) return std::nullopt;
  if (request.confirm) {
    std::cerr << "Repeat password: " << std::flush;
    auto second = readLine(true);
    if (!second || *second != *first) {
      std::cerr << "The passwords do not match." << std::endl;
      return std::nullopt;
    }
  }
  return PasswordAnswer{*first, false};
}

std::optional<std::string> HeadlessUI::askText(const std::string& prompt, bool secret) {
  std::lock_guard lock(mutex_);
  if (!haveTerminal()) return std::nullopt;
  std::cerr << prompt << " " << std::flush;
  return readLine(secret);
}

void ScriptedUI::presentError(const std::string& text) {
  std::lock_guard lock(mutex_);
  errors_.push_back(text);
}

int ScriptedUI::showAlert(const Alert& alert) {
  std::lock_guard lock(mutex_);
  alerts_.push_back(alert);
  if (alertAnswers_.empty()) return 0;
  int answer = alertAnswers_.front();
  alertAnswers_.pop_front();
  return answer;
}

std::optional<PasswordAnswer> ScriptedUI::askPassword(const PasswordRequest& request) {
  std::lock_guard lock(mutex_);
  passwordRequests_.push_back(request);
  if (passwords_.empty()) return std::nullopt;
  auto answer = passwords_.front();
  passwords_.pop_front();
  return answer;
}

std::optional<std::string> ScriptedUI::askText(const std::string& prompt, bool) {
  std::lock_guard lock(mutex_);
  textPrompts_.push_back(prompt);
  if (texts_.empty()) return std::nullopt;
  auto answer = texts_.front();
  texts_.pop_front();
  return answer;
}

void ScriptedUI::queueAlertAnswer(int button) {
  std::lock_guard lock(mutex_);
  alertAnswers_.push_back(button);
}

void ScriptedUI::queuePassword(std::optional<PasswordAnswer> answer) {
  std::lock_guard lock(mutex_);
  passwords_.push_back(std::move(answer));
}

void ScriptedUI::queueText(std::optional<std::string> answer) {
  std::lock_guard lock(mutex_);
  texts_.push_back(std::move(answer));
}

std::vector<std::string> ScriptedUI::errors() const {
  std::lock_guard lock(mutex_);
  return errors_;
}

std::vector<Alert> ScriptedUI::alerts() const {
  std::lock_guard lock(mutex_);
  return alerts_;
}

std::vector<PasswordRequest> ScriptedUI::passwordRequests() const {
  std::lock_guard lock(mutex_);
  return passwordRequests_;
}

std::vector<std::string> ScriptedUI::textPrompts() const {
  std::lock_guard lock(mutex_);
  return textPrompts_;
}

}  // namespace greyfox
