#include "net/http/HttpClient.h"

#include <algorithm>
#include <limits>

#include "framework/Application.h"
#include "framework/FileStream.h"
#include "framework/MemoryStream.h"
#include "framework/Text.h"
#include "net/http/BodyFraming.h"
#include "net/http/UUProcessor.h"
#include "net/http/Url.h"
#include "net/http/UrlEncoder.h"

namespace qvl {

namespace {

// The whole reply header (interim replies included) may take this many bytes; each line is
// bounded by the engine's line limit already.
constexpr int64_t kMaxReplyHeader = 1048576;

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
// largest 64-bit count; -1 for anything else (a sign, garbage, a number too big): taking a
// prefix or a wrapped value would make the progress and the length check lie.
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
    return ok ? n : -1;
}

bool HasLineBreakOrNul(const std::string& text) {
    return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

// Transfer-Encoding: the body is chunked when chunked is the last coding applied (RFC 9112
// section 6.3); any other coding runs to the close.
bool EndsChunked(const std::string& value) {
    const size_t comma = value.rfind(',');
    return AsciiLower(Trimmed(comma == std::string::npos ? value : value.substr(comma + 1))) == "chunked";
}

}  // namespace

THttpClient::THttpClient(TComponent* owner)
    : TSocketEngine(owner),
      HeaderInfo(std::make_unique<THeaderInfo>()),
      RequestHeaders(std::make_unique<TExStringList>()) {}

THttpClient::~THttpClient() = default;

std::string THttpClient::MethodWord(CmdType cmd) { return MethodOf(cmd).word; }

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
    const unsigned command = ++commandsStarted_;
    for (int pass = 1;; ++pass) {
        if (pass == 1) asGet_ = false;
        ParseURL();
        // Credentials were given for the place the command was sent to, not for wherever a
        // redirect leads.
        if (pass == 1) {
            authHost_ = AsciiLower(Host);
            authPort_ = Port;
        }
        BuildHeader();
        if (OnAboutToSend) OnAboutToSend(this);
        bool follow = false;
        std::string target;
        try {
            Connect();
            SendRequest();
            ReplyCode = 0;
            SizeRefusal.clear();
            ReadResponseHeader();
            follow = RedirectTarget(target);
            CaptureBody();
            if (ReplyCode < 300 && SizeRefusal.empty()) {
                if (OnSuccess) OnSuccess(CurrentCmd);
                StatusMessage(2, "Transaction Completed");
            } else if (follow) {
                RequestURL = target;
            } else {
                // A failure status, and a redirection that names nowhere to go (or a 304 to a
                // request that asked for no condition): never fetch something else instead.
                if (OnFailure) OnFailure(CurrentCmd);
            }
        } catch (...) {
            // The connection is closed whatever happened; the first failure is the one reported.
            Application::Swallowed([this] { Disconnect(); });
            throw;
        }
        Disconnect();

        bool nested = false;
        if (follow) {
            bool Handled = false;
            CarryCookie();
            const int16_t passCode = ReplyCode;
            const CommandState own = SavedCommandState();
            if (OnRedirect) OnRedirect(Handled);
            if (Handled) return;
            if (commandsStarted_ != command) {
                // OnRedirect issued a command of its own, which has run to its end: its reply
                // decides whether this command goes on, and if it does, this command goes on
                // as itself, to where its own redirection leads.
                nested = true;
                RestoreCommandState(own);
                if (!FollowedStatus(ReplyCode)) return;
                RequestURL = target;
            }
            // RFC 9110 section 15.4.4: 303 is answered with a GET (a HEAD stays a HEAD).
            if (passCode == 303 && CurrentCmd != CmdHead) asGet_ = true;
        }
        // A nested command that ended with 401 has had its own OnAuthenticationNeeded.
        if (!nested && ReplyCode == 401 && OnAuthenticationNeeded) OnAuthenticationNeeded(this);
        if (!follow) return;
        // A server that keeps redirecting (to itself, or round a circle) would hold the
        // command forever.
        if (pass >= kMaxPasses)
            throw Exception("Too many redirects: still redirected after " +
                            std::to_string(kMaxPasses) + " passes");
    }
}

bool THttpClient::FollowedStatus(int status) {
    switch (status) {
        case 300: case 301: case 302: case 303: case 307: case 308: return true;
        default: return false;
    }
}

THttpClient::CommandState THttpClient::SavedCommandState() const {
    return CommandState{CurrentCmd, SendData, TargetURI, authHost_, authPort_, asGet_};
}

void THttpClient::RestoreCommandState(const CommandState& state) {
    CurrentCmd = state.cmd;
    SendData = state.sendData;
    TargetURI = state.targetUri;
    authHost_ = state.authHost;
    authPort_ = state.authPort;
    asGet_ = state.asGet;
}

