// The transport-independent half of a pipeline: waking up, sending the next pack, matching
// answers to packs in flight, closing, and the idle check.
#include "lookup/lookup_pipline.h"

#include <ws2tcpip.h>

#include "lookup/serialization.h"
#include "support/hresult.h"

namespace kal {

namespace {
constexpr HRESULT kMoreData = static_cast<HRESULT>(0x800700EAu);  // ERROR_MORE_DATA

// Puts the cursor after the last byte, where the next bytes are appended.
void SeekEnd(CMemoryStream& stream) {
  const uint32_t size = stream.GetSize();
  if (size == 0 || stream.GetPosition() == size) return;
  uint8_t last;
  stream.SetPosition(size - 1);
  stream.Read(&last, 1, 0);
}

// An exception's code when it is a failure HRESULT (out of memory), else E_FAIL.
HRESULT ResultOf(const CKalException& e) {
  const int32_t code = e.GetCode();
  return code < 0 && code != -1 ? static_cast<HRESULT>(code) : E_FAIL;
}

void Rewind(CMemoryStream& stream, uint32_t position) {
  if (position < stream.GetSize()) stream.SetPosition(position);
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
  const uint32_t old = receive_.GetSize();
  int received;
  try {
    SeekEnd(receive_);
    receive_.Fill(0, kReceiveChunk);
    received = Receive(receive_.GetBuffer() + old, kReceiveChunk);
    const int error = ::WSAGetLastError();
    receive_.Truncate(received == SOCKET_ERROR ? old : old + static_cast<uint32_t>(received));
    Rewind(receive_, 0);
    if (received == SOCKET_ERROR) return HResultFromWin32(error);
  } catch (const CKalException& e) {
    return ResultOf(e);
  }
  if (received == 0) return S_OK;

  HRESULT hr = S_OK;
  for (;;) {
    const Parsed parsed = ParseOne();
    if (parsed == Parsed::Partial) hr = kMoreData;
    if (parsed == Parsed::Bad) hr = E_FAIL;
    if (!IsStream()) {
      // A datagram is one message: a short one never completes, and whatever follows an answer
      // (or a bad answer) is not the start of the next one.
      receive_.Truncate(0);
      break;
    }
    if (parsed == Parsed::Dropped || parsed == Parsed::Bad) {
      // On a stream the next message's start is lost with this one: only a new connection
      // finds it again.
      CloseAndResume();
      break;
    }
    if (parsed == Parsed::Partial || receive_.GetSize() == 0) break;
  }
  return hr;
}

CPiplinedLookupClient::CPipline::Parsed CPiplinedLookupClient::CPipline::ParseOne() {
  const uint32_t start = receive_.GetPosition();
  CSerializationReader reader(&receive_);
  uint32_t number;
  try {
    number = ReadResponseSequenceNumber(reader);
  } catch (const CSerializationReaderNeedMoreDataException&) {
    Rewind(receive_, start);
    return Parsed::Partial;
  } catch (const CKalException&) {
    return Parsed::Bad;
  }

  CRefPtr<CPack> pack;
  HRESULT result;
  {
    CCriticalSectionLock hold(lock_);
    auto found = inFlight_.find(number);
    if (found == inFlight_.end()) {
      receive_.Truncate(0);  // late or foreign
      return Parsed::Dropped;
    }
    try {
      found->second.Pack->Decode(reader);
      result = S_OK;
    } catch (const CSerializationReaderNeedMoreDataException&) {
      Rewind(receive_, start);
      return Parsed::Partial;
    } catch (const CKalException&) {
      result = E_FAIL;
    }
    pack = TakeInFlight(number);
    if (SUCCEEDED(result)) ReceivedCount += 1;
    if (receive_.GetPosition() < receive_.GetSize())
      receive_.Compact();
    else
      receive_.Truncate(0);
  }
  pack->Complete(result);
  return SUCCEEDED(result) ? Parsed::Answer : Parsed::Bad;
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
    receive_.Truncate(0);
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
