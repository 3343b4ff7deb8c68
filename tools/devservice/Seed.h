// The demo account, written by --seed demo into a data directory without users.
#pragma once

#include "Store.h"

namespace greyfox::devservice {

// REQUIRES: store.mutex() held. Adds the demo users, their folders and files,
// the shares between them and one trashed file.
void seedDemo(Store& store);

// Byte `offset` of the demo's "Big/big.bin" (64 MiB), for checks of a download.
unsigned char bigFileByte(uint64_t offset);

}  // namespace greyfox::devservice
