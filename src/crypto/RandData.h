// Random bytes from OpenSSL's generator. Any thread.
#pragma once

#include <cstddef>

namespace greyfox::qb_crypt {

class rand_data {
 public:
  virtual ~rand_data() = default;
  // Fills `length` bytes of `buffer`. Throws CQuillboxException
  // "rand_data::generate: error" when the generator cannot deliver, so that
  // no caller goes on with predictable bytes.
  virtual void generate(void* buffer, std::size_t length);
};

}  // namespace greyfox::qb_crypt
