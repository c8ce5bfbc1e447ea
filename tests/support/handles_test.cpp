// The owning wrappers: Release detaches, Reset closes and keeps the thread's last error, moves
// transfer ownership.
#include "support/handles.h"

#include <gtest/gtest.h>

namespace kal {
namespace {

bool IsOpen(HANDLE h) {
  DWORD flags = 0;
  return ::GetHandleInformation(h, &flags) != 0;
}

TEST(UniqueResource, OwnershipAndLastError) {
  CEvent event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(event);
  const HANDLE raw = event.Get();

  CEvent moved(std::move(event));
  EXPECT_FALSE(event);
  EXPECT_EQ(raw, moved.Get());

  ::SetLastError(0xdeadbeef);
  moved.Reset();
  EXPECT_EQ(0xdeadbeefu, ::GetLastError());
  EXPECT_FALSE(IsOpen(raw));

  CEvent kept(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  const HANDLE detached = kept.Release();
  EXPECT_FALSE(kept);
  EXPECT_TRUE(IsOpen(detached));
  CEvent again(detached);  // owned once more, closed at the end of the test
}

TEST(UniqueResource, InvalidValuePerKind) {
  CFileHandle file(::CreateFileW(L"C:\\no\\such\\file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(file);
  EXPECT_EQ(INVALID_HANDLE_VALUE, file.Get());
  CEvent none;
  EXPECT_EQ(nullptr, none.Get());
}

}  // namespace
}  // namespace kal
