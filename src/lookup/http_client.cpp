// The HTTP client: connection set-up, one request per call, and the response reading rules.
#include "lookup/http_client.h"

#include <cwchar>
#include <vector>

#include "support/hresult.h"

namespace kal {
namespace {

constexpr HRESULT kLengthMismatch = HResultFromWin32(ERROR_GRACEFUL_DISCONNECT);  // 0x800704CA
constexpr HRESULT kNotModified = HResultFromWin32(ERROR_ALREADY_EXISTS);         // 0x800700B7
constexpr HRESULT kNotFound = HResultFromWin32(ERROR_FILE_NOT_FOUND);            // 0x80070002

const wchar_t* ProxyScheme(uint32_t kind) {
  switch (kind) {
    case 3: return L"https://";
    case 4: return L"ftp://";
    default: return L"http://";
  }
}

// While WinINet believes it is offline the request would fail at once; go online for the call
// and put the state back afterwards.
class COnlineForRequest {
 public:
  explicit COnlineForRequest(HINTERNET session) : session_(session) {
    DWORD state = 0, size = sizeof(state);
    if (::InternetQueryOptionW(session_, INTERNET_OPTION_CONNECTED_STATE, &state, &size) &&
        (state == INTERNET_STATE_DISCONNECTED || state == INTERNET_STATE_DISCONNECTED_BY_USER)) {
      saved_ = state;
      Set(INTERNET_STATE_CONNECTED);
    }
  }
  ~COnlineForRequest() {
    if (saved_ != 0) Set(saved_);
  }
  COnlineForRequest(const COnlineForRequest&) = delete;
  COnlineForRequest& operator=(const COnlineForRequest&) = delete;

