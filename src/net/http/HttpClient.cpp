#include "net/http/HttpClient.h"

#include <algorithm>
#include <limits>

#include "framework/Application.h"
#include "framework/FileStream.h"
#include "framework/MemoryStream.h"
#include "net/http/UUProcessor.h"
#include "net/http/UrlEncoder.h"

namespace qvl {

namespace {

// Values taken from reply header lines are cut to this many bytes.
constexpr size_t kMaxHeaderValue = 256;
// The request path is cut to this many bytes.
constexpr size_t kMaxRequestPath = 256;

// The n-th field (from 1) of `text` cut at every `sep`; a missing field is empty.
std::string Field(const std::string& text, char sep, int n) {
    size_t start = 0;
    for (int i = 1; i < n; ++i) {
        const size_t at = text.find(sep, start);
        if (at == std::string::npos) return std::string();
        start = at + 1;
    }
    const size_t end = text.find(sep, start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// Position of the n-th occurrence (from 1) of `c`, or npos.
size_t NthPosition(const std::string& text, char c, int n) {
    size_t at = std::string::npos;
    for (int i = 0; i < n; ++i) {
        at = text.find(c, at == std::string::npos ? 0 : at + 1);
        if (at == std::string::npos) return at;
    }
    return at;
}

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string Upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// The line without its LF and a CR before it.
std::string WithoutLineEnd(const std::string& line) {
    size_t end = line.size();
    if (end > 0 && line[end - 1] == '\n') --end;
    if (end > 0 && line[end - 1] == '\r') --end;
    return line.substr(0, end);
}

// A reply value for a message: at most 80 bytes, with control bytes written as \xNN. The
// message reaches the log, the error box and a terminal: what a server sends must not end it at
// a NUL, break its line, or pass escape sequences on.
std::string Quoted(const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    std::string shown;
    for (const char c : text.substr(0, 80)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            shown += "\\x";
            shown += kHex[byte >> 4];
            shown += kHex[byte & 15];
        } else {
            shown += c;
        }
    }
    return "'" + shown + (text.size() > 80 ? "..." : "") + "'";
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "HTTP/" version SP three-digit-code [SP reason]: the code, or -1 when the line is not a
// status line. The reason phrase may be missing ("HTTP/1.0 404").
int StatusCode(const std::string& lineWithEnd) {
    const std::string line = WithoutLineEnd(lineWithEnd);
    if (line.compare(0, 5, "HTTP/") != 0) return -1;
    size_t i = 5;
    const size_t versionStart = i;
    while (i < line.size() && (IsDigit(line[i]) || line[i] == '.')) ++i;
    if (i == versionStart || !IsDigit(line[versionStart])) return -1;
    if (i >= line.size() || line[i] != ' ') return -1;
    ++i;
    if (i + 3 > line.size() || !IsDigit(line[i]) || !IsDigit(line[i + 1]) || !IsDigit(line[i + 2]))
        return -1;
    if (i + 3 < line.size() && line[i + 3] != ' ') return -1;
    const int code = (line[i] - '0') * 100 + (line[i + 1] - '0') * 10 + (line[i + 2] - '0');
    // Status codes start at 100 (RFC 9110); "000" or "099" would otherwise count as success.
    return code >= 100 ? code : -1;
}

// The value of a Content-Length line: decimal digits between optional blanks, at most the
// largest 64-bit count. Anything else (a sign, garbage, a number too big) is a bad reply: taking
// a prefix or a wrapped value would make the progress and the length check lie.
int64_t ContentLength(const std::string& value) {
    size_t b = 0, e = value.size();
    while (b < e && (value[b] == ' ' || value[b] == '\t')) ++b;
    while (e > b && (value[e - 1] == ' ' || value[e - 1] == '\t')) --e;
    const std::string digits = value.substr(b, e - b);
    bool ok = !digits.empty();
    int64_t n = 0;
    for (const char c : digits) {
        if (!IsDigit(c) || n > (std::numeric_limits<int64_t>::max() - (c - '0')) / 10) {
            ok = false;
            break;
        }
        n = n * 10 + (c - '0');
    }
    if (!ok) throw ESockError("Invalid Content-Length in reply: " + Quoted(value));
    return n;
}

}  // namespace

THttpClient::THttpClient(TComponent* owner)
    : TSocketEngine(owner),
      HeaderInfo(std::make_unique<THeaderInfo>()),
      RequestHeaders(std::make_unique<TExStringList>()) {}

THttpClient::~THttpClient() = default;

std::string THttpClient::MethodWord(CmdType cmd) {
    switch (cmd) {
        case CmdGet: return "GET ";
        case CmdOptions: return "OPTIONS ";
        case CmdHead: return "HEAD ";
        case CmdPost: return "POST ";
        case CmdPut: return "PUT ";
        case CmdPatch: return "PATCH ";
        case CmdCopy: return "COPY ";
        case CmdMove: return "MOVE ";
        case CmdDelete: return "DELETE ";
        case CmdLink: return "LINK ";
        case CmdUnlink: return "UNLINK ";
        case CmdTrace: return "TRACE ";
        // A request line needs a method; a request that carries data without naming one is
        // sent the way form data is.
        case CmdNoMethod: return "POST ";
    }
    return "GET ";
}

// ---- Commands ----------------------------------------------------------------------------------

void THttpClient::StartCommand(CmdType cmd, const std::string& URL) {
    RequestURL = URL;
    CurrentCmd = cmd;
    RunCommand();
}

void THttpClient::Options(const std::string& URL) { StartCommand(CmdOptions, URL); }

void THttpClient::Get(const std::string& URL) { StartCommand(CmdGet, URL); }

void THttpClient::Post(const std::string& URL, const std::string& Data) {
    if (!OutputFileMode) {
        TUrlEncoder encoder(this);
        encoder.InputString = Data;
        SendData = encoder.EncodeInput();
    } else {
        SendData = Data;
    }
    StartCommand(CmdPost, URL);
}

void THttpClient::Put(const std::string& URL, const std::string& Data) {
    SendData = Data;
    StartCommand(CmdPut, URL);
}

void THttpClient::Head(const std::string& URL) { StartCommand(CmdHead, URL); }

void THttpClient::Patch(const std::string& URL, const std::string& Data) {
    SendData = Data;
    StartCommand(CmdPatch, URL);
}

void THttpClient::Delete(const std::string& URL) { StartCommand(CmdDelete, URL); }

void THttpClient::Trace(const std::string& URL, const std::string& Data) {
    SendData = Data;
    StartCommand(CmdTrace, URL);
}

void THttpClient::Copy(const std::string& URL, const std::string& TargetURI_) {
    TargetURI = TargetURI_;
    StartCommand(CmdCopy, URL);
}

void THttpClient::Move(const std::string& URL, const std::string& TargetURI_) {
    TargetURI = TargetURI_;
    StartCommand(CmdMove, URL);
}

void THttpClient::Link(const std::string& URL, const std::string& LinkValue) {
    TargetURI = LinkValue;
    SendData = "Send.dat";
    StartCommand(CmdLink, URL);
}

void THttpClient::Unlink(const std::string& URL, const std::string& LinkValue) {
    TargetURI = LinkValue;
    SendData = "Send.dat";
    StartCommand(CmdUnlink, URL);
}

void THttpClient::SendWithoutMethod(const std::string& URL, const std::string& Data) {
    SendData = Data;
    StartCommand(CmdNoMethod, URL);
}

void THttpClient::Abort() {
    // A lookup or accept wait looks at WaitDone, not at Canceled, so both are set.
    WaitDone = true;
    Cancel();
}

// ---- The command cycle -------------------------------------------------------------------------

void THttpClient::RunCommand() {
    for (int pass = 1;; ++pass) {
        ParseURL();
        BuildHeader();
        if (OnAboutToSend) OnAboutToSend(this);
        try {
            Connect();
            SendRequest();
            ReplyCode = 0;
            ReadResponseHeader();
            CaptureBody();
            if (ReplyCode < 300) {
                if (OnSuccess) OnSuccess(CurrentCmd);
                StatusMessage(2, "Transaction Completed");
            } else if (ReplyCode >= 400) {
                if (OnFailure) OnFailure(CurrentCmd);
            } else if (ReplyCode <= 302) {
                RequestURL = LocationValue;
            }
        } catch (...) {
            // The connection is closed whatever happened; the first failure is the one reported.
            Application::Swallowed([this] { Disconnect(); });
            throw;
        }
        Disconnect();

        const bool redirected = ReplyCode >= 300 && ReplyCode <= 399;
        if (redirected) {
            bool Handled = false;
            if (!SetCookieValue.empty()) HeaderInfo->Cookie = SetCookieValue;
            if (OnRedirect) OnRedirect(Handled);
            if (Handled) return;
            if (RequestURL.find('/') == std::string::npos)
                RequestURL = "http://" + Host + "/" + RequestURL;
        }
        if (ReplyCode == 401 && OnAuthenticationNeeded) OnAuthenticationNeeded(this);
        if (!(ReplyCode >= 300 && ReplyCode <= 399)) return;
        // A server that keeps redirecting (to itself, or with a status that keeps the URL)
        // would hold the command forever.
        if (pass >= kMaxPasses)
            throw Exception("Too many redirects: still redirected after " +
                            std::to_string(kMaxPasses) + " passes");
    }
}

void THttpClient::ParseURL() {
    if (RequestURL.empty()) throw Exception("Empty URL");
    if (Port == 0) Port = 80;

    const bool hasDoubleSlash = RequestURL.find("//") != std::string::npos;
    if (hasDoubleSlash) {
        const size_t third = NthPosition(RequestURL, '/', 3);
        RequestPath = third == std::string::npos ? std::string()
                                                 : RequestURL.substr(third, kMaxRequestPath);
    } else {
        const size_t first = RequestURL.find('/');
        RequestPath = first == std::string::npos ? std::string()
                                                 : RequestURL.substr(first, kMaxRequestPath);
    }

    const size_t colon = RequestURL.find(':');
    if (colon != std::string::npos) {
        const std::string scheme = Lower(RequestURL.substr(0, colon));
        if (scheme == "gopher") Port = 70;
        else if (scheme == "ftp") Port = 21;
        else if (scheme == "https") throw Exception("HTTP Secure Socket is not supported");
        else Port = 80;
    }

    std::string hostPart;
    if (hasDoubleSlash) hostPart = Field(RequestURL, '/', 3);
    else if (RequestURL[0] == '/') hostPart.clear();
    else hostPart = Field(RequestURL, '/', 1);

    if (hostPart.find(':') != std::string::npos) {
        Port = StrToInt(Field(hostPart, ':', 2));
        hostPart = Field(hostPart, ':', 1);
    }
    if (!hostPart.empty()) Host = hostPart;

    if (RequestPath.empty()) {
        RequestPath = "/";
        RequestURL += "/";
    }
}

bool THttpClient::HasBody() const {
    switch (CurrentCmd) {
        case CmdPost:
        case CmdPut:
        case CmdPatch:
        case CmdTrace:
        case CmdNoMethod: return true;
        // Link and Unlink name "Send.dat" as their data but have no body to send, so they
        // announce none.
        default: return false;
    }
}

int64_t THttpClient::BodyLength() const {
    if (!OutputFileMode) return static_cast<int64_t>(SendData.size());
    TFileStream file(SendData, TFileStream::Mode::OpenRead);
    return file.Size();
}

std::string THttpClient::CredentialsToken() const {
    TMemoryStream source(HeaderInfo->UserId + ":" + HeaderInfo->Password);
    TMemoryStream target;
    {
        TUUProcessor encoder(const_cast<THttpClient*>(this));
        encoder.SourceStream = &source;
        encoder.TargetStream = &target;
        encoder.Method = UUMethods::uuMime;
        encoder.EncodeStream();
    }
    // The encoder breaks its output every 45 input bytes; a header value is one line.
    std::string token;
    for (const char c : target.Data())
        if (c != '\r' && c != '\n') token += c;
    return token;
}

void THttpClient::BuildHeader() {
    TExStringList& h = *RequestHeaders;
    h.Clear();
    h.Add(MethodWord(CurrentCmd) + (Proxy.empty() ? RequestPath : RequestURL) + " HTTP/1.0");
    if (!Proxy.empty()) {
        h.Add("Proxy-Connection: Keep-Alive");
        h.Add("Host: " + Host);
    }
    h.SetHeader("Host", Host);
    h.Add("Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff");
    h.Add("Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript");
    if (!HeaderInfo->LocalMailAddress.empty()) h.SetHeader("User-Agent", HeaderInfo->LocalMailAddress);
    if (!HeaderInfo->LocalProgram.empty()) h.SetHeader("From", HeaderInfo->LocalProgram);
    if (!HeaderInfo->Cookie.empty()) h.SetHeader("Cookie", HeaderInfo->Cookie);
    if (!HeaderInfo->Referer.empty()) h.SetHeader("Referer", HeaderInfo->Referer);
    if (!HeaderInfo->UserId.empty() && !HeaderInfo->Password.empty())
        h.SetHeader("Authorization", "Basic " + CredentialsToken());
    h.Add("Content-type: application/x-www-form-urlencoded");
    if (CurrentCmd == CmdCopy || CurrentCmd == CmdMove) h.Add("URI-header: " + TargetURI);
    if (CurrentCmd == CmdLink || CurrentCmd == CmdUnlink) h.Add("Link: " + TargetURI);
    if (HasBody()) h.Add("Content-Length: " + std::to_string(BodyLength()));

    // A line break inside a value (from the URL, HeaderInfo, or a cookie or location a server
    // sent) would end its line early and let the rest pass as header lines or as a request of
    // its own; a NUL byte would cut the request short, since Write stops at it.
    for (int i = 0; i < h.Count(); ++i) {
        const std::string& line = h.Get(i);
        if (line.find_first_of(std::string("\r\n\0", 3)) == std::string::npos) continue;
        const std::string what = i == 0 ? std::string("Request line") : "Request header '" + Field(line, ':', 1) + "'";
        throw Exception(what + " holds a line break or NUL byte");
    }
}

void THttpClient::SendBodyText() {
    // Write stops at a NUL byte and takes at most kMaxWriteLength bytes, while Content-Length
    // counts the whole text; so a text Write cannot carry whole is sent in explicit pieces.
    if (SendData.empty()) return;
    if (SendData.size() <= static_cast<size_t>(kMaxWriteLength) &&
        SendData.find('\0') == std::string::npos) {
        Write(SendData);
        return;
    }
    size_t sent = 0;
    while (sent < SendData.size()) {
        const size_t n = std::min<size_t>(SendData.size() - sent, kMaxWriteLength);
        SendBuffer(SendData.data() + sent, static_cast<uint16_t>(n));
        sent += n;
    }
}

void THttpClient::SendRequest() {
    Write(RequestHeaders->Text());
    Writeln("");
    if (!HasBody()) return;
    if (OutputFileMode) SendFile(SendData);
    else SendBodyText();
}

// ---- The reply ---------------------------------------------------------------------------------

void THttpClient::ReadResponseHeader() {
    BytesTotal = 0;
    ContentLengthSeen = false;
    SetCookieValue.clear();
    LocationValue.clear();

    std::unique_ptr<TFileStream> headerFile;
    if (OutputFileMode) headerFile = std::make_unique<TFileStream>(Header, TFileStream::Mode::Create);
    else Header.clear();
    auto keep = [&](const std::string& line) {
        if (headerFile) headerFile->WriteBuffer(line.data(), static_cast<int64_t>(line.size()));
        else Header += line;
    };

    std::string line;
    ReadLn(line);
    LastReply = line;
    // A peer that closes without a word, or answers with something that is not HTTP, has not
    // delivered what was asked for; treating that as status 0 would report success.
    if (line.empty()) throw ESockError("Connection closed without a reply");
    const int code = StatusCode(line);
    if (code < 0) throw ESockError("Invalid reply status line: " + Quoted(WithoutLineEnd(line)));
    ReplyCode = static_cast<int16_t>(code);
    keep(line);

    for (;;) {
        ReadLn(line);
        // ReadLn gives an empty text (unlike a blank line, which keeps its line end) when the
        // peer closed: a header cut off there is an incomplete reply, not the end of the header.
        if (line.empty()) throw ESockError("Connection closed in the reply header");
        const std::string name = Field(Upper(line), ' ', 1);
        if (name == "SET-COOKIE:") SetCookieValue = WithoutLineEnd(line.substr(12)).substr(0, kMaxHeaderValue);
        if (name == "LOCATION:") LocationValue = WithoutLineEnd(line.substr(10)).substr(0, kMaxHeaderValue);
        if (name == "CONTENT-LENGTH:") {
            BytesTotal = ContentLength(WithoutLineEnd(line.substr(16)));
            ContentLengthSeen = true;
        }
        keep(line);
        if (line == "\n" || line == "\r\n") break;
    }
    if (headerFile) headerFile->Close();
}

void THttpClient::CaptureBody() {
    if (InputFileMode) CaptureFile(Body);
    else CaptureString(Body, -1);

    // These replies never carry a body, whatever their Content-Length says.
    const bool noBody = CurrentCmd == CmdHead || (ReplyCode >= 100 && ReplyCode <= 199) ||
                        ReplyCode == 204 || ReplyCode == 304;
    if (ContentLengthSeen && !noBody && BytesRecvd < BytesTotal)
        throw ESockError("Reply body too short: " + std::to_string(BytesRecvd) + " of " +
                         std::to_string(BytesTotal) + " bytes received");
}

}  // namespace qvl
