#pragma once
// TSocketEngine: a blocking-style TCP client over the asynchronous, message-driven socket
// service. Every operation is a plain call that returns when its work is done or raises, and
// while it waits for the network it dispatches the GUI thread's pending messages, so socket
// notifications, the time-out timer, repaints and the user's clicks are handled meanwhile.
// Nested handlers talk to the waiting operation only through the state flags (Canceled,
// TimedOut, WaitDone, Connected, LastNotifyOK), tested after each dispatch.
//
// One instance owns one TCP socket at a time. After a close (Disconnect, a peer close seen with
// no unread data) it holds a fresh, unconnected socket, ready for the next Connect.
//
// The bytes go through a transport (TTransport: plain, or a session such as TLS installed after
// the connect) and arrive in the engine's receive buffer, from which lines and captures are read.
//
// Everything runs on the GUI thread, inside the platform's message loop: on Linux a
// QCoreApplication (or subclass) must exist; on Windows the thread's own message queue serves.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/Component.h"
#include "framework/StringList.h"
#include "net/socket/CaptureFraming.h"
#include "net/socket/ReceiveBuffer.h"
#include "net/socket/SockError.h"
#include "net/socket/ThreadTimer.h"
#include "net/socket/Transport.h"
#include "platform/MessageTarget.h"
#include "platform/Sockets.h"

namespace qvl {

// An event with one in/out flag, false on entry; the handler sets it to say it dealt with it.
using THandlerEvent = std::function<void(bool& Handled)>;
using TOnHostResolved = TNotifyEvent;
using TOnStatus = std::function<void(TObject* Sender, const std::string& Status)>;
using TOnSocketError =
    std::function<void(TObject* Sender, uint16_t ErrorNo, const std::string& Message)>;

// The remote socket address; port and addresses in network byte order. IPv4 callers read
// `address` (0 for an IPv6 address); an IPv6 address (family 23) is in `address6`.
struct TRemoteAddress {
    uint16_t family = 0;
    uint16_t port = 0;
    uint32_t address = 0;
    uint8_t address6[16] = {};
    uint32_t scopeId = 0;  // zone of a link-local IPv6 address
};

class TSocketEngine : public TComponent {
public:
    // Size of IOBuffer; every file chunk sent uses at most kChunkSize bytes of it, and every
    // chunk a capture takes is at most kChunkSize bytes.
    static constexpr int kIOBufferSize = 65540;
    static constexpr int kChunkSize = 65536;
    // Longest line ReadLn returns, LF included; longest text Write sends.
    static constexpr int kMaxLineLength = 65536;
    static constexpr int kMaxWriteLength = 65535;

    // Creates the notification target, the time-out timer (disabled, OnTimer = TimerFired) and
    // calls InitializeSockets. Raises ESockError "Initializaton of windows sockets failed" when
    // the socket service or the first socket cannot be had.
    explicit TSocketEngine(TComponent* owner = nullptr);
    // Abort, Cancel, stops the timer and drops the notification target (a lookup still running
    // is given up), closes the socket without OnDisconnect and without a replacement, and shuts
    // the socket service down when this was its last user.
    ~TSocketEngine() override;

    // ---- Properties -------------------------------------------------------------------------
    std::string Host;        // dotted IPv4 address, IPv6 literal without brackets, or a name
    int Port = 0;            // low 16 bits used
    std::string Proxy;       // when not empty, resolved and connected instead of Host
    int ProxyPort = 0;       // used instead of Port when Proxy is not empty
    int TimeOut = 0;         // ms for each waiting operation; 0 = none; must not be negative
    int ReportLevel = 0;     // highest status level passed to OnStatus

    // ---- Events (an empty one is skipped; Sender is this engine) ------------------------------
    TNotifyEvent OnDataArrived;        // read readiness notification
    TNotifyEvent OnConnectionRequest;  // accept readiness notification
    TNotifyEvent OnConnect;            // the connection attempt succeeded
    TNotifyEvent OnDisconnect;         // the socket was closed by RequestCloseSocket
    TOnSocketError OnSocketError;      // fired by CheckSocketError just before it raises
    THandlerEvent OnInvalidHost;       // Connect found no address; Handled = true asks one retry
    TOnHostResolved OnHostResolved;    // a host name was looked up (not for dotted addresses)
    TOnStatus OnStatus;                // a status text at most ReportLevel (see StatusMessage)
    TNotifyEvent OnConnectionFailed;   // fired just before Connect raises its failure
    TNotifyEvent OnPacketRecvd;        // after each received chunk of CaptureFile/CaptureString
    TNotifyEvent OnPacketSent;         // after each successful send of SendFile
    // The bytes of each chunk CaptureFile has just written to its file, before OnPacketRecvd:
    // lets the caller hash a download as it streams instead of reading the file again.
    std::function<void(const char* data, int length)> OnFileDataWritten;

