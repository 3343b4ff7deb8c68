// Every duration the client waits, retries or expires by, in seconds, in one
// place. The defaults are the product's values; tests install shrunk copies so
// that retries and expiries happen in milliseconds. No other code hard-codes a
// duration.
//
// Install before the threads that read it start (at start-up or in a test's
// set-up); reading is then safe from any thread.
#pragma once

namespace greyfox {

struct Timings {
  // --- Requests ---
  double requestTimeout = 240;          // time-out of every service request
  double busyRetryDelay = 5;            // pause before re-sending after "Folder is busy"
  double busyRetryWindow = 181;         // no busy retry once this long since the first send
  double requestWaitSlice = 1;          // a blocking wait runs its run loop this long per turn

  // --- Downloads and reads ---
  double downloadWait = 20;             // longest wait for the wanted bytes of a download
  double downloadWaitStep = 1;          // run-loop slice of the download wait
  double readRetryPause = 5;            // pause between the file system's read attempts
  double readaheadFillTimeout = 30;     // longest time to fill a read-ahead buffer
  double readaheadRepeatPause = 1;      // pause before a piece read is tried again

  // --- Uploads ---
  double uploadRetryDelay = 900;        // pause before a failed chunk is re-sent
  double uploadQueueWait = 480;         // longest wait for an upload queue to drain
  double uploadQueueStep = 0.1;         // run-loop slice of the queue wait
  double uploadReleaseWait = 10;        // a release's first wait for its queue
  double lowSpaceAlertWait = 360;       // longest wait for the user's answer to the low-space alert
  double createPacing = 0.2;            // pause between rapid file creations
  double uploadStartCounterDecay = 1;   // the upload start counter drops by one this long after a start

  // --- Folder locks and refresh ---
  double lockWait = 10;                 // longest wait for a folder's transfer lock
  double folderRefreshAge = 35;         // re-list an ordinary folder older than this
  double specialFolderRefreshAge = 270; // the same for the root, the trash and shared folders
  double observedFolderPoll = 5;        // poll interval of observed folders

  // --- Cache ---
  double sharedListValidity = 120;      // shared-folder listings and upload handles
  double stubListValidity = 2;          // stub folder listings
  double descriptorModifiedSlack = 1.5; // a descriptor stays valid while its file is no newer than this
  double indexWriteDelay = 0.25;        // a changed cache index reaches the disk within this
  double indexWriteLatest = 1;          // a large index is written less often, but at least this often

  // --- Shell ---
  double errorDisplayInterval = 15;     // an error code is shown at most once this often
  double autoLoginRetry = 15;           // automatic sign-in after a network failure
  double reloginDelay = 10;             // sign-in after a logout waits this long
  double storageQueryInterval = 60;     // storage figures are asked for at most this often
  double secureRuntimePoll = 1;         // turn of the secure-folder password wait
  double socketTimeout = 5;             // connect and send of the command sockets
  double serverPortWait = 120;          // the extension waits this long for the client
  double selfUpdateTimeout = 30;        // request time-out of the installer download

  // --- Volume ---
  double kernelCacheTimeout = 1;        // the kernel keeps names, attributes and misses this long
  double mountTimeout = 10;             // longest wait for a new mount to answer

  // The values in force.
  static const Timings& current();
  // Replaces the values in force (tests, start-up).
  static void install(const Timings& t);
  // Every duration multiplied by `factor` (tests: 0.01 makes 20 s into 0.2 s).
  Timings scaled(double factor) const;
};

}  // namespace greyfox
