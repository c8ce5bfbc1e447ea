// The pipelined client against a scripted service on 127.0.0.1: answers over UDP and TCP, the
// hand-over from a silent UDP to TCP, giving UDP up, answers split, late, bad or followed by
// garbage, a reset connection, the idle close and the default ports.
#include "lookup/piplined_lookup_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>

#include "lookup/lookup_peer.h"

namespace kal {
namespace {

using test::CLookupPeer;
using test::HashAnswer;
using test::PeerReply;
using test::PeerRequest;
using Client = CPiplinedLookupClient;

constexpr HRESULT kTimeout = static_cast<HRESULT>(0x800705B4);
constexpr uint32_t kEither = 3;

std::vector<Client::CRequest> Keys(size_t n) {
  std::vector<Client::CRequest> keys(n);
  for (size_t i = 0; i < n; ++i)
    for (size_t b = 0; b < 20; ++b) keys[i].Key[b] = static_cast<uint8_t>(i * 31 + b);
  return keys;
}

std::vector<Client::CResponceHt> Answers(size_t n) {
  return std::vector<Client::CResponceHt>(n, Client::CResponceHt{99, 99, 99, 99});
}

// Every request answered: hash keys safe, vendor keys withdrawn.
PeerReply AnswerAll(const PeerRequest& r) {
  return PeerReply::Send(r.Type == 2 ? HashAnswer(r, 1) : test::VendorAnswer(r, 2));
}

PeerReply TcpOnly(const PeerRequest& r) { return r.Transport == 2 ? AnswerAll(r) : PeerReply::Silent(); }

class PiplinedLookupClientTest : public ::testing::Test {
 protected:
  CWinsockSession winsock_;
};

TEST_F(PiplinedLookupClientTest, StartNeedsATransport) {
  Client client;
  EXPECT_EQ(E_UNEXPECTED, client.Start(false, false, 0, 0));
  EXPECT_FALSE(client.IsInitialized());
  auto keys = Keys(1);
  auto answers = Answers(1);
  EXPECT_EQ(E_UNEXPECTED, client.LookupHashes(1, keys.data(), answers.data(), 2, kEither, 100));

  Client::Statistics counts{7, 7};
  ASSERT_EQ(S_OK, client.Start(true, false, 1, 1));
  EXPECT_EQ(E_UNEXPECTED, client.Start(true, false, 1, 1));
  EXPECT_FALSE(client.GetStatistics(2, &counts));
  EXPECT_EQ(7u, counts.SentCount);  // untouched
  EXPECT_TRUE(client.GetStatistics(1, &counts));
  EXPECT_EQ(0u, counts.SentCount);
  EXPECT_EQ(E_FAIL, client.LookupHashes(1, keys.data(), answers.data(), 2, Client::kTransportTcp, 100));
  EXPECT_EQ(S_OK, client.LookupHashes(256, keys.data(), answers.data(), 2, kEither, 100));  // 256 % 256 = 0 keys
}

TEST_F(PiplinedLookupClientTest, AnswersOverEachTransport) {
  CLookupPeer peer(AnswerAll);
  ASSERT_TRUE(peer.Ready());
  const struct {
    bool udp, tcp;
    int transport;
  } rows[] = {{true, false, 1}, {false, true, 2}, {true, true, 1}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.transport);
    const size_t before = peer.Requests().size();
    Client client;
    ASSERT_EQ(S_OK, client.Start(row.udp, row.tcp, peer.UdpPort(), peer.TcpPort()));
    auto keys = Keys(3);
    auto answers = Answers(3);
    ASSERT_EQ(S_OK, client.LookupHashes(3, keys.data(), answers.data(), 2, kEither, 5000));
    for (const auto& a : answers) {
      EXPECT_EQ(1, a.FlsVerdict);
      EXPECT_EQ(2, a.LumenVerdict);
      EXPECT_EQ(7u, a.AuxValue);
      EXPECT_EQ(1644972474u, a.Date);
    }
    std::vector<Client::CResponceTv> vendors(2, Client::CResponceTv{99});
    ASSERT_EQ(S_OK, client.LookupVendors(2, keys.data(), vendors.data(), 2, kEither, 5000));
    EXPECT_EQ(2, vendors[1].SignerVerdict);

    const auto seen = peer.Requests();
    ASSERT_EQ(before + 2, seen.size());
    EXPECT_EQ(row.transport, seen[before].Transport);
    EXPECT_EQ(3u, seen[before].Count);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(keys[2].Key), 20), seen[before].Keys.substr(40));
    EXPECT_EQ(5, seen[before + 1].Type);
    Client::Statistics counts{};
    ASSERT_TRUE(client.GetStatistics(row.transport, &counts));
    EXPECT_EQ(2u, counts.SentCount);
    EXPECT_EQ(2u, counts.ReceivedCount);
  }
}

