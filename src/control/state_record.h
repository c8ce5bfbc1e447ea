// The run's state record: phase and counters that the state file shows to a watcher.
#pragma once

#include <cstdint>
#include <string>

namespace kal {

// Phase codes of a run.
enum Phase : int32_t {
  kPhaseNotStarted = 0,
  kPhaseProcesses = 1,
  kPhaseDrivers = 2,
  kPhaseAutoruns = 3,
  kPhaseFileScope = 4,
  kPhaseLookup = 5,
  kPhaseReport = 6,
  kPhaseFinished = 7,
  kPhaseFailed = 8,
  kPhaseStopped = 9,
  kPhasePaused = 10,
};

struct StateRecord {
  int32_t Phase = kPhaseNotStarted;
  uint32_t FilesFound = 0;
  uint64_t BytesFound = 0;
  uint32_t FilesProcessed = 0;
  uint64_t BytesProcessed = 0;
  uint32_t CountUnknown = 0;
  uint32_t CountSafe = 0;
  uint32_t CountMalware = 0;
  uint32_t CountServerError = 0;
  uint32_t CountError = 0;
  uint32_t CountDoesntExist = 0;
  uint32_t HashFailures = 0;
  uint32_t Skipped = 0;
  std::wstring ErrorText;
  std::wstring StatePath;
};

}  // namespace kal
