#include "net/socket/SocketEngine.h"

#include <cerrno>
#include <cstring>

#include "framework/Application.h"
#include "framework/FileStream.h"
#include "net/socket/NotifyWindow.h"
#include "net/socket/PlainTransport.h"
#include "net/socket/TimerOffOnExit.h"
#include "platform/HostLookup.h"

namespace qvl {

namespace {

constexpr unsigned kSocketVersion = 0x0101;  // 1.1
constexpr int kProtocolTcp = 6;
// How long a receive loop that found nothing waits for the socket or a message before it looks
// again. Short enough that the time-out timer and the user stay prompt even if a wake-up is
// missed, long enough that a silent peer costs next to no processor time.
constexpr int kIdleWaitMs = 50;

std::string VersionText(uint16_t version) {
    return std::to_string(version >> 8) + "." + std::to_string(version & 0xFF);
}

// The time-out of a send that finds the socket full: armed at the first "would block", stopped
// by the next send that gets bytes through and on every way out. A long upload that keeps
// moving never times out; a peer that stops reading does.
class StallTimer {
public:
    explicit StallTimer(TSocketEngine& engine) : engine_(engine) {}
    ~StallTimer() { Stop(); }
    StallTimer(const StallTimer&) = delete;
    StallTimer& operator=(const StallTimer&) = delete;
    void Start() {
        if (!on_) engine_.TimerOn();
        on_ = true;
    }
    void Stop() {
        if (on_) engine_.TimerOff();
        on_ = false;
    }

private:
    TSocketEngine& engine_;
    bool on_ = false;
};

}  // namespace

int TSocketEngine::startupCount_ = 0;

int TSocketEngine::StartupCount() { return startupCount_; }

TSocketEngine::TSocketEngine(TComponent* owner)
    : TComponent(owner),
      IOBuffer(std::make_unique<char[]>(kIOBufferSize)),
      transport_(std::make_unique<TPlainTransport>(platform::kNoSocket)) {
    NotifyWindow = CreateNotifyWindow(this);
    TimeOutTimer = std::make_unique<TThreadTimer>(this);
    TimeOutTimer->SetEnabled(false);
    TimeOutTimer->SetOnTimer([this](TObject* sender) { TimerFired(sender); });
    InitializeSockets();
}

TSocketEngine::~TSocketEngine() {
    BeginDestroy();
    TSocketEngine::Abort();
    Cancel();
    TimeOutTimer.reset();
    if (lookupHandle_ != 0) platform::CancelHostLookup(lookupHandle_);
    NotifyWindow.reset();
    FinalClose = true;
    if (!Designing()) {
        // A destructor must not throw; a failing close has nobody left to tell.
        Application::Swallowed([this] { RequestCloseSocket(); });
        SocketHandle = platform::kNoSocket;
        if (--startupCount_ == 0) platform::CleanupSockets();
    }
}

// ---- Connection lifecycle ---------------------------------------------------------------------

void TSocketEngine::InitializeSockets() {
    StatusMessage(8, "Initializing Winsock");
    if (Designing()) return;
    try {
        ++startupCount_;
        if (startupCount_ == 1) {
            if (platform::StartupSockets(kSocketVersion, &WinsockData) != 0) {
                --startupCount_;
                throw ESockError("socket service start-up failed");
            }
            WinsockInfo.Add("Version= " + VersionText(WinsockData.version));
            WinsockInfo.Add("High Version= " + VersionText(WinsockData.highVersion));
            WinsockInfo.Add("Description= " + WinsockData.description);
            WinsockInfo.Add("System= " + WinsockData.systemStatus);
            WinsockInfo.Add("Max Sockets= " + std::to_string(WinsockData.maxSockets));
            WinsockInfo.Add("Max Udp pack size= " + std::to_string(WinsockData.maxUdpDatagram));
        }
        try {
            const int fd = platform::CreateSocket(kProtocolTcp);
            if (fd == platform::kNoSocket) throw ESockError("no socket");
            SocketHandle = fd;
            socketFamily_ = platform::kAfInet;
            platform::SetLingerZero(fd);
            lingerZero_ = true;
            RegisterSocket(fd);
            PlainTransportOn();
        } catch (...) {
            if (--startupCount_ == 0) platform::CleanupSockets();
            throw;
        }
    } catch (...) {
        throw ESockError("Initializaton of windows sockets failed");
    }
}

void TSocketEngine::RegisterSocket(int fd) {
    platform::AsyncSelect(fd, NotifyWindow ? NotifyWindow->Id() : 0,
                          platform::kSocketEventMessage, platform::kEngineEventMask);
}

void TSocketEngine::PlainTransportOn() {
    transport_ = std::make_unique<TPlainTransport>(SocketHandle);
    received_.Clear();
    closeDeferred_ = false;
    ++connection_;
}

void TSocketEngine::UseTransport(std::unique_ptr<TTransport> transport) {
    transport_ = std::move(transport);
    received_.Clear();
    TimerOn();
    {
        TimerOffOnExit timerOff(*this);
        while (!Canceled && transport_->CompleteConnect() < 0) {
            CheckError(platform::kWsaEWouldBlock, transport_->LastError());
            TransportWait();
            platform::ProcessMessages();
        }
    }
    if (Canceled) {
        Canceled = false;
        throw ESockError(TimedOut ? "Connection Timed out" : "Connection Canceled");
    }
}

void TSocketEngine::Disconnect() {
    StatusMessage(8, "Disconnecting");
    RequestCloseSocket();
}

void TSocketEngine::Cancel() {
    StatusMessage(8, "Canceling");
    Canceled = true;
}

void TSocketEngine::Abort() {
    StatusMessage(8, "Abort");
    Cancel();
}

void TSocketEngine::RequestCloseSocket() {
    StatusMessage(4, "Request Close Socket");
    Connected = false;
    if (SocketHandle == platform::kNoSocket) return;
    transport_->Shutdown();
    if (platform::CloseSocket(SocketHandle) != 0) {
        CheckSocketError(platform::kWsaEWouldBlock);
        return;
    }
    SocketHandle = platform::kNoSocket;
    PlainTransportOn();
    if (!Destroying() && OnDisconnect) {
        const TNotifyEvent handler = OnDisconnect;
        handler(this);
    }
    if (FinalClose) return;
    const int fd = platform::CreateSocket(0);
    if (fd == platform::kNoSocket) {
        CheckSocketError(platform::kWsaEWouldBlock);
        return;
    }
    SocketHandle = fd;
    socketFamily_ = platform::kAfInet;
    lingerZero_ = false;
    RegisterSocket(fd);
    PlainTransportOn();
}

void TSocketEngine::StatusMessage(uint8_t level, const std::string& text) {
    if (level > ReportLevel) return;
    LastStatus = text;
    if (Destroying() || !OnStatus) return;
    const TOnStatus handler = OnStatus;
    const std::string status = LastStatus;
    Application::Swallowed([&] { handler(this, status); });
}

void TSocketEngine::TimerOn() {
    StatusMessage(8, "Timer On");
    TimedOut = false;
    TimeOutTimer->SetInterval(static_cast<uint32_t>(TimeOut < 0 ? 0 : TimeOut));
    TimeOutTimer->SetEnabled(true);
}

void TSocketEngine::TimerOff() {
    StatusMessage(8, "Timer Off");
    if (TimeOutTimer) TimeOutTimer->SetEnabled(false);
}

void TSocketEngine::TimerFired(TObject*) {
    StatusMessage(8, "Timer Triggered");
    TimerOff();
    TimedOut = true;
    WaitDone = true;
    Abort();
}

void TSocketEngine::HandleNotification(const platform::Message& message) {
    Application::Swallowed([&] {
        if (message.msg == kDeferredCloseMessage) {
            if (message.wParam == connection_ && !DataAvailable()) RequestCloseSocket();
            return;
        }
        const unsigned event = platform::LoWord(message.lParam);
        const unsigned error = platform::HiWord(message.lParam);
        LastNotifyOK = error == 0;
        if (message.msg == platform::kSocketEventMessage) {
            switch (event) {
            case platform::kFdRead:
                if (OnDataArrived) {
                    const TNotifyEvent handler = OnDataArrived;
                    Application::Swallowed([&] { handler(this); });
                }
                break;
            case platform::kFdAccept:
                Connected = true;
                // Accept waits for this flag; without it an accept would never be noticed.
                WaitDone = true;
                if (OnConnectionRequest) {
                    const TNotifyEvent handler = OnConnectionRequest;
                    handler(this);
                }
                break;
            case platform::kFdConnect:
                WaitDone = true;
                if (LastNotifyOK) {
                    Connected = true;
                    if (OnConnect) {
                        const TNotifyEvent handler = OnConnect;
                        handler(this);
                    }
                }
                break;
            case platform::kFdClose:
                // The notifier's look at the socket has taken a reset's error from it; the
                // receive that meets the end of the stream next raises it from here.
                if (error != 0) CloseErrorNo = static_cast<int>(error);
                // With unread data left, the reader meets the end of the stream itself; data
                // already in the receive buffer is the socket's too, so its close waits for it.
                if (!DataAvailable()) RequestCloseSocket();
                else if (received_.Size() > 0) closeDeferred_ = true;
                break;
            default:
                break;
            }
        } else if (message.msg == platform::kLookupDoneMessage) {
            // Only the live lookup's message is delivered, so the handle is ours.
            LookupAddresses = platform::TakeHostLookupAddresses(message.wParam);
            LookupAddress = 0;
            for (const platform::SocketAddress& a : LookupAddresses)
                if (LookupAddress == 0) LookupAddress = platform::Ipv4Of(a);
            WaitDone = true;
        }
    });
}

void TSocketEngine::WaitTurn() {
    platform::Sleep(2);
    platform::ProcessMessages();
}

void TSocketEngine::TransportWait() {
    // Until the peer moves, there is nothing to do but wait: for the socket, or for a message
    // (the time-out timer, a cancel, the window), never spinning.
    platform::WaitForSocketOrMessage(SocketHandle, kIdleWaitMs,
                                     transport_->Wants() == TTransport::Want::Write
                                         ? platform::SocketWait::Writable
                                         : platform::SocketWait::Readable);
}

void TSocketEngine::RaiseCloseError() {
    if (CloseErrorNo == 0) return;
    LastErrorNo = CloseErrorNo;
    RaiseSocketError(static_cast<uint16_t>(CloseErrorNo), SocketErrorText(static_cast<uint16_t>(CloseErrorNo)));
}

void TSocketEngine::ReceiveTurn(bool nothingPending) {
    if (nothingPending) {
        TransportWait();
    } else {
        platform::ProcessMessages();
    }
}

// ---- Errors -------------------------------------------------------------------------------------

void TSocketEngine::CheckSocketError(uint16_t expectedError) {
    CheckError(expectedError, platform::LastSocketError());
}

void TSocketEngine::CheckError(uint16_t expectedError, int err) {
    LastErrorNo = err;
    if (err == expectedError || err <= 10000) return;
    std::string text;
    GetErrorMessage(static_cast<uint16_t>(err), text);
    RaiseSocketError(static_cast<uint16_t>(err), text);
}

void TSocketEngine::RaiseSocketError(uint16_t errorNo, const std::string& text) {
    if (OnSocketError) {
        const TOnSocketError handler = OnSocketError;
        handler(this, errorNo, text);
    }
    throw ESockError(text, errorNo);
}

void TSocketEngine::GetErrorMessage(uint16_t errorNo, std::string& message) {
    StatusMessage(8, "Looking Up Error Message" + message);
    message = SocketErrorText(errorNo);
}

// ---- Data transfer -------------------------------------------------------------------------------

void TSocketEngine::SendBuffer(const void* data, uint16_t length) {
    StatusMessage(4, "Sending Buffer");
    TimerOn();
    {
        TimerOffOnExit timerOff(*this);
        if (!Canceled) {
            const char* rest = static_cast<const char*>(data);
            size_t left = length;
            if (left == 0) {
                left = strnlen(rest, kMaxWriteLength + 1);
                if (left > static_cast<size_t>(kMaxWriteLength)) {
                    throw ESockError("Text too long to write: more than 65535 bytes");
                }
            }
            while (left > 0 && !Canceled) {
                const int n = transport_->Send(rest, static_cast<int>(left));
                if (n > 0) {
                    rest += n;
                    left -= static_cast<size_t>(n);
                } else if (n < 0) {
                    CheckError(platform::kWsaEWouldBlock, transport_->LastError());
                    TransportWait();
                } else {
                    break;
                }
            }
        }
    }
    if (Canceled) {
        Canceled = false;
        throw EAbortError("Socket send aborted");
    }
}

void TSocketEngine::Write(const std::string& text) {
    StatusMessage(8, "Write");
    // The text goes out as a NUL-terminated string, so it ends at its first NUL byte.
    const size_t length = std::strlen(text.c_str());
    if (length > static_cast<size_t>(kMaxWriteLength)) {
        throw ESockError("Text too long to write: " + std::to_string(length) +
                         " bytes, at most 65535");
    }
    std::memcpy(IOBuffer.get(), text.data(), length);
    IOBuffer[length] = '\0';
    SendBuffer(IOBuffer.get(), 0);
}

void TSocketEngine::Writeln(const std::string& text) {
    StatusMessage(8, "Writeln");
    Write(text + "\r\n");
}

void TSocketEngine::Transaction(const std::string& command, std::string& reply) {
    StatusMessage(8, "Transaction");
    ReplyCode = 0;
    Writeln(command);
    std::string answer;
    ReadLn(answer);
    LastReply = answer;
    if (!LastReply.empty()) {
        StatusMessage(1, LastReply);
        int64_t value = 0;
        size_t digits = 0;
        while (digits < LastReply.size() && digits < 10 && LastReply[digits] >= '0' &&
               LastReply[digits] <= '9') {
            value = value * 10 + (LastReply[digits] - '0');
            ++digits;
        }
        // A number that does not fit the 16-bit reply code is no valid code, rather than a
        // wrapped (possibly negative) one.
        if (digits > 0) ReplyCode = value <= INT16_MAX ? static_cast<int16_t>(value) : 0;
    }
    reply = LastReply;
}

void TSocketEngine::SendFile(const std::string& fileName) {
    StatusMessage(8, "SendFile");
    TFileStream file(fileName, TFileStream::Mode::OpenRead);
    char* const buffer = IOBuffer.get();
    const int64_t size = file.Size();
    StallTimer stall(*this);
    while (file.Position() != size && !Canceled) {
        const int64_t chunk = file.Read(buffer, kChunkSize);
        if (chunk <= 0) break;  // the file shrank under us: nothing more to send
        const char* rest = buffer;
        int left = static_cast<int>(chunk);
        while (left > 0 && !Canceled) {
            const int n = transport_->Send(rest, left);
            if (n > 0) {
                stall.Stop();
                rest += n;
                left -= n;
                BytesSent += n;
                if (OnPacketSent) {
                    const TNotifyEvent handler = OnPacketSent;
                    handler(this);
                }
            } else if (n < 0) {
                CheckError(platform::kWsaEWouldBlock, transport_->LastError());
                stall.Start();
                TransportWait();
                continue;
            }
            platform::ProcessMessages();
            if (n == 0) break;
        }
    }
    file.Close();
    if (Canceled) {
        Canceled = false;
        throw EAbortError("Socket send aborted");
    }
}

int TSocketEngine::Accept() {
    StatusMessage(4, "Accepting");
    while (!WaitDone && !Canceled) WaitTurn();
    if (Canceled) throw ESockError("Accepting Canceled");
    if (!LastNotifyOK) throw ESockError("Error creating Data Connection");
    platform::SocketAddress peer;
    const int fd = platform::AcceptSocket(SocketHandle, &peer);
    if (fd == platform::kNoSocket) {
        CheckSocketError(platform::kWsaEWouldBlock);
        return platform::kNoSocket;
    }
    RegisterSocket(fd);
    RemoteAddress.family = peer.family;
    RemoteAddress.port = peer.port;
    SetRemoteHost(peer);
    if (Canceled) {
        Canceled = false;
        platform::CloseSocket(fd);
        throw EAbortError("Socket send aborted");
    }
    return fd;
}

}  // namespace qvl
