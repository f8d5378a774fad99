// The socket service's start-up reference count and the errno table: the same on every
// platform; the system's own start-up is behind detail::StartSystemSockets.
#include "platform/Sockets.h"

#include <cerrno>
#include <mutex>

#include "platform/Detail.h"

namespace qvl::platform {
namespace {

std::mutex serviceMutex;
int serviceUsers = 0;
bool failStartup = false;

constexpr int kWsaSysNotReady = 10091;

struct ErrnoMapping {
    int err;
    int wsa;
};

// errno values and the Windows Sockets numbers with the same meaning. (A C runtime without some
// of the socket errnos simply has fewer rows.)
constexpr ErrnoMapping kErrnoTable[] = {
    {EINTR, 10004},          {EBADF, 10009},          {EACCES, 10013},         {EPERM, 10013},
    {EFAULT, 10014},         {EINVAL, 10022},         {EMFILE, 10024},         {ENFILE, 10024},
    {EWOULDBLOCK, 10035},    {EAGAIN, 10035},         {EINPROGRESS, 10035},    {EALREADY, 10037},
    {ENOTSOCK, 10038},       {EDESTADDRREQ, 10039},   {EMSGSIZE, 10040},       {EPROTOTYPE, 10041},
    {ENOPROTOOPT, 10042},    {EPROTONOSUPPORT, 10043}, {EOPNOTSUPP, 10045},    {EAFNOSUPPORT, 10047},
    {EADDRINUSE, 10048},     {EADDRNOTAVAIL, 10049},  {ENETDOWN, 10050},       {ENETUNREACH, 10051},
    {ENETRESET, 10052},      {ECONNABORTED, 10053},   {ECONNRESET, 10054},     {ENOBUFS, 10055},
    {ENOMEM, 10055},         {EISCONN, 10056},        {ENOTCONN, 10057},       {EPIPE, 10058},
    {ETIMEDOUT, 10060},      {ECONNREFUSED, 10061},   {ELOOP, 10062},          {ENAMETOOLONG, 10063},
    {EHOSTUNREACH, 10065},   {ENOTEMPTY, 10066},
#ifdef ESOCKTNOSUPPORT
    {ESOCKTNOSUPPORT, 10044}, {EPFNOSUPPORT, 10046},  {ESHUTDOWN, 10058},      {ETOOMANYREFS, 10059},
    {EHOSTDOWN, 10064},      {EUSERS, 10068},         {EDQUOT, 10069},         {ESTALE, 10070},
    {EREMOTE, 10071},
#endif
};

// An errno without a counterpart: above every number of the Windows Sockets table, so that its
// text reads "Unknown Error No. ..." with the errno still recognisable in it.
constexpr int kUnknownErrnoBase = 12000;

}  // namespace

int StartupSockets(unsigned versionRequested, SocketServiceInfo* info) {
    std::lock_guard lock(serviceMutex);
    if (failStartup) return kWsaSysNotReady;
    const int rc = detail::StartSystemSockets(versionRequested, info);
    if (rc == 0) ++serviceUsers;
    return rc;
}

void CleanupSockets() {
    std::lock_guard lock(serviceMutex);
    if (serviceUsers == 0) return;
    --serviceUsers;
    detail::StopSystemSockets();
}

int SocketServiceUsers() {
    std::lock_guard lock(serviceMutex);
    return serviceUsers;
}

void FailSocketStartupForTesting(bool fail) {
    std::lock_guard lock(serviceMutex);
    failStartup = fail;
}

int WsaErrorFromErrno(int err) {
    if (err == 0) return 0;
    for (const auto& m : kErrnoTable)
        if (m.err == err) return m.wsa;
    return kUnknownErrnoBase + err;
}

}  // namespace qvl::platform