 private:
  void Set(DWORD state) {
    INTERNET_CONNECTED_INFO info = {state, 0};
    ::InternetSetOptionW(session_, INTERNET_OPTION_CONNECTED_STATE, &info, sizeof(info));
  }
  HINTERNET session_;
  DWORD saved_ = 0;
};

}  // namespace

std::wstring CHttpClient::CRequest::Object() const {
  std::wstring object = Path;
  const wchar_t* separator = L"?";
  for (const auto& p : Parameters) {
    object += separator + p.first + L"=" + p.second;
    separator = L"&";
  }
  return object;
}

std::wstring CHttpClient::CRequest::HeaderText() const {
  std::wstring text;
  for (const auto& h : Headers) text += h.first + L": " + h.second + L"\r\n";
  return text;
}

void CHttpClient::CRequestGet::Send(inet::CHttpFile& file) const { file.Send(HeaderText(), nullptr, 0); }

void CHttpClient::CResponceToStringA::End() {
  const size_t cr = Body.find('\r');
  if (cr != std::string::npos && Body.size() >= 2 && cr == Body.size() - 2) Body.resize(Body.size() - 2);
}

CHttpClient::CHttpClient(std::wstring server, uint16_t port, bool secure, bool useCache)
    : CInetClient(std::move(server), port != 0 ? port : (secure ? 443 : 80)), secure_(secure), useCache_(useCache) {}

std::wstring CHttpClient::Host() const {
  wchar_t host[INTERNET_MAX_HOST_NAME_LENGTH + 1] = {};
  URL_COMPONENTSW parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.lpszHostName = host;
  parts.dwHostNameLength = INTERNET_MAX_HOST_NAME_LENGTH;
  if (::InternetCrackUrlW(server_.c_str(), static_cast<DWORD>(server_.size()), 0, &parts) && host[0] != 0) return host;
  return server_;
}

void CHttpClient::Connect() {
  if (port_ == 443) secure_ = true;
  auto session = std::make_unique<inet::CInternetSession>(agent_.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                                                          nullptr, 0);
  const ConnectionSettings& settings = connection_;
  if (!settings.UseProxy) {
    if (forceDirect_) {
      // The system's proxy settings do not apply to this connection.
      INTERNET_PER_CONN_OPTIONW option = {};
      option.dwOption = INTERNET_PER_CONN_FLAGS;
      option.Value.dwValue = PROXY_TYPE_DIRECT;
      INTERNET_PER_CONN_OPTION_LISTW list = {sizeof(list), nullptr, 1, 0, &option};
      session->SetOption(INTERNET_OPTION_PER_CONNECTION_OPTION, &list, sizeof(list));
    }
  } else {
    std::wstring proxy = std::wstring(ProxyScheme(settings.Proxy.Kind)) + settings.Proxy.ProxyHost + L":" +
                         std::to_wstring(settings.Proxy.ProxyPort);
    INTERNET_PER_CONN_OPTIONW options[2] = {};
    options[0].dwOption = INTERNET_PER_CONN_FLAGS;
    options[0].Value.dwValue = PROXY_TYPE_PROXY;
    options[1].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
    options[1].Value.pszValue = &proxy[0];
    INTERNET_PER_CONN_OPTION_LISTW list = {sizeof(list), nullptr, 2, 0, options};
    session->SetOption(INTERNET_OPTION_PER_CONNECTION_OPTION, &list, sizeof(list));
  }
  auto http = std::make_unique<inet::CHttpConnection>(*session, Host(), port_, nullptr, nullptr, 0);
  if (settings.UseProxy && settings.ProxyNeedsCredentials) {
    http->SetStringOption(INTERNET_OPTION_PROXY_USERNAME, settings.ProxyUser);
    http->SetStringOption(INTERNET_OPTION_PROXY_PASSWORD, settings.ProxyPassword);
  }
  session_ = std::move(session);
  http_ = std::move(http);
}

void CHttpClient::Disconnect() {
  http_.reset();
  session_.reset();
}

HRESULT CHttpClient::SendRequest(const CRequest& request, CResponce& response, const Progress& progress) {
  if (Connected()) return Perform(request, response, progress);
  Connect();
  struct CDisconnect {
    CHttpClient* client;
    ~CDisconnect() { client->Disconnect(); }
  } disconnect{this};
  return Perform(request, response, progress);
}

HRESULT CHttpClient::Perform(const CRequest& request, CResponce& response, const Progress& progress) {
  DWORD flags = INTERNET_FLAG_EXISTING_CONNECT;
  if (secure_) flags |= INTERNET_FLAG_SECURE | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID | INTERNET_FLAG_IGNORE_CERT_CN_INVALID;
  if (!useCache_) flags |= INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
  const COnlineForRequest online(session_->Get());
  inet::CHttpFile file(*http_, request.Verb(), request.Object(), L"HTTP/1.1", nullptr, nullptr, flags);
  if (secure_)
    file.SetDwordOption(INTERNET_OPTION_SECURITY_FLAGS,
                        file.QueryDwordOption(INTERNET_OPTION_SECURITY_FLAGS) | SECURITY_FLAG_IGNORE_UNKNOWN_CA);
  request.Send(file);
  return ReadResponse(file, response, progress);
}

HRESULT CHttpClient::ReadResponse(inet::CHttpFile& file, CResponce& response, const Progress& progress) {
  response.StatusCode = file.QueryNumber(HTTP_QUERY_STATUS_CODE);
  switch (response.StatusCode) {
    case 200:
    case 206: break;
    case 304: return kNotModified;
    case 401:
    case 403: return E_ACCESSDENIED;
    case 404: return kNotFound;
    default: return E_FAIL;
  }
  if (!response.ExpectedContentType.empty()) {
    std::wstring type;
    if (!file.QueryText(HTTP_QUERY_CONTENT_TYPE, 256, &type) || type != response.ExpectedContentType) return kNotFound;
  }
  std::wstring text;
  response.ContentLength = file.QueryText(HTTP_QUERY_CONTENT_LENGTH, 32, &text) ? std::wcstoull(text.c_str(), nullptr, 10) : 0;
  if (!file.QueryText(HTTP_QUERY_ETAG, 256, &response.ETag)) response.ETag.clear();
  if (response.SkipBody()) return S_OK;

  response.Begin();
  std::vector<uint8_t> chunk(kChunkSize);
  uint64_t done = 0;
  for (;;) {
    const DWORD read = file.Read(chunk.data(), static_cast<DWORD>(chunk.size()));
    if (read == 0) break;
    response.Write(chunk.data(), read);
    done += read;
    if (progress && !progress(done, response.ContentLength)) break;
  }
  response.End();
  return response.ContentLength != 0 && done != response.ContentLength ? kLengthMismatch : S_OK;
}

HRESULT DownloadRemovedVendorList(const std::wstring& host, std::string* body) {
  try {
    CHttpClient client(host, 0, false, false);
    const CHttpClient::CRequestGet request(L"av/tvl/deletedvendors.txt");
    CHttpClient::CResponceToStringA response;
    const HRESULT hr = client.SendRequest(request, response, nullptr);
    if (SUCCEEDED(hr)) *body = std::move(response.Body);
    return hr;
  } catch (...) {
    // The download is optional: whatever went wrong, the run goes on without the list.
    return E_FAIL;
  }
}

}  // namespace kal
