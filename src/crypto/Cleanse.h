// Wipes the bytes of a container that held a key or another secret when the
// guard leaves its scope, whichever way it leaves.
#pragma once

#include <openssl/crypto.h>

namespace greyfox::qb_crypt {

template <class Container>
class cleanse_guard {
 public:
  explicit cleanse_guard(Container& bytes) : bytes_(bytes) {}
  ~cleanse_guard() { OPENSSL_cleanse(bytes_.data(), bytes_.size()); }
  cleanse_guard(const cleanse_guard&) = delete;
  cleanse_guard& operator=(const cleanse_guard&) = delete;

 private:
  Container& bytes_;
};

}  // namespace greyfox::qb_crypt
