// A small HTTP client over WinINet: connect (direct unless a proxy is configured), one request,
// and the response read in chunks into a response object. Used for the removed-vendor list.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "lookup/connection_settings.h"
#include "lookup/internet_handles.h"

namespace kal {

class CInetClient {
 public:
  CInetClient(std::wstring server, uint16_t port) : server_(std::move(server)), port_(port) {}
  virtual ~CInetClient() = default;
  ConnectionSettings& Connection() { return connection_; }

 protected:
  std::wstring server_;  // a host name, or a URL the host is taken from
  uint16_t port_;
  ConnectionSettings connection_;
};

class CHttpClient : public CInetClient {
 public:
  class CRequest {
   public:
    virtual ~CRequest() = default;
    virtual std::wstring Verb() const = 0;
    // The path, then "?" and name=value pairs joined by "&" when there are parameters.
    virtual std::wstring Object() const;
    virtual void Send(inet::CHttpFile& file) const = 0;

    std::map<std::wstring, std::wstring> Headers;
    std::map<std::wstring, std::wstring> Parameters;
    std::wstring Path;

   protected:
    // Header lines "name: value\r\n"; empty when there are none.
    std::wstring HeaderText() const;
  };

  class CRequestGet : public CRequest {
   public:
    explicit CRequestGet(std::wstring path) { Path = std::move(path); }
    std::wstring Verb() const override { return L"GET"; }
    void Send(inet::CHttpFile& file) const override;
  };

  class CResponce {
   public:
    virtual void Begin() {}
    virtual void End() {}
    virtual void Write(const uint8_t* bytes, size_t count) = 0;
    virtual uint64_t ResumeOffset() const { return 0; }
    virtual bool SkipBody() const { return false; }
    virtual ~CResponce() = default;

    uint32_t StatusCode = 0;
    uint64_t ContentLength = 0;  // 0 = not announced
    std::wstring ExpectedContentType;  // empty = any
    std::wstring ETag;
  };

  // The body as bytes; a one-line body loses its trailing CR LF.
  class CResponceToStringA : public CResponce {
   public:
    void Begin() override { Body.clear(); }
    void Write(const uint8_t* bytes, size_t count) override { Body.append(reinterpret_cast<const char*>(bytes), count); }
    void End() override;
    std::string Body;
  };

  // (bytes so far, content length or 0); false stops the read.
  using Progress = std::function<bool(uint64_t done, uint64_t total)>;

  static constexpr size_t kChunkSize = 4096;

  // Port 0 is 443 when secure, else 80.
  CHttpClient(std::wstring server, uint16_t port, bool secure, bool useCache);

  // Connects for this request alone unless already connected. WinINet failures throw
  // inet::CInternetException; HTTP statuses map to HRESULTs.
  HRESULT SendRequest(const CRequest& request, CResponce& response, const Progress& progress);

  void Connect();
  void Disconnect();
  bool Connected() const { return http_ != nullptr; }

 private:
  HRESULT Perform(const CRequest& request, CResponce& response, const Progress& progress);
  HRESULT ReadResponse(inet::CHttpFile& file, CResponce& response, const Progress& progress);
  std::wstring Host() const;

  bool secure_;
  bool useCache_;
  std::unique_ptr<inet::CInternetSession> session_;
  std::unique_ptr<inet::CHttpConnection> http_;
  bool forceDirect_ = true;
  std::wstring agent_;
};

// The removed-vendor list from the vendor-list host; any failure gives a failed HRESULT.
HRESULT DownloadRemovedVendorList(const std::wstring& host, std::string* body);

}  // namespace kal