TEST_F(PiplinedLookupClientTest, SilentUdpHandsEachPackToTcpAfterThreeSeconds) {
  CLookupPeer peer(TcpOnly);
  ASSERT_TRUE(peer.Ready());
  Client client;
  ASSERT_EQ(S_OK, client.Start(true, true, peer.UdpPort(), peer.TcpPort()));
  auto keys = Keys(150);
  auto answers = Answers(150);
  ASSERT_EQ(S_OK, client.LookupHashes(150, keys.data(), answers.data(), 2, kEither, 8000));
  EXPECT_EQ(1, answers[149].FlsVerdict);

  const auto seen = peer.Requests();
  ASSERT_EQ(4u, seen.size());
  const int transports[] = {1, 2, 1, 2};
  const uint32_t counts[] = {100, 100, 50, 50};
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(transports[i], seen[i].Transport);
    EXPECT_EQ(counts[i], seen[i].Count);
  }
  EXPECT_NE(seen[0].Sequence, seen[1].Sequence);  // resent under a new number
  EXPECT_GE(seen[1].Tick - seen[0].Tick, 2900u);
  EXPECT_LT(seen[1].Tick - seen[0].Tick, 5000u);
  EXPECT_GE(seen[3].Tick - seen[2].Tick, 2900u);
  EXPECT_FALSE(client.IsDead(1));
}

TEST_F(PiplinedLookupClientTest, UdpIsGivenUpBelowFivePercentAnswered) {
  // 100 UDP-only packs of which the first `answered` are answered, then one pack that may move:
  // its hand-over is the 101st send's time-out.
  const struct {
    int answered;
    bool dead;
  } rows[] = {{5, true}, {6, false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.answered);
    std::atomic<int> udpAnswers{0};
    CLookupPeer peer([&](const PeerRequest& r) {
      if (r.Transport == 2) return AnswerAll(r);
      return udpAnswers++ < row.answered ? AnswerAll(r) : PeerReply::Silent();
    });
    ASSERT_TRUE(peer.Ready());
    Client client;
    ASSERT_EQ(S_OK, client.Start(true, true, peer.UdpPort(), peer.TcpPort()));
    auto keys = Keys(1);
    auto answers = Answers(1);
    for (int i = 0; i < 100; ++i) {
      // The unanswered ones are given up quickly; they stay in flight all the same. A tag each, so
      // that a pack not yet sent when its caller gave up is not joined by the next caller.
      const HRESULT hr = client.LookupHashes(1, keys.data(), answers.data(), 100 + i, Client::kTransportUdp,
                                             i < row.answered ? 5000 : 20);
      EXPECT_EQ(i < row.answered ? S_OK : kTimeout, hr) << i;
    }
    EXPECT_FALSE(client.IsDead(1));
    EXPECT_EQ(S_OK, client.LookupHashes(1, keys.data(), answers.data(), 2, kEither, 8000));
    EXPECT_EQ(row.dead, client.IsDead(1));
    Client::Statistics counts{};
    ASSERT_TRUE(client.GetStatistics(1, &counts));
    EXPECT_EQ(101u, counts.SentCount);
    EXPECT_EQ(static_cast<uint64_t>(row.answered), counts.ReceivedCount);
    // A dead UDP is skipped: the next lookup goes straight to TCP.
    const size_t before = peer.Requests().size();
    EXPECT_EQ(S_OK, client.LookupHashes(1, keys.data(), answers.data(), 2, kEither, 8000));
    EXPECT_EQ(row.dead ? 2 : 1, peer.Requests()[before].Transport);
  }
}

TEST_F(PiplinedLookupClientTest, AnswerSplitOverTwoReadsAndLeadingZeroWord) {
  CLookupPeer peer([](const PeerRequest& r) {
    PeerReply reply;
    const std::string answer = std::string(4, '\0') + HashAnswer(r, 2);
    reply.Chunks.push_back({answer.substr(0, 11), 0});
    reply.Chunks.push_back({answer.substr(11), 300});
    return reply;
  });
  ASSERT_TRUE(peer.Ready());
  Client client;
  ASSERT_EQ(S_OK, client.Start(false, true, 0, peer.TcpPort()));
  auto keys = Keys(4);
  auto answers = Answers(4);
  ASSERT_EQ(S_OK, client.LookupHashes(4, keys.data(), answers.data(), 2, kEither, 5000));
  EXPECT_EQ(2, answers[3].FlsVerdict);
  EXPECT_EQ(1644972474u, answers[3].Date);
}

