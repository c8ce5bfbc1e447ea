// Which build this is and what the system under it is: the 32-bit program runs under WOW64 on
// 64-bit Windows, the 64-bit one only on 64-bit Windows.
#pragma once

namespace kal {

// True in the x64 build.
constexpr bool kIs64BitBuild = sizeof(void*) == 8;

// True when this (32-bit) process runs under WOW64; always false in the x64 build.
bool RunsUnderWow64();

// True on 64-bit Windows, in either build.
bool IsSystem64Bit();

}  // namespace kal
