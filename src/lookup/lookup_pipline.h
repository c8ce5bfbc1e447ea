// A transport pipeline of the lookup client: the packs waiting to be sent, the packs in flight by
// sequence number, the receive buffer and the socket, all served on the worker thread when the
// pipeline's event is signalled. UDP and TCP differ in how they open, send and receive, and in
// what they can still trust after an answer that does not decode.
#pragma once

#include <list>
#include <map>
#include <memory>
#include <vector>

#include "lookup/answer_buffer.h"
#include "lookup/lookup_pack.h"
#include "lookup/piplined_lookup_client.h"
#include "support/critical_section.h"
#include "support/socket.h"

namespace kal {

class CPiplinedLookupClient::CPipline : public CKalWorkerClientEvent {
 public:
  using PackList = std::list<CRefPtr<CPack>>;
  static constexpr int kReceiveChunk = 65536;

  CPipline(CPiplinedLookupClient& client, uint16_t port);
  // Packs still held are ended with E_ABORT so that no caller waits on a pipeline that is gone.
  ~CPipline() override;

  HRESULT Execute(DWORD_PTR param, HANDLE handle) override;

  virtual int Send(const uint8_t* bytes, int length) = 0;
  virtual int Receive(uint8_t* buffer, int length) = 0;
  virtual HRESULT Open(HANDLE event) = 0;
  virtual int OnClosing() { return 0; }
  // Idle check; the UDP pipeline also hands old packs on. Runs the chain from the back.
  virtual void OnTimer();
  virtual uint32_t GetKind() const = 0;
  // A stream carries messages back to back: after a bad answer the next one can't be found. A
  // datagram is one message: nothing after it belongs to the next.
  virtual bool IsStream() const = 0;

  // One pack per call; S_FALSE while a send would block.
  HRESULT SendNext();
  // Receives once, then handles the answers that are complete; 0x800700EA while one is partial.
  HRESULT OnRead();
  // Closes the socket; in-flight packs (and with abortPending the queued ones) end E_ABORT.
  void Close(bool abortPending);

  // Caller side, under the lock.
  CCriticalSection& Lock() { return lock_; }
  PackList& Pending() { return pending_; }
  // Wakes the pipeline on the worker thread.
  void Signal();
  void RequestClose();
  // Appends handed-over packs to the queue and wakes the pipeline.
  void TakeOver(PackList packs);

  Statistics GetStatistics();
  bool IsDead();
  CPipline* Next() const { return next_.get(); }
  void SetNext(std::unique_ptr<CPipline> next) { next_ = std::move(next); }

 protected:
  struct InFlight {
    CRefPtr<CPack> Pack;
    std::list<uint32_t>::iterator Order;
  };

  // Resolves host (ANSI) through gethostbyname; the first IPv4 address with port.
  static HRESULT Resolve(const std::string& host, uint16_t port, sockaddr_in* out);
  // The idle close; true when it asked for a close (the timer tick ends there).
  bool IdleCheck();
  // Takes the in-flight entry of number out of map and list (the lock is held).
  CRefPtr<CPack> TakeInFlight(uint32_t number);
  // One answer from the front of the buffer; the pack it completes is ended outside the lock.
  CAnswerBuffer::Parsed ParseOne();
  // After a close from the receive side: pending packs go out on a new connection.
  void CloseAndResume();

  CPiplinedLookupClient& client_;
  CProtocolSettings settings_;
  const ConnectionSettings* connection_;
  uint16_t port_;
  PackList pending_;
  std::map<uint32_t, InFlight> inFlight_;
  std::list<uint32_t> inFlightOrder_;  // sequence numbers in send order
  CAnswerBuffer receive_;
  CSocket socket_;
  sockaddr_in peer_{};
  bool CloseRequested = false;
  bool Dead = false;
  bool Writable = false;
  uint64_t SentCount = 0;
  uint64_t ReceivedCount = 0;
  uint64_t LastActivity = 0;
  std::unique_ptr<CPipline> next_;
  CCriticalSection lock_;
};

class CPiplinedLookupClient::CUdpPipline : public CPiplinedLookupClient::CPipline {
 public:
  using CPipline::CPipline;
  int Send(const uint8_t* bytes, int length) override;
  int Receive(uint8_t* buffer, int length) override;
  HRESULT Open(HANDLE event) override;
  void OnTimer() override;
  uint32_t GetKind() const override { return kTransportUdp; }
  bool IsStream() const override { return false; }
};

class CPiplinedLookupClient::CTcpPipline : public CPiplinedLookupClient::CPipline {
 public:
  using CPipline::CPipline;
  int Send(const uint8_t* bytes, int length) override;
  int Receive(uint8_t* buffer, int length) override;
  HRESULT Open(HANDLE event) override;
  uint32_t GetKind() const override { return kTransportTcp; }
  bool IsStream() const override { return true; }

 private:
  // The proxy's CONNECT exchange on the connected socket.
  HRESULT Tunnel(const std::string& request);
};

}  // namespace kal
