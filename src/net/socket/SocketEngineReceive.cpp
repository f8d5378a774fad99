// The receive side of the engine: lines, and captures of the data that follows them.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "framework/FileStream.h"
#include "net/socket/SocketEngine.h"
#include "net/socket/TimerOffOnExit.h"

namespace qvl {

int TSocketEngine::FillReceived() {
    int error = 0;
    const int n = received_.Fill(*transport_, &error);
    if (n > 0) return 1;
    if (n == 0) return 0;
    LastErrorNo = error;
    // A socket that is not connected (a close handled meanwhile put a fresh one in place) has
    // no more to give.
    if (error == platform::kWsaENotConn) return 0;
    CheckError(platform::kWsaEWouldBlock, error);
    ReceiveTurn(true);
    return -1;
}

void TSocketEngine::ReadLn(std::string& line) {
    StatusMessage(8, "ReadLn");
    TimerOn();
    TimerOffOnExit timerOff(*this);
    line.clear();
    int searched = 0;  // bytes at the buffer's start known to hold no line end
    int lineLength = 0;
    bool filled = false;  // bytes came since the last turn of the message loop
    do {
        const int size = std::min(received_.Size(), kMaxLineLength);
        // A handler that closed the connection meanwhile has emptied the buffer.
        searched = std::min(searched, size);
        const void* lf = std::memchr(received_.Data() + searched, '\n', static_cast<size_t>(size - searched));
        if (lf != nullptr) {
            lineLength = static_cast<int>(static_cast<const char*>(lf) - received_.Data()) + 1;
            break;
        }
        if (size >= kMaxLineLength) throw ESockError("Line too long: no line end within 65536 bytes");
        searched = size;
        // Messages are dispatched only while the line is incomplete, as each receive would.
        if (filled) {
            filled = false;
            ReceiveTurn(false);
            continue;
        }
        const int got = FillReceived();
        if (got == 0) {
            // The stream ended inside the line: that part is gone with it.
            received_.Consume(received_.Size());
            RaiseCloseError();
            return;
        }
        filled = got > 0;
    } while (!Canceled);

    if (Canceled) {
        Canceled = false;
        throw EAbortError("Socket readln aborted");
    }
    line.assign(received_.Data(), static_cast<size_t>(lineLength));
    Consume(lineLength);
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
                              throw EWriteError(fileName, err != 0 ? std::strerror(err) : "");
                          }
                          if (OnFileDataWritten) OnFileDataWritten(data, n);
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
        if (received_.Size() == 0) {
            const int filled = FillReceived();
            if (filled == 0) {
                RaiseCloseError();
                break;
            }
            if (filled < 0) continue;
        }
        // Taken out of the buffer before the handlers run; the bytes stay where they are until
        // the next fill.
        const int n = std::min(wanted, received_.Size());
        const char* const data = received_.Data();
        Consume(n);
        kept = 0;
        if (framing) framing->Take(data, n, keep);
        else keep(data, n);
        BytesRecvd += kept;
        // Bytes that were only framing are no progress to report.
        if (kept > 0 && OnPacketRecvd) {
            const TNotifyEvent handler = OnPacketRecvd;
            handler(this);
        }
        TimerOn();
        // One turn of the message loop per fill, not per chunk: a fast stream fills the buffer
        // with several chunks at once.
        if (received_.Size() == 0) ReceiveTurn(false);
    }
}

void TSocketEngine::Consume(int n) {
    received_.Consume(n);
    // The peer's close came while bytes were still here: it is handled now that they are read,
    // at the next turn of the message loop, as the close of a socket read to its end would be.
    if (closeDeferred_ && received_.Size() == 0 && NotifyWindow) {
        closeDeferred_ = false;
        platform::PostMessage(NotifyWindow->Id(), kDeferredCloseMessage, connection_, 0);
    }
}

bool TSocketEngine::DataAvailable() {
    StatusMessage(8, "Data Available");
    return received_.Size() > 0 || transport_->Pending() > 0;
}

}  // namespace qvl
