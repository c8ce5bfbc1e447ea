// The HTTP client against a local server: status mapping, content length rules, chunked reading
// with the progress callback, a refused connection, and the removed-vendor list download.
#include "lookup/http_client.h"

#include <gtest/gtest.h>

#include <cstring>

#include "http_peer.h"
#include "support/hresult.h"

namespace kal {
namespace {

std::string Answer(const char* status, const std::string& headers, const std::string& body) {
  return std::string("HTTP/1.1 ") + status + "\r\n" + headers + "Connection: close\r\n\r\n" + body;
}

class HttpClientTest : public ::testing::Test {
 protected:
  CWinsockSession winsock_{MAKEWORD(2, 2)};
};

TEST_F(HttpClientTest, StatusesAndBodies) {
  const std::string big(10000, 'x');
  test::CHttpPeer peer({
      {"/ok", Answer("200 OK", "Content-Length: 5\r\n", "hello")},
      {"/nolength", Answer("200 OK", "", "one line\r\n")},
      {"/short", Answer("200 OK", "Content-Length: 100\r\n", "only this")},
      {"/partial", Answer("206 Partial Content", "Content-Length: 3\r\nETag: \"e1\"\r\n", "abc")},
      {"/big", Answer("200 OK", "Content-Length: 10000\r\n", big)},
      {"/304", Answer("304 Not Modified", "", "")},
      {"/401", Answer("401 Unauthorized", "Content-Length: 0\r\n", "")},
      {"/403", Answer("403 Forbidden", "Content-Length: 0\r\n", "")},
      {"/404", Answer("404 Not Found", "Content-Length: 0\r\n", "")},
      {"/500", Answer("500 Internal Server Error", "Content-Length: 0\r\n", "")},
  });
  ASSERT_TRUE(peer.Ready());
  struct Case {
    const char* path;
    HRESULT expected;
    uint32_t status;
    std::string body;
    uint64_t length;
  };
  const Case cases[] = {
      {"/ok", S_OK, 200, "hello", 5},
      {"/nolength", S_OK, 200, "one line", 0},  // a one-line body loses its CR LF
      {"/short", HRESULT(0x800704CA), 200, "only this", 100},
      {"/partial", S_OK, 206, "abc", 3},
      {"/big", S_OK, 200, big, 10000},
      {"/304", HRESULT(0x800700B7), 304, "", 0},
      {"/401", E_ACCESSDENIED, 401, "", 0},
      {"/403", E_ACCESSDENIED, 403, "", 0},
      {"/404", HRESULT(0x80070002), 404, "", 0},
      {"/500", E_FAIL, 500, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    CHttpClient client(L"127.0.0.1", peer.Port(), false, false);
    const CHttpClient::CRequestGet request(std::wstring(c.path, c.path + strlen(c.path)));
    CHttpClient::CResponceToStringA response;
    response.Body = "stale";
    EXPECT_EQ(c.expected, client.SendRequest(request, response, nullptr));
    EXPECT_EQ(c.status, response.StatusCode);
    if (c.status == 200 || c.status == 206) {
      EXPECT_EQ(c.body, response.Body);
      EXPECT_EQ(c.length, response.ContentLength);
    } else {
      EXPECT_EQ("stale", response.Body);  // no body is read for other statuses
    }
    EXPECT_FALSE(client.Connected());
  }
}

TEST_F(HttpClientTest, ProgressSeesChunksAndCanStop) {
  test::CHttpPeer peer({{"/big", Answer("200 OK", "Content-Length: 10000\r\n", std::string(10000, 'y'))}});
  ASSERT_TRUE(peer.Ready());
  CHttpClient client(L"http://127.0.0.1/ignored/part", peer.Port(), false, false);  // the host comes from the URL
  const CHttpClient::CRequestGet request(L"/big");
  std::vector<uint64_t> seen;
  CHttpClient::CResponceToStringA response;
  const HRESULT hr = client.SendRequest(request, response, [&](uint64_t done, uint64_t total) {
    EXPECT_EQ(10000u, total);
    seen.push_back(done);
    return false;  // stop after the first chunk
  });
  ASSERT_EQ(1u, seen.size());
  EXPECT_LE(seen[0], CHttpClient::kChunkSize);
  EXPECT_EQ(seen[0], response.Body.size());
  EXPECT_EQ(HRESULT(0x800704CA), hr);  // fewer bytes than announced
}

TEST_F(HttpClientTest, RequestObjectAndHeaders) {
  test::CHttpPeer peer({{"/q?a=1&b=two", Answer("200 OK", "Content-Length: 2\r\n", "ok")}});
  ASSERT_TRUE(peer.Ready());
  CHttpClient client(L"127.0.0.1", peer.Port(), false, false);
  CHttpClient::CRequestGet request(L"/q");
  request.Parameters = {{L"b", L"two"}, {L"a", L"1"}};
  request.Headers = {{L"X-Test", L"yes"}};
  EXPECT_EQ(L"/q?a=1&b=two", request.Object());
  CHttpClient::CResponceToStringA response;
  EXPECT_EQ(S_OK, client.SendRequest(request, response, nullptr));
  EXPECT_EQ("ok", response.Body);
  EXPECT_EQ((std::vector<std::string>{"GET /q?a=1&b=two HTTP/1.1"}), peer.RequestLines());
}

TEST_F(HttpClientTest, ToStringTrimsOnlyAOneLineBody) {
  struct Case {
    std::string body, expected;
  };
  const Case cases[] = {
      {"name\r\n", "name"},
      {"a\r\nb\r\n", "a\r\nb\r\n"},  // the first CR is not the second-to-last byte
      {"name\n", "name\n"},
      {"\r\n", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    CHttpClient::CResponceToStringA response;
    response.Begin();
    response.Write(reinterpret_cast<const uint8_t*>(c.body.data()), c.body.size());
    response.End();
    EXPECT_EQ(c.expected, response.Body) << c.body;
  }
}

TEST_F(HttpClientTest, RefusedConnectionThrowsWithTheCallsError) {
  // A port nothing listens on: bind one, then close it.
  uint16_t port = 0;
  {
    test::CHttpPeer closed({});
    port = closed.Port();
  }
  CHttpClient client(L"127.0.0.1", port, false, false);
  const CHttpClient::CRequestGet request(L"/x");
  CHttpClient::CResponceToStringA response;
  try {
    client.SendRequest(request, response, nullptr);
    FAIL() << "no exception";
  } catch (const inet::CInternetException& e) {
    EXPECT_EQ(L"Failed to send http request", e.Message);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INTERNET_CANNOT_CONNECT), e.Error);
    EXPECT_EQ(L"Unknown error", e.ResponseText);
  }
  EXPECT_FALSE(client.Connected());
}

TEST_F(HttpClientTest, RemovedListDownloadOnPort80) {
  std::string body = "untouched";
  {
    test::CHttpPeer peer({{"/av/tvl/deletedvendors.txt",
                           Answer("200 OK", "Content-Length: 12\r\n", "\xEF\xBB\xBFGone\r\nOld")}},
                         80);
    ASSERT_TRUE(peer.Ready()) << "port 80 is taken";
    EXPECT_EQ(S_OK, DownloadRemovedVendorList(L"localhost", &body));
    EXPECT_EQ("\xEF\xBB\xBFGone\r\nOld", body);
    EXPECT_EQ((std::vector<std::string>{"GET /av/tvl/deletedvendors.txt HTTP/1.1"}), peer.RequestLines());
  }
  {
    test::CHttpPeer peer({}, 80);  // answers 404
    ASSERT_TRUE(peer.Ready());
    body = "untouched";
    EXPECT_EQ(HRESULT(0x80070002), DownloadRemovedVendorList(L"localhost", &body));
    EXPECT_EQ("untouched", body);
  }
  // Nobody listening: the wrappers' exception ends as a plain failure.
  EXPECT_EQ(E_FAIL, DownloadRemovedVendorList(L"localhost", &body));
}

}  // namespace
}  // namespace kal