    // ---- State ---------------------------------------------------------------------------------
    TStringList WinsockInfo;   // six description lines of the socket service, first engine only
    int64_t BytesSent = 0;     // SendFile's sent bytes; never reset
    int64_t BytesTotal = 0;    // bytes the protocol layer expects; the engine never changes it
    int64_t BytesRecvd = 0;    // reset by CaptureFile/CaptureString, + each chunk's length
    bool Canceled = false;     // a cancel was requested
    bool FinalClose = false;   // destroying: closing opens no replacement socket
    int LastErrorNo = 0;       // last socket error number read; not cleared on success
    std::string LastStatus;    // text of the last status reported (at most ReportLevel)
    bool LastNotifyOK = false; // the last notification carried no error
    int CloseErrorNo = 0;      // error the peer's close carried (a reset); 0 after Connect
    bool TimedOut = false;     // the time-out timer fired
    bool WaitDone = false;     // the awaited lookup/connect/accept notification arrived, or the timer fired
    bool Connected = false;    // the connection is established
    std::string LastReply;     // the last reply line read by Transaction, line end included
    int16_t ReplyCode = 0;     // leading digits of LastReply (0 when none or out of range)
    TRemoteAddress RemoteAddress;  // the address connected to (or being tried, or resolved)
    // Every address ResolveHost found, in the resolver's order; Connect tries them in turn.
    std::vector<platform::SocketAddress> RemoteAddresses;
    platform::SocketServiceInfo WinsockData;  // filled only in the first instance of the process
    int SocketHandle = platform::kNoSocket;   // -1 = none
    // The addresses the last lookup-done message carried, and the first IPv4 one of them
    // (network order; 0 when none).
    std::vector<platform::SocketAddress> LookupAddresses;
    uint32_t LookupAddress = 0;

    std::unique_ptr<TThreadTimer> TimeOutTimer;
    std::unique_ptr<platform::MessageTarget> NotifyWindow;

    // Number of engines in the process that have started the socket service.
    static int StartupCount();

    // ---- Connection lifecycle ----------------------------------------------------------------
    // Resolves Host (or Proxy), then connects to Host:Port (or Proxy:ProxyPort), trying each
    // address found in turn until one connects (each attempt on a socket of the address's
    // family; one time-out for them all); returns when connected. Clears Canceled first.
    // Raises ESockError: "Already connected"; "Host Lookup Timed Out" / "Host Lookup Canceled";
    // "Null Remote Address" (no address, OnInvalidHost missing, not handled, or already used
    // once); after OnConnectionFailed: "Connection Timed out" / "Connection Canceled" /
    // "Connection Failed" (the last address failed too); a numbered error text from starting
    // the connect to the last address.
    // A failed Connect does not close the socket; Disconnect gets a fresh one.
    virtual void Connect();
    // Reports (8) "Disconnecting", then RequestCloseSocket.
    virtual void Disconnect();
    // Reports (8) "Canceling" and sets Canceled; a waiting operation ends at its next test.
    void Cancel();
    // Reports (8) "Abort", then Cancel. Called by the time-out timer.
    virtual void Abort();
    // Fills RemoteAddresses (and RemoteAddress's address from the first) from Proxy or Host: a
    // dotted address or an IPv6 literal directly (no lookup, no event); a name through the
    // asynchronous lookup, waiting with the time-out, then OnHostResolved. Raises ESockError "Host Lookup Timed Out", "Host Lookup Canceled" or
    // "Host Lookup Failed".
    void ResolveHost();
    // Starts the socket service (first engine: six WinsockInfo lines) and creates the first
    // socket (linger 0, notifications to NotifyWindow). Does nothing more at design time.
    // Raises ESockError "Initializaton of windows sockets failed".
    void InitializeSockets();
    // Reports (4) "Request Close Socket"; Connected := false; closes the socket (a failure
    // raises the numbered error), fires OnDisconnect unless destroying, and unless FinalClose
    // opens a fresh unconnected socket.
    void RequestCloseSocket();
    // Passes the text to OnStatus when level <= ReportLevel (and sets LastStatus then); not
    // while destroying. An exception from OnStatus is swallowed. Levels: 1 reply lines, 4
    // "Sending Buffer"/"Accepting"/"Request Close Socket", 8 everything else.
    void StatusMessage(uint8_t level, const std::string& text);
    // Arm / stop the time-out timer (Interval := TimeOut; with 0 none runs). Arming a running
    // timer again does not push its time-out back. TimerOn raises Exception "No Timer" when the
    // platform refuses.
    void TimerOn();
    void TimerOff();
    // The timer's handler: TimerOff, TimedOut := true, WaitDone := true, Abort.
    void TimerFired(TObject* Sender);
    // Socket (1125) and lookup (1126) notifications from NotifyWindow. Sets LastNotifyOK from
    // the error code of every message it gets; never raises.
    void HandleNotification(const platform::Message& message);

