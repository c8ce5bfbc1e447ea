// A critical section that lives exactly as long as its owner, and the scope guard that holds it.
#pragma once

#include "support/win.h"

namespace kal {

class CCriticalSection {
 public:
  // Spin count 0: the holders only touch a few queue entries.
  CCriticalSection() { ::InitializeCriticalSectionAndSpinCount(&section_, 0); }
  CCriticalSection(const CCriticalSection&) = delete;
  CCriticalSection& operator=(const CCriticalSection&) = delete;
  ~CCriticalSection() { ::DeleteCriticalSection(&section_); }

  void Enter() { ::EnterCriticalSection(&section_); }
  void Leave() { ::LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION section_;
};

class CCriticalSectionLock {
 public:
  explicit CCriticalSectionLock(CCriticalSection& section) : section_(section) { section_.Enter(); }
  CCriticalSectionLock(const CCriticalSectionLock&) = delete;
  CCriticalSectionLock& operator=(const CCriticalSectionLock&) = delete;
  ~CCriticalSectionLock() { section_.Leave(); }

 private:
  CCriticalSection& section_;
};

}  // namespace kal
