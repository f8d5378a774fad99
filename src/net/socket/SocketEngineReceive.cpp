// The receive side of the engine: lines, and captures of the data that follows them.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "framework/FileStream.h"
#include "net/socket/SocketEngine.h"
#include "net/socket/TimerOffOnExit.h"

namespace qvl {

void TSocketEngine::ReceiveExactly(char* into, int count) {
    while (count > 0) {
        const int n = platform::RecvSocket(SocketHandle, into, count, 0);
        if (n > 0) {
            into += n;
            count -= n;
        } else if (n < 0) {
            std::string message;
            CheckSocketError(platform::kWsaEWouldBlock, message);
        } else {
            break;
        }
    }
}

void TSocketEngine::ReadLn(std::string& line) {
    StatusMessage(8, "ReadLn");
    TimerOn();
    TimerOffOnExit timerOff(*this);
    char* const buffer = IOBuffer.get();
    // IOBuffer holds the line so far followed by a peeked copy of what is pending; `line` holds
    // the part already taken from the socket, so whatever follows the line stays in the socket.
    int taken = 0;
    int lineEnd = -1;
    line.clear();
    do {
        const int n = platform::RecvSocket(SocketHandle, buffer + taken, kMaxLineLength - taken,
                                           platform::kMsgPeek);
        if (n == 0) {
            line.clear();
            RaiseCloseError();
            return;
        }
        if (n < 0) {
            LastErrorNo = platform::LastSocketError();
            if (LastErrorNo == platform::kWsaENotConn) {
                line.clear();
                RaiseCloseError();
                return;
            }
            std::string message;
            CheckSocketError(platform::kWsaEWouldBlock, message);
            ReceiveTurn(true);
            continue;
        }
        const void* lf = std::memchr(buffer + taken, '\n', static_cast<size_t>(n));
        if (lf != nullptr) {
            lineEnd = static_cast<int>(static_cast<const char*>(lf) - buffer);
            break;
        }
        if (taken + n >= kMaxLineLength) {
            throw ESockError("Line too long: no line end within 65536 bytes");
        }
        line.resize(static_cast<size_t>(taken + n));
        ReceiveExactly(line.data() + taken, n);
        taken += n;
        ReceiveTurn(false);
    } while (!Canceled);

    if (Canceled) {
        Canceled = false;
        throw EAbortError("Socket readln aborted");
    }
    line.resize(static_cast<size_t>(lineEnd + 1));
    ReceiveExactly(line.data() + taken, lineEnd + 1 - taken);
}

void TSocketEngine::CaptureFile(const std::string& fileName, TCaptureFraming* framing) {
    StatusMessage(8, "CaptureFile");
    BytesRecvd = 0;
    TimerOn();
    {
        TimerOffOnExit timerOff(*this);
        TFileStream file(fileName, TFileStream::Mode::Create);
        CaptureChunks([] { return false; },
                      [&](const char* data, int n) {
                          // A file that takes less (a full disk, the file-size limit) ends the
                          // capture with the reason: never lose data silently.
                          errno = 0;
                          if (file.Write(data, n) != n) {
                              const int err = errno;
                              throw EWriteError("Cannot write file " + fileName +
                                                (err != 0 ? std::string(": ") + std::strerror(err)
                                                          : std::string()));
                          }
                      },
                      framing);
        file.Close();
    }
    if (Canceled) {
        Canceled = false;
        throw EAbortError("Socket send aborted");
    }
}

void TSocketEngine::CaptureString(std::string& text, int maxLength, TCaptureFraming* framing) {
    StatusMessage(8, "Capture String");
    text.clear();
    BytesRecvd = 0;
    TimerOn();
    {
        TimerOffOnExit timerOff(*this);
        // The limit is looked at before each receive and chunks are kept whole.
        CaptureChunks([&] { return maxLength != -1 && static_cast<int64_t>(text.size()) >= maxLength; },
                      [&](const char* data, int n) { text.append(data, static_cast<size_t>(n)); },
                      framing);
    }
    if (Canceled) {
        Canceled = false;
        throw EAbortError("Socket capture aborted");
    }
}

void TSocketEngine::CaptureChunks(const std::function<bool()>& full,
                                  const std::function<void(const char*, int)>& store,
                                  TCaptureFraming* framing) {
    char* const buffer = IOBuffer.get();
    int64_t kept = 0;
    const std::function<void(const char*, int)> keep = [&](const char* data, int n) {
        store(data, n);
        kept += n;
    };
    while (!Canceled) {
        if (full()) break;
        int wanted = kChunkSize;
        if (framing) {
            // The framing knows where the data ends: never wait for a close that a peer keeping
            // its connection open will not send, nor take bytes that are not ours.
            wanted = std::min(framing->Wanted(), kChunkSize);
            if (wanted <= 0) break;
        }
        const int n = platform::RecvSocket(SocketHandle, buffer, wanted, 0);
        if (n == 0) {
            RaiseCloseError();
            break;
        }
        if (n > 0) {
            kept = 0;
            if (framing) framing->Take(buffer, n, keep);
            else keep(buffer, n);
            BytesRecvd += kept;
            // Bytes that were only framing are no progress to report.
            if (kept > 0 && OnPacketRecvd) {
                const TNotifyEvent handler = OnPacketRecvd;
                handler(this);
            }
            TimerOn();
            ReceiveTurn(false);
            continue;
        }
        LastErrorNo = platform::LastSocketError();
        if (LastErrorNo == platform::kWsaENotConn) {
            RaiseCloseError();
            break;
        }
        std::string message;
        CheckSocketError(platform::kWsaEWouldBlock, message);
        ReceiveTurn(true);
    }
}

bool TSocketEngine::DataAvailable() {
    StatusMessage(8, "Data Available");
    // A scratch byte of its own: a close notification can call this in the middle of a ReadLn
    // that is using IOBuffer.
    char scratch = 0;
    return platform::RecvSocket(SocketHandle, &scratch, 1, platform::kMsgPeek) == 1;
}

}  // namespace qvl
