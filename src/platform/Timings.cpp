#include "platform/Timings.h"

#include <cstddef>

namespace greyfox {

namespace {
Timings& installed() {
  static Timings t;
  return t;
}
}  // namespace

const Timings& Timings::current() { return installed(); }

void Timings::install(const Timings& t) { installed() = t; }

Timings Timings::scaled(double factor) const {
  static_assert(sizeof(Timings) % sizeof(double) == 0, "Timings holds only durations");
  Timings t = *this;
  auto* values = reinterpret_cast<double*>(&t);
  for (size_t i = 0; i < sizeof(Timings) / sizeof(double); ++i) values[i] *= factor;
  return t;
}

}  // namespace greyfox
