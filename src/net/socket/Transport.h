#pragma once
// TTransport: what carries the engine's bytes over its connected socket. The plain transport
// hands them to the socket as they are; a TLS one runs a buffer-based session over the same
// socket (ciphertext in and out through the socket, plaintext to and from the engine).
//
// The contract:
// - The socket is the engine's: it creates, registers, replaces and closes it. A transport only
//   reads from and writes to it, and never outlives the engine's use of it: the engine drops
//   the transport before it closes the socket.
// - Every call returns at once; none waits, none dispatches messages, none raises.
// - CompleteConnect, Send and Receive return -1 on failure, with the Windows Sockets error
//   number in LastError(). 10035 (would block) means: wait until the socket is ready in the
//   direction Wants() names, then call again with the same request; any other number is the
//   failure (10057 when the socket is not connected, 10054 on a reset the transport saw itself).
// - The end of the stream is Receive returning 0; it keeps returning 0 after it. A reset the
//   platform took with the close notification (the engine's CloseErrorNo) may also come out as
//   0: the engine raises it when it meets the end.
// - Shutdown tells the peer, best effort, that no more data comes (a TLS close alert); it is
//   called on a connection the engine is closing, and may do nothing (the plain transport).
namespace qvl {

class TTransport {
public:
    enum class Want { Read, Write };

    virtual ~TTransport() = default;

    // Moves the connection's set-up on (a TLS handshake) after the socket connected: 1 when it
    // is complete, -1 (10035: call again when Wants() is ready) otherwise. Plain: 1 at once.
    virtual int CompleteConnect() = 0;
    // Sends up to `length` (> 0) bytes: how many were taken (> 0), or -1.
    virtual int Send(const char* data, int length) = 0;
    // Receives up to `length` (> 0) bytes: how many (> 0), 0 at the end of the stream, or -1.
    virtual int Receive(char* into, int length) = 0;
    // More than 0 when bytes wait to be received (for a TLS session: plaintext it holds, or
    // ciphertext in the socket); 0 when none do, also at the end of the stream. Takes nothing.
    virtual int Pending() = 0;
    virtual void Shutdown() = 0;
    // The direction the transport waits for after a 10035.
    virtual Want Wants() const = 0;
    // The error number of the last call that returned -1.
    virtual int LastError() const = 0;
};

}  // namespace qvl
