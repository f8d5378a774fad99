#pragma once
// THttpClient: the HTTP/1.0 client component, built on the socket engine. Every command is one
// synchronous call that, pass after pass: splits the URL (ParseURL), composes the request
// (BuildHeader), fires OnAboutToSend, connects, sends the request, reads the reply header and
// captures the body (into the file named by Body, or into Body itself), reports the outcome
// (OnSuccess / OnFailure), disconnects, and follows a redirection with another pass.
// While it waits the engine keeps the message queue running, so events arrive inside the call.
//
// Replies are read the way real servers send them (RFC 9112): interim 1xx replies are skipped;
// the body ends at its Content-Length (nothing beyond it is read or kept, and the peer's close
// is not awaited), or at the last chunk of a chunked body (decoded), or else at the close; a
// 204, a 304 and the reply to a HEAD have no body. Redirections (RFC 9110): 300, 301, 302,
// 307, 308 are followed with the same method, 303 with a GET (a HEAD stays a HEAD), to the
// Location resolved against the current URL (RFC 3986); any other 3xx, or one without a usable
// Location, is a failure. Credentials go only to the origin of the command's first URL; a
// cookie a redirect carried goes only to the host that set it.
//
// HTTP outcomes are events; everything else leaves the command as an exception:
//   - Exception "Empty URL", "HTTP Secure Socket is not supported", and for a URL that is not
//     an http URL with a host and a port from 1 to 65535 (see SplitUrl), or a request header
//     line that would hold a CR, LF or NUL byte (from HeaderInfo or TargetURI) (before
//     connecting);
//   - EFOpenError for an upload file that cannot be opened (before connecting);
//   - ESockError from the engine (connection, transfer, aborts and time-outs as EAbortError or
//     the engine's time-out messages), and for a reply that is not HTTP: no status line, a bad
//     status line, a header cut off by the peer's close or over 1 MiB; and, for a success
//     status only, a bad Content-Length, a body shorter than its Content-Length, a malformed
//     or unfinished chunked body;
//   - EFCreateError when the Header or Body file cannot be created;
//   - Exception when a command has been redirected kMaxPasses times and is redirected again.
// From the connect on, the connection is closed before the exception reaches the caller.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "net/http/ExtStrings.h"
#include "net/http/HttpMethod.h"
#include "net/socket/SocketEngine.h"

namespace qvl {

// An outcome event: the code of the command that ran.
using TResultEvent = std::function<void(CmdType Cmd)>;

// Optional values of request header lines.
class THeaderInfo : public TObject {
public:
    std::string LocalMailAddress;  // sent as "User-Agent: "
    std::string LocalProgram;      // sent as "From: "
    std::string Cookie;            // sent as "Cookie: "; set by a redirect that carried Set-Cookie
    std::string Referer;           // sent as "Referer: "
    std::string UserId;            // with Password: "Authorization: Basic " + Base64(id:password)
    std::string Password;
};

class THttpClient : public TSocketEngine {
public:
    // A command makes at most this many passes; a reply that redirects the last one raises.
    static constexpr int kMaxPasses = 20;

    // Header "Head.txt", Body "Default.htm", both modes off, HeaderInfo empty.
    explicit THttpClient(TComponent* owner = nullptr);
    ~THttpClient() override;

    // ---- Properties ---------------------------------------------------------------------------
    // InputFileMode: the name of the file that receives the reply body (created or emptied on
    // every pass, whatever the status); otherwise the body text itself.
    std::string Body = "Default.htm";
    // OutputFileMode: the name of the file that receives the reply header; otherwise the header
    // text itself (status line, header lines and the blank line, as received).
    std::string Header = "Head.txt";
    std::unique_ptr<THeaderInfo> HeaderInfo;
    bool InputFileMode = false;
    // Also makes the data argument of Post, Put, Patch, Trace and SendWithoutMethod the name of
    // the file whose bytes are uploaded.
    bool OutputFileMode = false;

    // ---- Events -----------------------------------------------------------------------------
    // Once per pass, after the request is composed and before connecting.
    TNotifyEvent OnAboutToSend;
    // Status below 300, inside the pass (before it disconnects). Do not start a command here.
    TResultEvent OnSuccess;
    // Status 400 and above, or a redirection that is not followed (see above), inside the pass
    // (before it disconnects). Do not start a command here.
    TResultEvent OnFailure;
    // A redirection about to be followed (RequestURL already holds where to), after
    // disconnecting; Handled = true ends the command there. A command issued from here runs to
    // its end and its ReplyCode decides: the redirected command goes on (with its own method,
    // data and credentials, to its own redirection's target) only when that reply is a
    // redirection this client follows.
    THandlerEvent OnRedirect;
    // Status 401, after OnFailure and after disconnecting. The command then ends; a handler may
    // set HeaderInfo's credentials and issue the command again.
    TNotifyEvent OnAuthenticationNeeded;

