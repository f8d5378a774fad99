// The floor of the Windows download benchmark: the plainest HTTP/1.0 GET over Winsock, one
// blocking socket and recv into a 64 KiB buffer until the server closes, the body written to a
// file. What qvl-get.exe costs above this is its own (messages, notifications, buffering).
//
//   bench_blocking_get.exe -o FILE http://HOST:PORT/PATH    (HOST a dotted IPv4 address)
#include <winsock2.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    if (argc != 4 || std::strcmp(argv[1], "-o") != 0 || std::strncmp(argv[3], "http://", 7) != 0) {
        std::fprintf(stderr, "usage: bench_blocking_get -o FILE http://HOST:PORT/PATH\n");
        return 2;
    }
    const std::string rest = argv[3] + 7;
    const size_t slash = rest.find('/'), colon = rest.find(':');
    const std::string host = rest.substr(0, std::min(colon, slash));
    const int port = colon < slash ? std::atoi(rest.substr(colon + 1, slash - colon - 1).c_str()) : 80;
    const std::string path = slash == std::string::npos ? "/" : rest.substr(slash);
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 1;
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<u_short>(port));
    to.sin_addr.s_addr = inet_addr(host.c_str());
    if (s == INVALID_SOCKET || connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) return 1;
    const std::string request = "GET " + path + " HTTP/1.0\r\nHost: " + rest.substr(0, slash) + "\r\n\r\n";
    if (send(s, request.data(), static_cast<int>(request.size()), 0) != static_cast<int>(request.size())) return 1;
    std::FILE* out = std::fopen(argv[2], "wb");
    if (out == nullptr) return 1;
    static char buffer[65536];
    std::string head;  // the reply header, until its blank line has gone by
    bool inBody = false;
    for (int n; (n = recv(s, buffer, sizeof buffer, 0)) > 0;) {
        const char* body = buffer;
        if (!inBody) {
            head.append(buffer, static_cast<size_t>(n));
            const size_t end = head.find("\r\n\r\n");
            if (end == std::string::npos) continue;
            inBody = true;
            body = buffer + n - (head.size() - end - 4);
        }
        const size_t length = static_cast<size_t>(buffer + n - body);
        if (std::fwrite(body, 1, length, out) != length) return 1;
    }
    closesocket(s);
    WSACleanup();
    return std::fclose(out) == 0 && inBody ? 0 : 1;
}
