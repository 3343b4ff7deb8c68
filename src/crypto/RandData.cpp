#include "crypto/RandData.h"

#include <algorithm>
#include <climits>

#include <openssl/rand.h>

#include "crypto/CQuillboxException.h"

namespace greyfox::qb_crypt {

void rand_data::generate(void* buffer, std::size_t length) {
  auto* p = static_cast<unsigned char*>(buffer);
  while (length) {
    const std::size_t step = std::min<std::size_t>(length, INT_MAX);
    if (RAND_bytes(p, static_cast<int>(step)) != 1) throw CQuillboxException("rand_data::generate: error");
    p += step;
    length -= step;
  }
}

}  // namespace greyfox::qb_crypt
