// The transport-independent half of a pipeline: waking up, sending the next pack, matching
// answers to packs in flight, closing, and the idle check.
#include "lookup/lookup_pipline.h"

#include "lookup/serialization.h"
#include "support/hresult.h"

namespace kal {

namespace {
constexpr HRESULT kMoreData = static_cast<HRESULT>(0x800700EAu);  // ERROR_MORE_DATA

// An exception's code when it is a failure HRESULT (out of memory), else E_FAIL.
HRESULT ResultOf(const CKalException& e) {
  const int32_t code = e.GetCode();
  return code < 0 && code != -1 ? static_cast<HRESULT>(code) : E_FAIL;
}

}  // namespace

CPiplinedLookupClient::CPipline::CPipline(CPiplinedLookupClient& client, uint16_t port)
    : client_(client), settings_(client.GetProtocolSettings()), connection_(&client.Connection()), port_(port) {}

CPiplinedLookupClient::CPipline::~CPipline() {
  for (CRefPtr<CPack>& pack : pending_) pack->Complete(E_ABORT);
  for (auto& entry : inFlight_) entry.second.Pack->Complete(E_ABORT);
}

void CPiplinedLookupClient::CPipline::Signal() { ::SetEvent(GetHandle()); }

void CPiplinedLookupClient::CPipline::RequestClose() {
  {
    CCriticalSectionLock hold(lock_);
    CloseRequested = true;
  }
  Signal();
}

void CPiplinedLookupClient::CPipline::TakeOver(PackList packs) {
  {
    CCriticalSectionLock hold(lock_);
    pending_.splice(pending_.end(), packs);
  }
  Signal();
}

CPiplinedLookupClient::Statistics CPiplinedLookupClient::CPipline::GetStatistics() {
  CCriticalSectionLock hold(lock_);
  return Statistics{SentCount, ReceivedCount};
}

bool CPiplinedLookupClient::CPipline::IsDead() {
  CCriticalSectionLock hold(lock_);
  return Dead;
}

HRESULT CPiplinedLookupClient::CPipline::Execute(DWORD_PTR, HANDLE event) {
  bool closeRequested;
  {
    CCriticalSectionLock hold(lock_);
    closeRequested = CloseRequested;
  }
  if (closeRequested) {
    ::ResetEvent(event);
    {
      CCriticalSectionLock hold(lock_);
      CloseRequested = false;
    }
    Close(true);
    return S_OK;
  }

  HRESULT hr = S_OK;
  if (socket_) {
    WSANETWORKEVENTS events{};
    if (::WSAEnumNetworkEvents(socket_.Get(), event, &events) == SOCKET_ERROR) {
      hr = HResultFromWin32(::WSAGetLastError());
      ::ResetEvent(event);
    }
    if ((events.lNetworkEvents & FD_READ) && events.iErrorCode[FD_READ_BIT] == 0) hr = OnRead();
    if (events.lNetworkEvents & FD_CLOSE) {
      // Also after a reset: the packs that were not yet sent go out on a new connection.
      CloseAndResume();
      if (events.iErrorCode[FD_CLOSE_BIT] != 0) hr = HResultFromWin32(events.iErrorCode[FD_CLOSE_BIT]);
    } else if (socket_) {  // a bad answer on a stream may have closed it just now
      if ((events.lNetworkEvents & FD_WRITE) && events.iErrorCode[FD_WRITE_BIT] == 0) Writable = true;
      const HRESULT sent = SendNext();
      if (FAILED(sent)) hr = sent;
      LastActivity = client_.Now();
    }
    return hr;
  }

  ::ResetEvent(event);
  hr = Open(event);
  if (SUCCEEDED(hr)) {
    {
      CCriticalSectionLock hold(lock_);
      CloseRequested = false;
      SentCount = 0;
      ReceivedCount = 0;
    }
    Writable = true;
    SendNext();
  }
  LastActivity = client_.Now();
  return hr;
}

HRESULT CPiplinedLookupClient::CPipline::SendNext() {
  if (!Writable) return S_FALSE;
  CRefPtr<CPack> pack;
  {
    CCriticalSectionLock hold(lock_);
    if (pending_.empty()) return S_OK;
    pack = std::move(pending_.front());
    pending_.pop_front();
  }

  const uint32_t number = NextSequenceNumber();
  CMemoryStream message(CSafetyLookupClientBase::kKeySize * pack->Count + 8);
  try {
    CSerializationWriter writer(&message);
    pack->Encode(writer, number, settings_);
  } catch (const CKalException& e) {
    pack->Complete(ResultOf(e));
    return ResultOf(e);
  }

  if (Send(message.GetBuffer(), static_cast<int>(message.GetSize())) == SOCKET_ERROR) {
    const int error = ::WSAGetLastError();
    if (error != WSAEWOULDBLOCK) {
      // Trying again at once would fail the same way and keep the worker spinning.
      pack->Complete(HResultFromWin32(error));
      return HResultFromWin32(error);
    }
    Writable = false;  // FD_WRITE says when to go on
    {
      CCriticalSectionLock hold(lock_);
      pending_.push_front(std::move(pack));
    }
    Signal();
    return HResultFromWin32(error);
  }

  bool more;
  {
    CCriticalSectionLock hold(lock_);
    pack->SendTime = client_.Now();
    inFlightOrder_.push_back(number);
    inFlight_[number] = InFlight{std::move(pack), std::prev(inFlightOrder_.end())};
    SentCount += 1;
    more = !pending_.empty();
  }
  // One pack per wake-up; the queue behind it must not wait for an unrelated event.
  if (more) Signal();
  return S_OK;
}

CRefPtr<CPiplinedLookupClient::CPack> CPiplinedLookupClient::CPipline::TakeInFlight(uint32_t number) {
  auto found = inFlight_.find(number);
  if (found == inFlight_.end()) return CRefPtr<CPack>();
  CRefPtr<CPack> pack = std::move(found->second.Pack);
  inFlightOrder_.erase(found->second.Order);
  inFlight_.erase(found);
  return pack;
}

HRESULT CPiplinedLookupClient::CPipline::OnRead() {
  int received;
  try {
    uint8_t* room = receive_.Reserve(kReceiveChunk);
    received = Receive(room, kReceiveChunk);
    const int error = ::WSAGetLastError();
    receive_.Commit(received == SOCKET_ERROR ? 0 : static_cast<uint32_t>(received));
    if (received == SOCKET_ERROR) return HResultFromWin32(error);
  } catch (const CKalException& e) {
    return ResultOf(e);
  }
  if (received == 0) return S_OK;

  HRESULT hr = S_OK;
  for (;;) {
    const CAnswerBuffer::Parsed parsed = ParseOne();
    if (parsed == CAnswerBuffer::Parsed::Partial) hr = kMoreData;
    if (parsed == CAnswerBuffer::Parsed::Failed) hr = E_FAIL;
    if (!IsStream()) {
      // A datagram is one message: a short one never completes, and whatever follows an answer
      // (or a bad answer) is not the start of the next one.
      receive_.Clear();
      break;
    }
    if (parsed == CAnswerBuffer::Parsed::Dropped || parsed == CAnswerBuffer::Parsed::Failed) {
      // On a stream the next message's start is lost with this one: only a new connection
      // finds it again.
      CloseAndResume();
      break;
    }
    if (parsed == CAnswerBuffer::Parsed::Partial || receive_.Size() == 0) break;
  }
  return hr;
}

CAnswerBuffer::Parsed CPiplinedLookupClient::CPipline::ParseOne() {
  CRefPtr<CPack> pack;
  CAnswerBuffer::Parsed parsed;
  {
    CCriticalSectionLock hold(lock_);
    uint32_t number;
    parsed = receive_.ParseOne(
        [this](uint32_t sequence, CSerializationReader& reader) {
          auto found = inFlight_.find(sequence);
          if (found == inFlight_.end()) return false;
          found->second.Pack->Decode(reader);
          return true;
        },
        &number);
    if (parsed != CAnswerBuffer::Parsed::Answer && parsed != CAnswerBuffer::Parsed::Failed) return parsed;
    pack = TakeInFlight(number);
    if (parsed == CAnswerBuffer::Parsed::Answer) ReceivedCount += 1;
  }
  pack->Complete(parsed == CAnswerBuffer::Parsed::Answer ? S_OK : E_FAIL);
  return parsed;
}

void CPiplinedLookupClient::CPipline::Close(bool abortPending) {
  OnClosing();
  socket_.Reset();
  PackList ended;
  {
    CCriticalSectionLock hold(lock_);
    if (abortPending) ended.swap(pending_);
    for (auto& entry : inFlight_) ended.push_back(std::move(entry.second.Pack));
    inFlight_.clear();
    inFlightOrder_.clear();
    receive_.Clear();
  }
  for (CRefPtr<CPack>& pack : ended) pack->Complete(E_ABORT);
}

void CPiplinedLookupClient::CPipline::CloseAndResume() {
  Close(false);
  bool pending;
  {
    CCriticalSectionLock hold(lock_);
    pending = !pending_.empty();
  }
  if (pending) Signal();
}

bool CPiplinedLookupClient::CPipline::IdleCheck() {
  if (next_) next_->OnTimer();
  const uint64_t now = client_.Now();
  CCriticalSectionLock hold(lock_);
  if (LastActivity != 0 && now - LastActivity > kIdleLimit && !CloseRequested && socket_) {
    CloseRequested = true;
    Signal();
    return true;
  }
  return false;
}

void CPiplinedLookupClient::CPipline::OnTimer() { IdleCheck(); }

HRESULT CPiplinedLookupClient::CPipline::Resolve(const std::string& host, uint16_t port, sockaddr_in* out) {
  const hostent* entry = ::gethostbyname(host.c_str());
  if (entry == nullptr) return HResultFromWin32(::WSAGetLastError());
  if (entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr) return HResultFromWin32(WSANO_DATA);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = ::htons(port);
  const int length = entry->h_length < 4 ? entry->h_length : 4;
  memcpy(&address.sin_addr, entry->h_addr_list[0], static_cast<size_t>(length));
  *out = address;
  return S_OK;
}

}  // namespace kal