    // ---- Errors ----------------------------------------------------------------------------
    // Right after a failed socket call: reads the platform's error into LastErrorNo. The
    // expected number (10035 everywhere) and numbers up to 10000 pass. Otherwise fires
    // OnSocketError, then raises ESockError with the numbered text and the number.
    void CheckSocketError(uint16_t expectedError);
    // Reports (8) "Looking Up Error Message" + message's incoming content, then message := the
    // text of errorNo (see SocketErrorText).
    void GetErrorMessage(uint16_t errorNo, std::string& message);

    // ---- Data transfer (on an established connection) ------------------------------------------
    // Sends `length` bytes (0: up to the first NUL, at most 65535). While the socket is full
    // it waits for room, dispatching messages, within TimeOut. Reports (4) "Sending Buffer". Raises EAbortError "Socket send aborted" when
    // Canceled was set (clearing it), ESockError on a socket error.
    void SendBuffer(const void* data, uint16_t length);
    // Sends the text up to its first NUL byte. Raises ESockError when that is longer than
    // kMaxWriteLength bytes (nothing is sent), else as SendBuffer.
    void Write(const std::string& text);
    // Write of text + CR LF.
    void Writeln(const std::string& text);
    // Reads one line, LF included (a CR before it is kept); what follows stays in the receive
    // buffer for the next read.
    // Empty when the peer closed (also mid-line) or the socket is not connected. Raises
    // EAbortError "Socket readln aborted" on cancel/time-out (clearing Canceled), ESockError
    // "Line too long: no line end within 65536 bytes" for a longer line, ESockError on a
    // socket error, also when the close was a reset (then as a receive would have).
    void ReadLn(std::string& line);
    std::string ReadLn() { std::string line; ReadLn(line); return line; }
    // Writeln(command), ReadLn into LastReply and reply; reports (1) the reply line; ReplyCode
    // := its leading digits (0 when there are none or they do not fit 16 bits).
    virtual void Transaction(const std::string& command, std::string& reply);
    // Sends a whole file in chunks of up to 65536 bytes, counting BytesSent and firing
    // OnPacketSent per successful send. While the socket is full it waits for room, dispatching
    // messages; a stall longer than TimeOut ends it as a cancel. Raises the file stream's exception when it cannot be
    // opened, EAbortError "Socket send aborted" on cancel, ESockError on a socket error.
    void SendFile(const std::string& fileName);
    // Receives into a created (emptied) file until the peer closes; BytesRecvd := 0, then per
    // chunk: write, BytesRecvd += n, OnPacketRecvd. Raises the file stream's exception when it
    // cannot be created, EWriteError "Cannot write file <name>: <reason>" when the file takes
    // fewer bytes than given (a full disk, the file-size limit),
    // EAbortError "Socket send aborted" on cancel/time-out, ESockError on a socket error, also
    // when the peer's close was a reset (CloseErrorNo): a reset is never the end of the data.
    // The file keeps what was written.
    // With a framing, each receive takes at most what it wants, only the bytes it keeps are
    // stored and counted (OnPacketRecvd fires for a receive that kept some), and the capture
    // ends as soon as it wants nothing more, without waiting for the peer's close.
    void CaptureFile(const std::string& fileName, TCaptureFraming* framing = nullptr);
    // As CaptureFile into `text` (emptied first); stops before a recv once the length reached
    // maxLength (-1 = no limit; chunks are appended whole). EAbortError "Socket capture aborted".
    void CaptureString(std::string& text, int maxLength, TCaptureFraming* framing = nullptr);
    // Reports (8) "Data Available"; true when at least one byte is pending, unread (in the
    // receive buffer or in the transport).
    bool DataAvailable();
    // Puts `transport` in place of the plain one over the connected socket (an HTTPS
    // connection, right after Connect) and runs its CompleteConnect to the end, waiting as the
    // transport wants, dispatching messages, within TimeOut. Raises ESockError "Connection
    // Timed out" / "Connection Canceled" (Canceled cleared), or the numbered error of a failed
    // set-up after OnSocketError. The transport stays until the socket is closed.
    void UseTransport(std::unique_ptr<TTransport> transport);
    TTransport& Transport() { return *transport_; }
    // On a listening SocketHandle: waits (2 ms turns) for the accept notification, accepts, and
    // registers the new socket with NotifyWindow; RemoteAddress := the peer. Returns the new
    // socket (SocketHandle is unchanged). Raises ESockError "Accepting Canceled" (Canceled
    // stays set) / "Error creating Data Connection", EAbortError "Socket send aborted".
    virtual int Accept();

protected:
    // The transfer buffer of every send (received bytes go to the receive buffer).
    std::unique_ptr<char[]> IOBuffer;

