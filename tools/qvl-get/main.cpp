// qvl-get [options] URL: one command of the system's HTTP client, from the command line.
// Exit status: 0 when the reply counted as success, 22 when it was a failure status (400 and
// above), 1 when the command raised (the message goes to stderr), 2 for a bad command line
// (a URL the client cannot fetch included).
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "framework/Exception.h"
#include "framework/FileStream.h"
#include "net/http/HttpClient.h"
#include "net/http/Url.h"
#include "net/http/UrlEncoder.h"
#include "platform/AppInstance.h"
#include "platform/StandardOutput.h"

namespace {

const char* const kUsage =
    "usage: qvl-get [options] URL\n"
    "  -o FILE               write the reply body to FILE (default: standard output)\n"
    "  -X METHOD             GET (default), HEAD, OPTIONS, DELETE, POST, PUT, PATCH, TRACE,\n"
    "                        COPY, MOVE, LINK, UNLINK, or NONE (a request without a method)\n"
    "  -d DATA               the request data (POST encodes it as one form value); for COPY\n"
    "                        and MOVE the target URI, for LINK and UNLINK the link value\n"
    "  --data-file FILE      upload the bytes of FILE\n"
    "  --proxy HOST:PORT     send the request through an HTTP proxy\n"
    "  --user USER:PASSWORD  Basic authorization\n"
    "  --header-file FILE    write the reply header to FILE\n"
    "  --timeout MS          time-out of each wait, and of the whole body, in milliseconds\n"
    "  --trace               print the events and the reply status lines to standard error\n"
    "  --version             print the version and exit\n";

struct Options {
    std::string url;
    std::string output;
    std::string method = "GET";
    const qvl::THttpMethod* command = &qvl::MethodOf(qvl::CmdGet);
    std::optional<std::string> data;
    std::string dataFile;
    std::string proxy;
    std::string user;
    std::string headerFile;
    int timeout = 0;
    bool trace = false;
};

[[noreturn]] void UsageError(const std::string& what) {
    std::cerr << "qvl-get: " << what << "\n" << kUsage;
    std::exit(2);
}

Options ParseArguments(const std::vector<std::string>& args) {
    Options o;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) UsageError(a + " needs a value");
            return args[++i];
        };
        if (a == "-h" || a == "--help") {
            std::cout << kUsage;
            std::exit(0);
        } else if (a == "--version") {
            std::cout << "qvl-get " << QVL_VERSION << "\n";
            std::exit(0);
        } else if (a == "-o") o.output = value();
        else if (a == "-X") o.method = value();
        else if (a == "-d") o.data = value();
        else if (a == "--data-file") o.dataFile = value();
        else if (a == "--proxy") o.proxy = value();
        else if (a == "--user") o.user = value();
        else if (a == "--header-file") o.headerFile = value();
        else if (a == "--timeout") {
            o.timeout = qvl::StrToInt(value());
            if (o.timeout < 0) UsageError("--timeout must not be negative");
        } else if (a == "--trace") o.trace = true;
        else if (!a.empty() && a[0] == '-') UsageError("unknown option " + a);
        else if (o.url.empty()) o.url = a;
        else UsageError("more than one URL");
    }
    if (o.url.empty()) UsageError("no URL");
    if (o.data && !o.dataFile.empty()) UsageError("-d and --data-file exclude each other");
    for (char& c : o.method) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    o.command = qvl::FindMethod(o.method);
    if (!o.command) UsageError("unknown method " + o.method);
    if (!o.proxy.empty() && o.proxy.rfind(':') == std::string::npos) UsageError("--proxy needs HOST:PORT");
    if (!o.user.empty() && o.user.find(':') == std::string::npos) UsageError("--user needs USER:PASSWORD");
    // Data that no request would carry is a mistake on the command line, not something to drop.
    const bool sendsBody = o.command->hasBody;
    if (o.data && !sendsBody && !o.command->takesValue) UsageError("-d: a " + o.method + " request sends no data");
    if (!o.dataFile.empty() && !sendsBody) UsageError("--data-file: a " + o.method + " request sends no body");
    try {
        qvl::SplitUrl(o.url);
    } catch (const qvl::Exception& e) {
        // The usage is not what is wrong here: the message says what is.
        std::cerr << "qvl-get: " << e.Message() << "\n";
        std::exit(2);
    }
    return o;
}

