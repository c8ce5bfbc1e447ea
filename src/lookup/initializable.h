// The small base of objects that are set up after construction and torn down before it: one
// flag, changed with atomic exchanges so that start and stop can race safely. Portable.
#pragma once

#include <atomic>

namespace kal {

class CInitializable {
 public:
  CInitializable() = default;
  CInitializable(const CInitializable&) = delete;
  CInitializable& operator=(const CInitializable&) = delete;
  virtual void Uninitialize() {}
  virtual ~CInitializable() = default;

  bool IsInitialized() const { return initialized_.load(); }

 protected:
  // Sets the flag to value and returns what it was.
  bool ExchangeInitialized(bool value) { return initialized_.exchange(value); }

 private:
  std::atomic<bool> initialized_{false};
};

}  // namespace kal
