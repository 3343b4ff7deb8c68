// The `greyfox` command:
//
//   greyfox mount [--service URL] [--user EMAIL] [--mount-dir DIR]
//   greyfox demo
//
// `mount` signs in and serves the account's drive until SIGINT, SIGTERM or
// an unmount from outside, printing "mounted at PATH" once the drive can be
// used; `demo` does the same against a local service seeded with the demo
// account. Exit status 0 after a normal end, 1 when sign-in or mounting
// failed, 2 for bad arguments.
//
// GREYFOX_TIMINGS_SCALE (tests) multiplies the waits a user notices: the
// folder refresh ages, the read retry pauses and the error display interval.
//
// Call from main() before any thread starts: it blocks SIGINT and SIGTERM in
// every thread and waits for them on one of its own.
#pragma once

namespace greyfox {

int runCommandLine(int argc, char** argv);

}  // namespace greyfox