// A file of our own in the temporary folder, removed when we are done with it.
class TempFile {
public:
    TempFile() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qvl-get-XXXXXX").string();
        const int fd = ::mkstemp(pattern.data());
        if (fd < 0) throw qvl::EFCreateError(pattern);
        ::close(fd);
        path_ = pattern;
    }
    ~TempFile() { std::remove(path_.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

void WriteWholeFile(const std::string& path, const std::string& bytes) {
    qvl::TFileStream f(path, qvl::TFileStream::Mode::Create);
    f.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    f.Close();
}

void CopyFileToStdout(const std::string& path) {
    qvl::platform::UseBinaryStandardOutput();
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (!in) throw qvl::EFOpenError(path);
    std::vector<char> buffer(65536);
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0) {
        if (std::fwrite(buffer.data(), 1, n, stdout) != n) {
            std::fclose(in);
            throw qvl::Exception("Cannot write to standard output");
        }
    }
    std::fclose(in);
    if (std::fflush(stdout) != 0) throw qvl::Exception("Cannot write to standard output");
}

void RunMethod(qvl::THttpClient& client, const Options& o, const std::string& data);

int Run(const Options& o) {
    using namespace qvl;
    THttpClient client;
    client.TimeOut = o.timeout;

    if (!o.proxy.empty()) {
        const size_t colon = o.proxy.rfind(':');
        client.Proxy = o.proxy.substr(0, colon);
        client.ProxyPort = StrToInt(o.proxy.substr(colon + 1));
    }
    if (!o.user.empty()) {
        const size_t colon = o.user.find(':');
        client.HeaderInfo->UserId = o.user.substr(0, colon);
        client.HeaderInfo->Password = colon == std::string::npos ? "" : o.user.substr(colon + 1);
    }

    // The body always goes to a file, so that a big download never sits in memory.
    std::optional<TempFile> bodyTemp;
    client.InputFileMode = true;
    // Standard output takes the body straight from the client when it can be opened by name
    // to the same effect; otherwise the body goes through a temporary file, copied at the end.
    const std::optional<std::string> stdoutName = platform::StandardOutputFileName();
    if (!o.output.empty()) client.Body = o.output;
    else if (stdoutName) client.Body = *stdoutName;
    else client.Body = bodyTemp.emplace().Path();

    // Uploading from a file needs the header in a file too; it then goes to a temporary one
    // unless the user named one. Data given as text is then uploaded from a file as well.
    const bool hasBody = o.command->hasBody;
    std::optional<TempFile> headerTemp, dataTemp;
    std::string data = o.data.value_or("");
    client.OutputFileMode = !o.headerFile.empty() || (!o.dataFile.empty() && hasBody);
    if (client.OutputFileMode) {
        client.Header = o.headerFile.empty() ? headerTemp.emplace().Path() : o.headerFile;
        if (hasBody) {
            if (!o.dataFile.empty()) {
                data = o.dataFile;
            } else {
                std::string bytes = data;
                if (o.command->cmd == CmdPost) {
                    TUrlEncoder encoder;
                    bytes = encoder.EncodeText(bytes);
                }
                WriteWholeFile(dataTemp.emplace().Path(), bytes);
                data = dataTemp->Path();
            }
        }
    }

    enum class Outcome { None, Success, Failure } outcome = Outcome::None;
    auto statusLine = [&] {
        std::string line = client.LastReply;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        return line;
    };
    client.OnSuccess = [&](CmdType cmd) {
        outcome = Outcome::Success;
        if (o.trace)
            std::cerr << "< " << statusLine() << "\n* success: " << qvl::MethodOf(cmd).name << " "
                      << client.ReplyCode << "\n";
    };
    client.OnFailure = [&](CmdType cmd) {
        outcome = Outcome::Failure;
        if (o.trace)
            std::cerr << "< " << statusLine() << "\n* failure: " << qvl::MethodOf(cmd).name << " "
                      << client.ReplyCode << "\n";
    };
    if (o.trace) {
        client.ReportLevel = 2;
        client.OnAboutToSend = [&](TObject*) {
            std::cerr << "* about to send to " << client.Host << ":" << client.Port
                      << (client.Proxy.empty() ? "" : " through " + client.Proxy + ":" +
                                                          std::to_string(client.ProxyPort))
                      << "\n";
            for (int i = 0; i < client.RequestHeaders->Count(); ++i)
                std::cerr << "> " << client.RequestHeaders->Get(i) << "\n";
        };
        client.OnConnect = [&](TObject*) { std::cerr << "* connected\n"; };
        client.OnDisconnect = [&](TObject*) { std::cerr << "* disconnected\n"; };
        client.OnPacketSent = [&](TObject*) { std::cerr << "* packet sent: " << client.BytesSent << " bytes\n"; };
        client.OnPacketRecvd = [&](TObject*) {
            std::cerr << "* packet received: " << client.BytesRecvd << " of " << client.BytesTotal << " bytes\n";
        };
        client.OnRedirect = [&](bool&) {
            std::cerr << "< " << statusLine() << "\n* redirect " << client.ReplyCode << " to '"
                      << client.LocationValue << "'\n";
        };
        client.OnAuthenticationNeeded = [&](TObject*) { std::cerr << "* authentication needed\n"; };
        client.OnStatus = [&](TObject*, const std::string& text) { std::cerr << "* " << text << "\n"; };
    }

    try {
        RunMethod(client, o, data);
    } catch (const EAbortError& e) {
        // The engine's time-out ends a transfer as an abort; say what happened.
        if (client.TimedOut)
            throw Exception("timed out after " + std::to_string(o.timeout) + " ms (" + e.Message() + ")");
        throw;
    }

    if (bodyTemp) CopyFileToStdout(bodyTemp->Path());
    return outcome == Outcome::Success ? 0 : outcome == Outcome::Failure ? 22 : 1;
}

void RunMethod(qvl::THttpClient& client, const Options& o, const std::string& data) {
    using namespace qvl;
    switch (o.command->cmd) {
        case CmdGet: client.Get(o.url); break;
        case CmdHead: client.Head(o.url); break;
        case CmdOptions: client.Options(o.url); break;
        case CmdDelete: client.Delete(o.url); break;
        case CmdPost: client.Post(o.url, data); break;
        case CmdPut: client.Put(o.url, data); break;
        case CmdPatch: client.Patch(o.url, data); break;
        case CmdTrace: client.Trace(o.url, data); break;
        case CmdCopy: client.Copy(o.url, data); break;
        case CmdMove: client.Move(o.url, data); break;
        case CmdLink: client.Link(o.url, data); break;
        case CmdUnlink: client.Unlink(o.url, data); break;
        case CmdNoMethod: client.SendWithoutMethod(o.url, data); break;
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Past the file-size limit a write should fail (EFBIG) and be reported like a full disk,
    // not kill the program with the body half written and no word said.
#ifdef SIGXFSZ
    ::signal(SIGXFSZ, SIG_IGN);
#endif
    // The client's waits dispatch the message queue, which needs the application object.
    qvl::platform::AppInstance app(argc, argv);
    std::vector<std::string> args(argv + 1, argv + argc);
    const Options options = ParseArguments(args);
    try {
        return Run(options);
    } catch (const std::exception& e) {
        std::cerr << "qvl-get: " << e.what() << "\n";
        return 1;
    }
}
