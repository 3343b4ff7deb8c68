#include "platform/Clock.h"

#include <chrono>
#include <thread>
#include <vector>

namespace greyfox {

namespace {
std::shared_ptr<Clock>& slot() {
  static std::shared_ptr<Clock> installed = std::make_shared<SystemClock>();
  return installed;
}
std::mutex slotMutex;
}  // namespace

Clock& Clock::current() {
  std::lock_guard lock(slotMutex);
  return *slot();
}

void Clock::install(std::shared_ptr<Clock> clock) {
  // Callers hold the reference current() gave them without the lock, so a
  // replaced clock is kept alive for the rest of the process.
  static auto* retired = new std::vector<std::shared_ptr<Clock>>();
  std::lock_guard lock(slotMutex);
  retired->push_back(std::move(slot()));
  slot() = clock ? std::move(clock) : std::make_shared<SystemClock>();
}

double SystemClock::now() const {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

double SystemClock::monotonic() const {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void SystemClock::sleepFor(double seconds) {
  if (seconds > 0) std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

ManualClock::ManualClock(double start) : now_(start) {}

double ManualClock::now() const {
  std::lock_guard lock(mutex_);
  return now_;
}

double ManualClock::monotonic() const {
  std::lock_guard lock(mutex_);
  return monotonic_;
}

void ManualClock::sleepFor(double seconds) { advance(seconds); }

void ManualClock::advance(double seconds) {
  std::lock_guard lock(mutex_);
  now_ += seconds;
  monotonic_ += seconds;
}

}  // namespace greyfox
