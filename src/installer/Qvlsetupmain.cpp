#include "installer/Qvlsetupmain.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "framework/Exception.h"
#include "platform/FileSystem.h"

#ifndef QVL_BASE_URL
#error "QVL_BASE_URL must name the download server (set by the build)"
#endif

namespace qvl {

// Definition order is initialisation order within this file: the two texts first, then the
// settings, the app directory last since it is made from inipath.
std::string datapath;
std::string probetext;
const std::string ticker = "qvl";
const std::string inipath = "Quorvale";
const std::string baseurl = QVL_BASE_URL;
const std::string walletfile = "quorvale-qt.exe";
const std::string appdir = "C:\\" + inipath + "\\";
bool chaindirfound = false;
bool appdirfound = false;
bool downloadsucceeded = false;

TForm1::Folders TForm1::Folders::Platform() {
    return Folders{platform::GetFileAttributes, platform::CreateDirectory};
}

TForm1::TForm1(WindowServices& window, Folders folders)
    : window_(window), folders_(std::move(folders)) {
    HttpClient1 = std::make_unique<THttpClient>(this);
    HttpClient1->Port = 0;
    HttpClient1->ReportLevel = 0;
    HttpClient1->OnPacketRecvd = [this](TObject* Sender) { HttpClient1PacketRecvd2(Sender); };
    HttpClient1->Body = "Default.htm";
    HttpClient1->Header = "Head.txt";
    HttpClient1->InputFileMode = false;
    HttpClient1->OutputFileMode = false;
    HttpClient1->OnSuccess = [this](CmdType Cmd) { HttpClient1Success(Cmd); };
    HttpClient1->OnFailure = [this](CmdType Cmd) { HttpClient1Failure(Cmd); };
    HttpClient1->ProxyPort = 0;
    AltHTTP1 = std::make_unique<TAltHTTP>(this);
    FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::FormCreate() {
    window_.ClearLog();
    window_.AppendLog("ticker is " + ticker);
    window_.AppendLog("inipath is " + inipath);
    window_.SetTitle(inipath + " Installer - Updater");
    datapath = platform::GetEnvironmentVariable("APPDATA").value_or(std::string());
    window_.AppendLog("datapath is " + datapath);

    const std::string chaindir = datapath + "\\" + inipath + "\\";
    if (ProbePath(chaindir)) {
        probetext = "true";
        chaindirfound = true;
        window_.AppendLog("AppData\\" + inipath + "\\ chain directory found is: " + probetext);
    } else {
        probetext = "false";
        chaindirfound = false;
        window_.AppendLog("AppData\\" + inipath + "\\ chain directory found is: " + probetext);
        window_.AppendLog("I will now create it.");
        if (!folders_.CreateDirectory(chaindir)) {
            window_.AppendLog("Cannot create " + chaindir);
            throw Exception("Cannot create " + chaindir);
        }
    }

    if (ProbePath(appdir)) {
        probetext = "true";
        appdirfound = true;
        window_.AppendLog(appdir + " app directory found is: " + probetext);
    } else {
        probetext = "false";
        appdirfound = false;
        window_.AppendLog(appdir + " app directory found is: " + probetext);
        window_.AppendLog("I will now create it.");
        if (!folders_.CreateDirectory(appdir)) {
            window_.AppendLog("Cannot create " + appdir);
            throw Exception("Cannot create " + appdir);
        }
    }

    // The chain directory's flag gives the "update the app" line and the app directory's flag
    // the "install the blockchain" line; the pairing is how the installer has always read.
    if (chaindirfound) window_.AppendLog("configured to update the app");
    if (appdirfound) window_.AppendLog("configured to install the blockchain");
}

bool TForm1::ProbePath(const std::string& path) {
    window_.AppendLog("looking for file " + path);
    const uint32_t attributes = folders_.GetFileAttributes(path);
    window_.AppendLog("attribs= " + std::to_string(attributes));
    return attributes != platform::kInvalidFileAttributes;
}

void TForm1::Button1Click(TObject* /*Sender*/) {
    if (window_.IsProgramTicked()) RunProgramTask();
    if (window_.IsBlockchainTicked()) RunBlockchainTask();
    if (!window_.IsProgramTicked() && !window_.IsBlockchainTicked()) window_.AppendLog("please make a slection.");
}

void TForm1::RunProgramTask() {
    window_.AppendLog("install program is checked");
    DownloadLauncher();
    DownloadWallet();
}

void TForm1::RunBlockchainTask() {
    window_.AppendLog("install blockchain is checked");
    DownloadBlockchain();
}

void TForm1::HttpClient1Success(CmdType /*Cmd*/) { downloadsucceeded = true; }

void TForm1::HttpClient1Failure(CmdType Cmd) {
    downloadsucceeded = false;
    switch (Cmd) {
        case CmdGet: window_.AppendLog("HTTP GET Failed"); break;
        case CmdOptions: window_.AppendLog("HTTP OPTIONS Failed"); break;
        case CmdHead: window_.AppendLog("HTTP HEAD Failed"); break;
        case CmdPost: window_.AppendLog("HTTP Post Failed"); break;
        case CmdPut: window_.AppendLog("HTTP PUT Failed"); break;
        case CmdDelete: window_.AppendLog("HTTP Delete Failed"); break;
        case CmdTrace: window_.AppendLog("HTTP TRACE Failed"); break;
        default: break;
    }
}

void TForm1::HttpClient1PacketRecvd2(TObject* /*Sender*/) {
    const int64_t total = HttpClient1->BytesTotal;
    const int64_t received = HttpClient1->BytesRecvd;
    // The bar counts in 32 bits; a download over 2 GiB moves it in proportion instead of
    // wrapping. A negative total stays negative so that the bar refuses it.
    constexpr int64_t kBarMax = std::numeric_limits<int32_t>::max();
    int shift = 0;
    while ((total >> shift) > kBarMax || (received >> shift) > kBarMax) ++shift;
    const int64_t barMax = std::max<int64_t>(total >> shift, std::numeric_limits<int32_t>::min());
    window_.SetProgressMax(static_cast<int32_t>(barMax));
    window_.SetProgressPosition(static_cast<int32_t>(std::max<int64_t>(received >> shift, 0)));
    window_.AppendLog("Max=" + std::to_string(total) + "  file posistion=" + std::to_string(received));
}

void TForm1::DownloadLauncher() {}

void TForm1::DownloadWallet() {}

void TForm1::DownloadBlockchain() {}

}  // namespace qvl