    // ---- State of the running (or last) command ---------------------------------------------
    std::string RequestPath;     // percent-encoded path and query of the request line
    std::unique_ptr<TExStringList> RequestHeaders;  // request line and header lines
    std::string LocationValue;   // Location of the last reply
    std::string SetCookieValue;  // last Set-Cookie of the last reply
    std::string SendData;        // data text, or with OutputFileMode the upload file's name
    std::string TargetURI;       // second argument of Copy, Move, Link, Unlink
    std::string RequestURL;      // URL of the running command; the absolute redirect target once followed
    CmdType CurrentCmd = CmdGet;
    // The last reply announced a Content-Length (BytesTotal holds it; BytesTotal is 0 without
    // one). ReadResponseHeader also keeps the reply's status line, with its line end, in the
    // engine's LastReply.
    bool ContentLengthSeen = false;
    // The size a success's body must have (a signed download's), or -1 for any. With one, a
    // success whose Content-Length says otherwise ends before its body (none of it is received);
    // a body that runs past it is ended there (not a byte more kept); one that ends short is
    // short. Each of these reaches OnFailure instead of OnSuccess, with SizeRefusal saying why.
    // A failure's or a redirection's body is cut at this size too. Never reset by a command.
    int64_t ExactBodySize = -1;
    // Why the last reply's body was refused for its size; empty when it was not.
    std::string SizeRefusal;

    // ---- Commands (each returns when its cycle ends) -------------------------------------------
    virtual void Options(const std::string& URL);
    virtual void Get(const std::string& URL);
    // Without OutputFileMode the data is URL-encoded as one value ("=" and "&" too).
    virtual void Post(const std::string& URL, const std::string& Data);
    virtual void Put(const std::string& URL, const std::string& Data);
    virtual void Head(const std::string& URL);
    virtual void Patch(const std::string& URL, const std::string& Data);
    virtual void Delete(const std::string& URL);
    virtual void Trace(const std::string& URL, const std::string& Data);
    // Send "URI-header: " + TargetURI.
    virtual void Copy(const std::string& URL, const std::string& TargetURI);
    virtual void Move(const std::string& URL, const std::string& TargetURI);
    // Send "Link: " + the link value, and no body (so no Content-Length either).
    virtual void Link(const std::string& URL, const std::string& LinkValue);
    virtual void Unlink(const std::string& URL, const std::string& LinkValue);
    // A request with a body like Put but without a method of its own. HTTP needs one, so it is
    // sent as a POST of the data, unencoded.
    virtual void SendWithoutMethod(const std::string& URL, const std::string& Data);

    // Sets WaitDone (ending a lookup or accept wait) and calls Cancel; the running operation
    // then ends with its cancel or abort exception. The time-out calls this too.
    void Abort() override;

    // ---- The steps of a pass (called by RunCommand; public so they can be tested alone) -------
    // Runs passes until a reply is not a redirection or OnRedirect handles one.
    virtual void RunCommand();
    // Splits RequestURL into Host (an IPv6 literal without its brackets), Port and RequestPath
    // (encoded); "/" is inserted into a URL without path. A URL without a port keeps Port when
    // it has no scheme either ("host/a", "/a"); a "/a" URL keeps Host. Raises Exception for a
    // URL it cannot use, leaving Host and Port as they were.
    virtual void ParseURL();
    // Composes the request line and header lines into RequestHeaders. Raises Exception when a
    // line would hold a CR, LF or NUL byte.
    virtual void BuildHeader();
    // Reads the final status line and its header lines into Header (text or file), skipping
    // interim replies, and sets ReplyCode, BytesTotal, LocationValue and SetCookieValue. Raises
    // ESockError when the reply is not HTTP, the peer closes before the blank line that ends
    // the header, the header passes 1 MiB, or a success carries a bad Content-Length.
    virtual void ReadResponseHeader();
    // Sends RequestHeaders, the blank line and, for the commands with a body, the body.
    virtual void SendRequest();

    // The method word that starts the request line of a command ("GET ", ..., "POST " for
    // CmdNoMethod).
    static std::string MethodWord(CmdType cmd);

private:
    void StartCommand(CmdType cmd, const std::string& URL);
    // The command this pass sends: a GET after a 303 (RFC 9110), else CurrentCmd.
    CmdType PassCmd() const;
    // For a redirection the cycle follows (300, 301, 302, 303, 307, 308 with a usable
    // Location): true, and the absolute URL it leads to.
    bool RedirectTarget(std::string& target) const;
    static bool FollowedStatus(int status);
    // What a command issued from OnRedirect replaces and the redirected command still needs.
    struct CommandState {
        CmdType cmd;
        std::string sendData, targetUri, authHost;
        int authPort;
        bool asGet;
    };
    CommandState SavedCommandState() const;
    void RestoreCommandState(const CommandState& state);
    void CarryCookie();
    bool HasBody() const;
    int64_t BodyLength() const;
    std::string CredentialsToken() const;
    void CaptureBody();
    void SendBodyText();

    unsigned commandsStarted_ = 0;  // tells a command issued from OnRedirect apart
    bool asGet_ = false;     // a 303 turned the command into a GET
    bool chunked_ = false;   // the last reply's body is chunked
    std::string authHost_;   // origin of the command's first URL: where credentials may go
    int authPort_ = 0;
    std::string carriedCookie_;  // the cookie a redirect carried, and the host that set it
    std::string cookieHost_;
};

}  // namespace qvl