TEST_F(PiplinedLookupClientTest, LateAnswerOnUdpIsDropped) {
  CLookupPeer peer([](const PeerRequest& r) {
    PeerRequest late = r;
    late.Sequence += 1000;
    PeerReply reply;
    reply.Chunks.push_back({HashAnswer(late, 2), 0});
    reply.Chunks.push_back({HashAnswer(r, 1), 50});
    return reply;
  });
  ASSERT_TRUE(peer.Ready());
  Client client;
  ASSERT_EQ(S_OK, client.Start(true, false, peer.UdpPort(), 0));
  auto keys = Keys(2);
  auto answers = Answers(2);
  ASSERT_EQ(S_OK, client.LookupHashes(2, keys.data(), answers.data(), 2, kEither, 5000));
  EXPECT_EQ(1, answers[0].FlsVerdict);
  Client::Statistics counts{};
  ASSERT_TRUE(client.GetStatistics(1, &counts));
  EXPECT_EQ(1u, counts.ReceivedCount);
}

// A bad answer fails its own pack only; what followed it in the same datagram or on the same
// connection is never read as the next answer.
TEST_F(PiplinedLookupClientTest, BadAnswersFailOnlyTheirPack) {
  const struct {
    const char* name;
    bool udp;
    std::function<std::string(const PeerRequest&)> first;
    HRESULT firstResult;
  } rows[] = {
      {"udp count one short", true, [](const PeerRequest& r) { return HashAnswer(r, 2, 2, 7, 0, r.Count - 1); }, E_FAIL},
      {"tcp count one short", false, [](const PeerRequest& r) { return HashAnswer(r, 2, 2, 7, 0, r.Count - 1); }, E_FAIL},
      {"udp garbage after a good answer", true, [](const PeerRequest& r) { return HashAnswer(r, 2) + "\x07garbage!"; }, S_OK},
      {"tcp garbage after a good answer", false, [](const PeerRequest& r) { return HashAnswer(r, 2) + "\x07garbage!"; }, S_OK},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::atomic<int> n{0};
    CLookupPeer peer([&](const PeerRequest& r) { return PeerReply::Send(n++ == 0 ? row.first(r) : HashAnswer(r, 1)); });
    ASSERT_TRUE(peer.Ready());
    Client client;
    ASSERT_EQ(S_OK, client.Start(row.udp, !row.udp, peer.UdpPort(), peer.TcpPort()));
    auto keys = Keys(3);
    auto answers = Answers(3);
    EXPECT_EQ(row.firstResult, client.LookupHashes(3, keys.data(), answers.data(), 2, kEither, 5000));
    EXPECT_EQ(SUCCEEDED(row.firstResult) ? 2 : 99, answers[0].FlsVerdict);
    EXPECT_EQ(S_OK, client.LookupHashes(3, keys.data(), answers.data(), 2, kEither, 5000));
    EXPECT_EQ(1, answers[2].FlsVerdict);
    if (!row.udp) {
      // The stream can't be trusted after the bad bytes: the second pack came on a new connection.
      EXPECT_EQ(2, peer.Connections());
      EXPECT_EQ(1, peer.ClosedByClient());
    }
  }
}

TEST_F(PiplinedLookupClientTest, ResetMidAnswerAbortsAndTheNextPackReconnects) {
  std::atomic<int> n{0};
  CLookupPeer peer([&](const PeerRequest& r) {
    if (n++ > 0) return AnswerAll(r);
    PeerReply reply = PeerReply::Send(HashAnswer(r, 1).substr(0, 12));
    reply.Reset = true;
    return reply;
  });
  ASSERT_TRUE(peer.Ready());
  Client client;
  ASSERT_EQ(S_OK, client.Start(false, true, 0, peer.TcpPort()));
  auto keys = Keys(5);
  auto answers = Answers(5);
  EXPECT_EQ(E_ABORT, client.LookupHashes(5, keys.data(), answers.data(), 2, kEither, 5000));
  EXPECT_EQ(S_OK, client.LookupHashes(5, keys.data(), answers.data(), 2, kEither, 5000));
  EXPECT_EQ(2, peer.Connections());
}

