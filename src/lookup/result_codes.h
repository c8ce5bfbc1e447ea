// The few HRESULT values that the portable lookup code raises or hands back, spelled without the
// Windows headers (the values are the system's usual ones).
#pragma once

#include <cstdint>

namespace kal {
namespace codes {

constexpr int32_t kOk = 0;
constexpr int32_t kFail = static_cast<int32_t>(0x80004005u);         // E_FAIL
constexpr int32_t kOutOfMemory = static_cast<int32_t>(0x8007000Eu);  // E_OUTOFMEMORY

}  // namespace codes
}  // namespace kal
