// Time as the client sees it: wall time (seconds since 1970, the form of the
// service's dates and of cache validity), monotonic time (for deadlines) and
// sleeping. The system clock is installed by default; tests install a
// ManualClock to step through expiries without waiting.
//
// All members are safe to call from any thread.
#pragma once

#include <memory>
#include <mutex>

namespace greyfox {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual double now() const = 0;        // wall time, seconds since 1970
  virtual double monotonic() const = 0;  // seconds since an arbitrary start
  virtual void sleepFor(double seconds) = 0;

  static Clock& current();
  // Installs `clock` for the whole process; nullptr restores the system clock.
  static void install(std::shared_ptr<Clock> clock);
};

class SystemClock : public Clock {
 public:
  double now() const override;
  double monotonic() const override;
  void sleepFor(double seconds) override;
};

// A clock that moves only when told to. sleepFor() advances it instead of
// blocking, so code that sleeps between polls runs through at once.
class ManualClock : public Clock {
 public:
  explicit ManualClock(double start = 1'700'000'000);
  double now() const override;
  double monotonic() const override;
  void sleepFor(double seconds) override;
  void advance(double seconds);

 private:
  mutable std::mutex mutex_;
  double now_;
  double monotonic_ = 0;  // guarded by mutex_
};

}  // namespace greyfox