bool THttpClient::RedirectTarget(std::string& target) const {
    if (!FollowedStatus(ReplyCode)) return false;
    // A Location with a line break or NUL is no place to go, and would break every later
    // request it reached.
    if (Trimmed(LocationValue).empty() || HasLineBreakOrNul(LocationValue)) return false;
    target = ResolveReference("http://" + AuthorityOf(Host, Port) + RequestPath, Trimmed(LocationValue));
    return true;
}

void THttpClient::CarryCookie() {
    // A cookie with a line break or NUL would inject header lines into the next request; the
    // next pass runs without it.
    if (SetCookieValue.empty() || HasLineBreakOrNul(SetCookieValue)) return;
    HeaderInfo->Cookie = SetCookieValue;
    carriedCookie_ = SetCookieValue;
    cookieHost_ = AsciiLower(Host);
}

CmdType THttpClient::PassCmd() const { return asGet_ ? CmdGet : CurrentCmd; }

void THttpClient::ParseURL() {
    if (RequestURL.empty()) throw Exception("Empty URL");
    // A refused URL leaves Host and Port as they were.
    const TUrlParts parts = SplitUrl(RequestURL);
    if (Port == 0) Port = 80;
    // A URL that names no port ("host/a", "/a") keeps the one in use.
    if (parts.port != 0) Port = parts.port;
    if (parts.hasHost) Host = parts.host;
    RequestPath = EncodeTarget(parts.target);
    if (parts.target.empty() || parts.target[0] != '/') RequestURL.insert(parts.authorityEnd, "/");
}

bool THttpClient::HasBody() const { return MethodOf(PassCmd()).hasBody; }

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
    const CmdType cmd = PassCmd();
    // Host carries the port when it is not 80 and brackets for an IPv6 literal (RFC 9112
    // section 3.2); a proxy is always asked for the absolute URL.
    const std::string authority = AuthorityOf(Host, Port);
    const std::string target = Proxy.empty() || Host.empty() ? RequestPath : "http://" + authority + RequestPath;
    h.Add(MethodWord(cmd) + target + " HTTP/1.0");
    if (!Proxy.empty()) {
        h.Add("Proxy-Connection: Keep-Alive");
        h.Add("Host: " + authority);
    }
    h.SetHeader("Host", Host.empty() ? std::string() : authority);
    h.Add("Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff");
    h.Add("Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript");
    if (!HeaderInfo->LocalMailAddress.empty()) h.SetHeader("User-Agent", HeaderInfo->LocalMailAddress);
    if (!HeaderInfo->LocalProgram.empty()) h.SetHeader("From", HeaderInfo->LocalProgram);
    // A cookie a redirect carried goes back only to the host that set it.
    const bool carried = !carriedCookie_.empty() && HeaderInfo->Cookie == carriedCookie_;
    if (!HeaderInfo->Cookie.empty() && (!carried || AsciiLower(Host) == cookieHost_))
        h.SetHeader("Cookie", HeaderInfo->Cookie);
    if (!HeaderInfo->Referer.empty()) h.SetHeader("Referer", HeaderInfo->Referer);
    const bool atOrigin = authHost_.empty() || (AsciiLower(Host) == authHost_ && Port == authPort_);
    if (!HeaderInfo->UserId.empty() && !HeaderInfo->Password.empty() && atOrigin)
        h.SetHeader("Authorization", "Basic " + CredentialsToken());
    h.Add("Content-type: application/x-www-form-urlencoded");
    if (cmd == CmdCopy || cmd == CmdMove) h.Add("URI-header: " + TargetURI);
    if (cmd == CmdLink || cmd == CmdUnlink) h.Add("Link: " + TargetURI);
    if (HasBody()) h.Add("Content-Length: " + std::to_string(BodyLength()));

    // A line break inside a value (from HeaderInfo or TargetURI) would end its line early and
    // let the rest pass as header lines or as a request of its own; a NUL byte would cut the
    // request short, since Write stops at it.
    for (int i = 0; i < h.Count(); ++i) {
        const std::string& line = h.Get(i);
        if (!HasLineBreakOrNul(line)) continue;
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
    chunked_ = false;
    std::string badLength;
    bool lengthBad = false, encoded = false;

    std::unique_ptr<TFileStream> headerFile;
    if (OutputFileMode) headerFile = std::make_unique<TFileStream>(Header, TFileStream::Mode::Create);
    else Header.clear();
    auto keep = [&](const std::string& line) {
        if (headerFile) headerFile->WriteBuffer(line.data(), static_cast<int64_t>(line.size()));
        else Header += line;
    };
    int64_t headerBytes = 0;
    auto readLine = [&](std::string& line) {
        ReadLn(line);
        headerBytes += static_cast<int64_t>(line.size());
        if (headerBytes > kMaxReplyHeader)
            throw ESockError("Reply header too long: more than " + std::to_string(kMaxReplyHeader) + " bytes");
    };

    std::string line;
    for (;;) {
        readLine(line);
        LastReply = line;
        // A peer that closes without a word, or answers with something that is not HTTP, has
        // not delivered what was asked for; treating that as status 0 would report success.
        if (line.empty()) throw ESockError("Connection closed without a reply");
        const int code = StatusCode(line);
        if (code < 0) throw ESockError("Invalid reply status line: " + Quoted(WithoutLineEnd(line)));
        ReplyCode = static_cast<int16_t>(code);
        if (code >= 200) break;
        // An interim reply (100 Continue, 102 Processing, ...) comes before the real one: its
        // header lines are read and dropped.
        for (;;) {
            readLine(line);
            if (line.empty()) throw ESockError("Connection closed in the reply header");
            if (line == "\n" || line == "\r\n") break;
        }
    }
    keep(line);

    for (;;) {
        readLine(line);
        // ReadLn gives an empty text (unlike a blank line, which keeps its line end) when the
        // peer closed: a header cut off there is an incomplete reply, not the end of the header.
        if (line.empty()) throw ESockError("Connection closed in the reply header");
        keep(line);
        if (line == "\n" || line == "\r\n") break;
        // "Name: value", the name in any case and the blanks round the value optional
        // (RFC 9112 section 5).
        const std::string text = WithoutLineEnd(line);
        const size_t colon = text.find(':');
        if (colon == std::string::npos) continue;
        const std::string name = AsciiLower(text.substr(0, colon));
        const std::string value = Trimmed(text.substr(colon + 1));
        if (name == "set-cookie") SetCookieValue = value;
        else if (name == "location") LocationValue = value;
        else if (name == "transfer-encoding") {
            encoded = true;
            chunked_ = EndsChunked(value);
        } else if (name == "content-length") {
            const int64_t length = ContentLength(value);
            if (length < 0) {
                lengthBad = true;
                badLength = value;
            } else {
                BytesTotal = length;
                ContentLengthSeen = true;
            }
        }
    }
    if (headerFile) headerFile->Close();
    // A transfer coding frames the body itself; a Content-Length beside it means nothing
    // (RFC 9112 section 6.3).
    if (encoded) {
        BytesTotal = 0;
        ContentLengthSeen = false;
        lengthBad = false;
    }
    if (lengthBad) {
        ContentLengthSeen = false;
        BytesTotal = 0;
        // A body kept as a success must have a length to check; a failure still reaches
        // OnFailure, its body read to the close.
        if (ReplyCode < 300) throw ESockError("Invalid Content-Length in reply: " + Quoted(badLength));
    }
}

