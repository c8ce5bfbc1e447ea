// Packs: presets, filling, encoding and decoding through the pack, the completion event and the
// shared lifetime.
#include "lookup/lookup_pack.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace kal {
namespace {

using Client = CPiplinedLookupClient;
using Ht = CSafetyLookupClientBase::CResponceHt;
using Tv = CSafetyLookupClientBase::CResponceTv;

CSafetyLookupClientBase::CRequest KeyFrom(uint8_t first) {
  CSafetyLookupClientBase::CRequest key;
  for (uint8_t i = 0; i < 20; ++i) key.Key[i] = static_cast<uint8_t>(first + i);
  return key;
}

TEST(LookupPack, FreshHashPack) {
  CRefPtr<Client::CHashPack> pack;
  ASSERT_EQ(S_OK, Client::CHashPack::Create(KeyFrom(1), 2, 2, 3, &pack));
  EXPECT_EQ(1u, pack->Count);
  EXPECT_EQ(2u, pack->GetType());
  EXPECT_EQ(2u, pack->RequestTag);
  EXPECT_EQ(3u, pack->TransportMask);
  EXPECT_EQ(E_PENDING, pack->Result);
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(pack->Event.Get(), 0));
  for (const Ht& r : pack->Responses) {
    EXPECT_EQ(3, r.FlsVerdict);
    EXPECT_EQ(0, r.LumenVerdict);
    EXPECT_EQ(0u, r.AuxValue);
    EXPECT_EQ(0u, r.Date);
  }
  Ht answer{};
  EXPECT_TRUE(pack->GetResponse(0, &answer));
  EXPECT_EQ(3, answer.FlsVerdict);
  answer.FlsVerdict = 77;
  EXPECT_FALSE(pack->GetResponse(1, &answer));  // beyond Count: untouched
  EXPECT_EQ(77, answer.FlsVerdict);
}

TEST(LookupPack, FillsToOneHundredKeys) {
  CRefPtr<Client::CVendorPack> pack;
  ASSERT_EQ(S_OK, Client::CVendorPack::Create(KeyFrom(0), 2, 5, 1, &pack));
  for (const Tv& r : pack->Responses) EXPECT_EQ(0, r.SignerVerdict);
  for (int32_t i = 1; i < 100; ++i) {
    ASSERT_FALSE(pack->IsFull());
    ASSERT_EQ(i, pack->AddRequest(KeyFrom(static_cast<uint8_t>(i))));
  }
  EXPECT_TRUE(pack->IsFull());
  EXPECT_EQ(-1, pack->AddRequest(KeyFrom(0)));
  EXPECT_EQ(100u, pack->Count);

  CMemoryStream s(20 * 100 + 8);
  CSerializationWriter writer(&s);
  pack->Encode(writer, 0x01020304, CSafetyLookupClientBase::CProtocolSettings());
  ASSERT_EQ(2026u, s.GetSize());
  EXPECT_EQ(5, s.GetBuffer()[0]);
  EXPECT_EQ(100, s.GetBuffer()[5]);
  EXPECT_EQ(99 + 19, s.GetBuffer()[2025]);  // last byte of the last key
}

TEST(LookupPack, DecodesIntoItsAnswers) {
  CRefPtr<Client::CHashPack> pack;
  ASSERT_EQ(S_OK, Client::CHashPack::Create(KeyFrom(1), 2, 2, 3, &pack));
  pack->AddRequest(KeyFrom(2));
  const uint8_t answer[] = {2,                                                   // count
                            0x00, 0xFD, 0, 0, 0, 5, 0, 0, 0x01, 0x7F, 0, 0, 0, 0,  // first key
                            0xFF, 0x03, 0, 0, 0, 0, 0, 0, 0,    0,    0, 0, 0, 0};
  CMemoryStream s;
  s.Write(answer, sizeof(answer), 0);
  s.SetPosition(0);
  CSerializationReader reader(&s);
  pack->Decode(reader);
  Ht first{}, second{};
  ASSERT_TRUE(pack->GetResponse(0, &first));
  ASSERT_TRUE(pack->GetResponse(1, &second));
  EXPECT_EQ(0, first.FlsVerdict);
  EXPECT_EQ(-3, first.LumenVerdict);
  EXPECT_EQ(5u, first.AuxValue);
  EXPECT_EQ(1644972474u, first.Date);
  EXPECT_EQ(-1, second.FlsVerdict);
  EXPECT_EQ(3, second.LumenVerdict);
}

TEST(LookupPack, CompleteWakesWaitersOnceWithTheFinalResult) {
  CRefPtr<Client::CHashPack> pack;
  ASSERT_EQ(S_OK, Client::CHashPack::Create(KeyFrom(1), 2, 2, 3, &pack));
  CRefPtr<Client::CPack> shared(pack);
  HRESULT seen = S_FALSE;
  std::thread waiter([shared, &seen] {  // holds its own reference while it waits
    if (::WaitForSingleObject(shared->Event.Get(), 5000) == WAIT_OBJECT_0) seen = shared->Result;
  });
  pack->Complete(E_ABORT);
  pack->Complete(S_OK);  // too late: the result is final
  waiter.join();
  EXPECT_EQ(E_ABORT, seen);
  EXPECT_EQ(E_ABORT, pack->Result);
}

TEST(LookupPack, LivesUntilTheLastReference) {
  CRefPtr<Client::CHashPack> caller;
  ASSERT_EQ(S_OK, Client::CHashPack::Create(KeyFrom(1), 2, 2, 3, &caller));
  const HANDLE event = caller->Event.Get();
  DWORD flags = 0;
  {
    CRefPtr<Client::CPack> pipeline(caller);
    caller.Reset();  // the caller gave up; the pipeline still carries the pack
    EXPECT_TRUE(::GetHandleInformation(event, &flags));
    pipeline->Complete(S_OK);
  }
  EXPECT_FALSE(::GetHandleInformation(event, &flags));  // the last release closed the event
}

}  // namespace
}  // namespace kal