TEST_F(PiplinedLookupClientTest, ServerDownTimesOutWithoutHanging) {
  // Ports that were free a moment ago: nothing answers on either.
  uint16_t udp, tcp;
  {
    CLookupPeer gone(AnswerAll);
    udp = gone.UdpPort();
    tcp = gone.TcpPort();
  }
  Client client;
  ASSERT_EQ(S_OK, client.Start(true, true, udp, tcp));
  auto keys = Keys(120);
  auto answers = Answers(120);
  const DWORD start = ::GetTickCount();
  EXPECT_EQ(kTimeout, client.LookupHashes(120, keys.data(), answers.data(), 2, kEither, 1500));
  EXPECT_LT(::GetTickCount() - start, 4000u);
  EXPECT_EQ(99, answers[0].FlsVerdict);  // untouched
  client.Stop();
  EXPECT_FALSE(client.IsInitialized());
}

TEST_F(PiplinedLookupClientTest, RandomUdpLossIsMadeUpByTcp) {
  std::mt19937 random(8);
  std::mutex lock;
  CLookupPeer peer([&](const PeerRequest& r) {
    std::lock_guard<std::mutex> hold(lock);
    if (r.Transport == 1 && random() % 2 == 0) return PeerReply::Silent();
    return AnswerAll(r);
  });
  ASSERT_TRUE(peer.Ready());
  // A clock four times as fast: a lost datagram moves to TCP after about a second.
  const DWORD origin = ::GetTickCount();
  Client client;
  client.SetClock([origin] { return uint64_t{::GetTickCount() - origin} * 4 * 10000 + 1; });
  ASSERT_EQ(S_OK, client.Start(true, true, peer.UdpPort(), peer.TcpPort()));
  auto keys = Keys(30);
  for (int i = 0; i < 8; ++i) {
    auto answers = Answers(30);
    ASSERT_EQ(S_OK, client.LookupHashes(30, keys.data(), answers.data(), 2, kEither, 5000)) << i;
    EXPECT_EQ(1, answers[29].FlsVerdict);
  }
  int tcp = 0;
  for (const auto& r : peer.Requests()) tcp += r.Transport == 2;
  EXPECT_GT(tcp, 0);
}

TEST_F(PiplinedLookupClientTest, IdleConnectionClosesAndReopens) {
  CLookupPeer peer(AnswerAll);
  ASSERT_TRUE(peer.Ready());
  std::atomic<uint64_t> now{100000000000ull};
  Client client;
  client.SetClock([&now] { return now.load(); });
  ASSERT_EQ(S_OK, client.Start(false, true, 0, peer.TcpPort()));
  auto keys = Keys(1);
  auto answers = Answers(1);
  ASSERT_EQ(S_OK, client.LookupHashes(1, keys.data(), answers.data(), 2, kEither, 5000));

  ::Sleep(500);  // late network events (the connect's FD_WRITE) also count as activity
  now += Client::kIdleLimit;  // exactly 30 minutes: not yet
  ::Sleep(1500);
  EXPECT_EQ(0, peer.ClosedByClient());
  now += 1;
  for (int i = 0; i < 40 && peer.ClosedByClient() == 0; ++i) ::Sleep(100);
  EXPECT_EQ(1, peer.ClosedByClient());

  ASSERT_EQ(S_OK, client.LookupHashes(1, keys.data(), answers.data(), 2, kEither, 5000));
  EXPECT_EQ(2, peer.Connections());
}

TEST_F(PiplinedLookupClientTest, PortZeroMeansTheDefaultPorts) {
  CLookupPeer peer(AnswerAll, Client::kDefaultUdpPort, Client::kDefaultTcpPort);
  ASSERT_TRUE(peer.Ready()) << "ports 4447/4448 are taken";
  for (int transport : {1, 2}) {
    SCOPED_TRACE(transport);
    Client client;
    ASSERT_EQ(S_OK, client.Start(transport == 1, transport == 2, 0, 0));
    auto keys = Keys(1);
    auto answers = Answers(1);
    ASSERT_EQ(S_OK, client.LookupHashes(1, keys.data(), answers.data(), 2, kEither, 5000));
    EXPECT_EQ(transport, peer.Requests().back().Transport);
  }
}

TEST_F(PiplinedLookupClientTest, StopEndsWaitingPacks) {
  CLookupPeer peer([](const PeerRequest&) { return PeerReply::Silent(); });
  ASSERT_TRUE(peer.Ready());
  Client client;
  ASSERT_EQ(S_OK, client.Start(false, true, 0, peer.TcpPort()));
  HRESULT result = S_FALSE;
  std::thread caller([&] {
    auto keys = Keys(1);
    auto answers = Answers(1);
    result = client.LookupHashes(1, keys.data(), answers.data(), 2, kEither, 10000);
  });
  ::Sleep(500);
  client.Stop();
  caller.join();
  EXPECT_EQ(E_ABORT, result);
}

}  // namespace
}  // namespace kal