void THttpClient::CaptureBody() {
    // These replies never carry a body, whatever their header says.
    const bool noBody = PassCmd() == CmdHead || ReplyCode == 204 || ReplyCode == 304;
    std::unique_ptr<TCaptureFraming> framing;
    TLengthFraming* length = nullptr;
    TChunkedFraming* chunks = nullptr;
    if (noBody) {
        framing = std::make_unique<TLengthFraming>(0);
    } else if (chunked_) {
        auto f = std::make_unique<TChunkedFraming>();
        chunks = f.get();
        framing = std::move(f);
    } else if (ContentLengthSeen) {
        auto f = std::make_unique<TLengthFraming>(BytesTotal);
        length = f.get();
        framing = std::move(f);
    }
    SizeRefusal.clear();
    const bool sized = ExactBodySize >= 0 && !noBody;
    if (sized && ReplyCode < 300 && ContentLengthSeen && BytesTotal != ExactBodySize) {
        // Refused before a byte of the body: the body file is only emptied.
        SizeRefusal = "the server announced " + std::to_string(BytesTotal) + " bytes";
        length = nullptr;
        framing = std::make_unique<TLengthFraming>(0);
    }
    std::unique_ptr<TBoundedFraming> bound;
    if (sized && SizeRefusal.empty()) bound = std::make_unique<TBoundedFraming>(framing.get(), ExactBodySize);
    TCaptureFraming* const capture = bound ? bound.get() : framing.get();
    if (InputFileMode) CaptureFile(Body, capture);
    else CaptureString(Body, -1, capture);

    // Only a body kept as a success must be whole; a failure or a redirection is reported as
    // what it is.
    if (ReplyCode >= 300 || !SizeRefusal.empty()) return;
    if (chunks && !chunks->Error().empty()) throw ESockError(chunks->Error());
    if (bound && bound->Overran()) {
        SizeRefusal = "the body ran past " + std::to_string(ExactBodySize) + " bytes";
        return;
    }
    if (bound && BytesRecvd < ExactBodySize) {
        SizeRefusal = "the body ended after " + std::to_string(BytesRecvd) + " bytes";
        return;
    }
    if (chunks && !chunks->Complete())
        throw ESockError("Chunked reply body ended before its last chunk");
    if (length && !length->Complete())
        throw ESockError("Reply body too short: " + std::to_string(BytesRecvd) + " of " +
                         std::to_string(BytesTotal) + " bytes received");
}

}  // namespace qvl
