#pragma once
// The few BSD socket calls the test helpers make, the same on POSIX and on Windows Sockets, so
// that the scripted server and the plain clients run on both. Descriptors are ints, -1 = none.
#ifdef _WIN32
#include "Win32Headers.h"
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#endif

#include <string>

namespace qvl::test {

// A TCP socket (IPv4 unless `family` says AF_INET6), not inherited by child programs; -1 on
// failure. Starts the socket service first where there is one to start.
int OpenTcpSocket(bool nonBlocking, int family = AF_INET);
// Accepts a pending connection as a non-blocking socket; -1 when there is none (or on error).
int AcceptNonBlocking(int listening);
void CloseSocketFd(int fd);
// Waits at most `ms` for `events` (POLLIN / POLLOUT); the poll result.
int PollOne(int fd, short events, int ms);
// recv/send; send never raises a signal for a peer that has gone.
long RecvBytes(int fd, char* buffer, size_t len);
long SendBytes(int fd, const char* data, size_t len);
void ShutdownWrite(int fd);
int SetIntOption(int fd, int level, int name, int value);
// Linger on with time 0: closing resets the connection.
void SetLingerZero(int fd);
// Whether the last failed call only found nothing to do now (would block, interrupted).
bool LastCallWouldBlock();
// Whether the last failed call was interrupted by a signal (try it again).
bool LastCallInterrupted();
// Text of the last failed socket call.
std::string LastSocketErrorText();

}  // namespace qvl::test
