// The boundary of the cache layer: runs a step that may raise and turns any
// failure into a log line, so no disk fault leaves the layer as an exception.
#pragma once

#include <exception>

#include "cache/QBCacheBackend.h"
#include "diag/Log.h"

namespace greyfox {

// Runs `body`; false (logged as caught in `where`) when it raised.
template <class Body>
bool guardCacheCall(const char* where, Body&& body) {
  try {
    body();
    return true;
  } catch (const QBCacheException& e) {
    QBLOG("Caught exception %s in %s with the reason %s", e.name().c_str(), where, e.what());
  } catch (const std::exception& e) {
    QBLOG("Caught exception %s in %s with the reason %s", "std::exception", where, e.what());
  }
  return false;
}

}  // namespace greyfox
