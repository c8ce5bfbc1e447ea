// The built-in SHA-1: the portable core's context driven through the hash interface.
#include "analysis/sha1.h"

#include <cstring>

#include "analysis/fault_guard.h"

namespace kal::cryptography {
namespace {

struct UpdateCall {
  Sha1Context* context;
  const void* data;
  size_t size;
};

struct FinalCall {
  Sha1Context* context;
  uint8_t* digest;
};

}  // namespace

SHA1::SHA1(Sha1Core core) : core_(core) { Reset(); }

void SHA1::Update(const void* data, size_t size) {
  if (data == nullptr || finished_) return;
  UpdateCall call{&context_, data, size};
  const DWORD code = RunFaultGuarded(
      [](void* p) {
        UpdateCall* c = static_cast<UpdateCall*>(p);
        Sha1Update(c->context, c->data, c->size);
      },
      &call);
  if (code != 0 && faultCode_ == 0) faultCode_ = code;
}

void SHA1::Final() {
  if (finished_) return;
  FinalCall call{&context_, digest_};
  const DWORD code = RunFaultGuarded(
      [](void* p) {
        FinalCall* c = static_cast<FinalCall*>(p);
        Sha1Final(c->context, c->digest);
      },
      &call);
  if (code != 0) {
    if (faultCode_ == 0) faultCode_ = code;
    return;
  }
  finished_ = true;
}

void SHA1::Reset() {
  finished_ = false;
  std::memset(digest_, 0, sizeof(digest_));
  Sha1Init(&context_, core_);
  faultCode_ = 0;
}

void SHA1::GetHash(uint8_t* out) const {
  if (out == nullptr || !finished_) return;
  std::memcpy(out, digest_, sizeof(digest_));
}

}  // namespace kal::cryptography