    // One turn of the lookup/connect/accept waits: sleep 2 ms, then dispatch.
    static void WaitTurn();
    // After a recv in a receive loop: dispatch; when nothing was pending, first wait (bounded)
    // for the socket or any message so a silent peer costs no processor time.
    void ReceiveTurn(bool nothingPending);
    // At the end of the stream: raises ESockError with the error the peer's close carried.
    void RaiseCloseError();
    // OnSocketError (when assigned) with the number and text, then ESockError with the text.
    [[noreturn]] void RaiseSocketError(uint16_t errorNo, const std::string& text);
    // The receive loop of both captures: hands every chunk to `store`, counts it and fires
    // OnPacketRecvd, until the peer closes, the socket is found not connected, `full()` says
    // enough, the framing wants no more, or Canceled is set. The caller arms the timer and
    // reports the abort.
    void CaptureChunks(const std::function<bool()>& full, const std::function<void(const char*, int)>& store,
                       TCaptureFraming* framing);

private:
    void RegisterSocket(int fd);
    // After SocketHandle changed: a plain transport over it and an empty receive buffer.
    void PlainTransportOn();
    // CheckSocketError for the error number `err` of the socket or the transport.
    void CheckError(uint16_t expectedError, int err);
    // Fills the receive buffer once: 1 when bytes came, 0 at the end of the stream (the caller
    // raises a reset's error, see RaiseCloseError), -1 after a would-block it waited on
    // (bounded); other errors raise.
    int FillReceived();
    // Hands out `n` bytes of the receive buffer; posts the deferred close when it runs empty.
    void Consume(int n);
    // Puts a fresh socket of `family` in place of the current one (closed silently: it never
    // connected). False, the current one kept, when none can be made.
    bool ReplaceSocket(uint16_t family);
    void SetRemoteHost(const platform::SocketAddress& address);
    // After the transport would block: waits (bounded) for the socket in the direction the
    // transport wants, or a message.
    void TransportWait();

    std::unique_ptr<TTransport> transport_;
    TReceiveBuffer received_;  // what the transport delivered and nobody has read yet
    // The peer's close arrived while received_ held bytes: handle it when they are read.
    bool closeDeferred_ = false;
    uintptr_t connection_ = 0;  // counts the sockets, so a deferred close finds its own
    // A number of the engine's range (from 1125) that the socket service never sends.
    static constexpr unsigned kDeferredCloseMessage = 0x7FFF;

    uint64_t lookupHandle_ = 0;
    uint16_t socketFamily_ = platform::kAfInet;  // of SocketHandle
    bool lingerZero_ = false;                    // SocketHandle resets on close (the first one)
    static int startupCount_;
};

}  // namespace qvl
