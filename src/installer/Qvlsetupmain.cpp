#include "installer/Qvlsetupmain.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>

#include "framework/Application.h"
#include "framework/Exception.h"
#include "framework/Stream.h"
#include "installer/ReleaseFetch.h"
#include "installer/ReleaseState.h"
#include "installer/ShortcutFiles.h"
#include "installer/StagedFile.h"
#include "platform/ChildProcess.h"
#include "platform/FileSystem.h"
#include "platform/ShellLink.h"
#include "platform/ShellFolders.h"

#ifndef QVL_BASE_URL
#error "QVL_BASE_URL must name the download server (set by the build)"
#endif
#ifndef QVL_RELEASE_KEY
#error "QVL_RELEASE_KEY must be the release keys' hex digits (\",\" between keys), or empty (set by the build)"
#endif

namespace qvl {

#ifdef QVL_TEST_BASE_URL_VARIABLE
namespace {
// Only qvlsetup-testable has this: its tests serve the files on a port chosen when they run.
std::string TestBaseUrl() {
    const char* url = std::getenv(QVL_TEST_BASE_URL_VARIABLE);
    return url && *url ? std::string(url) : std::string(QVL_BASE_URL);
}
}  // namespace
#endif

// Definition order is initialisation order within this file: the two texts first, then the
// settings, the app directory last since it is made from inipath.
std::string datapath;
std::string probetext;
const std::string ticker = "qvl";
const std::string inipath = "Quorvale";
#ifdef QVL_TEST_BASE_URL_VARIABLE
const std::string baseurl = TestBaseUrl();
#else
const std::string baseurl = QVL_BASE_URL;
#endif
const std::string walletfile = "quorvale-qt.exe";
const std::string appdir = "C:\\" + inipath + "\\";
const std::string releasekey = QVL_RELEASE_KEY;
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
    // Without a usable APPDATA (the host does not set one) the user's application-data folder
    // stands for it, made when missing: an empty value would put the chain directory at the
    // root of the file system, and a missing data home would make it uncreatable.
    if (datapath.empty()) datapath = platform::GetSpecialFolderPath(platform::kCsidlAppData).value_or(std::string());
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
    // The HTTP client runs one command at a time, and a press during a download reaches us
    // nested inside it.
    if (running_) {
        window_.AppendLog("a run is already in progress - please wait.");
        return;
    }
    running_ = true;
    struct EndOfRun {
        bool& running;
        ~EndOfRun() { running = false; }
    } endOfRun{running_};
    releaseList_.reset();
    if (!releasekey.empty() && (window_.IsProgramTicked() || window_.IsBlockchainTicked()) && !LoadReleaseList())
        return;
    if (window_.IsProgramTicked()) RunProgramTask();
    if (window_.IsBlockchainTicked()) RunBlockchainTask();
    if (!window_.IsProgramTicked() && !window_.IsBlockchainTicked()) window_.AppendLog("please make a slection.");
}

bool TForm1::LoadReleaseList() {
    window_.AppendLog("checking the release list " + baseurl + ReleaseFetch::kListName);
    std::string why = "the build's release key is not a key";
    std::optional<ReleaseList> list;
    if (const auto keys = ReleaseList::KeysFromHex(releasekey)) list = ReleaseFetch::Load(*keys, baseurl, *HttpClient1, why);
    if (!list) return RefuseReleaseList("the release list failed verification: " + why,
                                        "the release list failed verification - nothing was downloaded");

    // A replay of an older manifest, or of another one under the serial accepted before.
    const ReleaseState state(datapath + "\\" + inipath + "\\" + kReleaseStateName);
    const std::optional<ReleaseState::Accepted> accepted = state.Load();
    const std::string serial = std::to_string(list->Serial());
    if (accepted && list->Serial() < accepted->serial)
        return RefuseReleaseList("the release list is older than the one accepted before: serial " + serial +
                                     " is below " + std::to_string(accepted->serial),
                                 "the release list is older than the one accepted before (serial " + serial + " < " +
                                     std::to_string(accepted->serial) + ") - nothing was downloaded");
    if (accepted && list->Serial() == accepted->serial && list->Digest() != accepted->digest)
        return RefuseReleaseList("the release list is not the one accepted before under serial " + serial,
                                 "the release list differs from the one accepted under serial " + serial +
                                     " - nothing was downloaded");
    // A manifest kept back from the user forever.
    const int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::system_clock::now().time_since_epoch()).count();
    if (now > list->Expires())
        return RefuseReleaseList("the release list has expired: it was valid until " + list->ExpiresText(),
                                 "the release list expired on " + list->ExpiresText() + " - nothing was downloaded");
    if (!accepted || list->Serial() > accepted->serial) state.Store({list->Serial(), list->Digest()});

    window_.AppendLog("the release list is signed by the publisher (" + std::to_string(list->Size()) +
                      (list->Size() == 1 ? " file)" : " files)"));
    window_.AppendLog("release serial " + serial + ", valid until " + list->ExpiresText());
    releaseList_ = std::make_unique<ReleaseList>(std::move(*list));
    return true;
}

bool TForm1::RefuseReleaseList(const std::string& logLine, const std::string& boxText) {
    window_.AppendLog(logLine);
    window_.ShowMessageBox(boxText, "Verification failure", 0);
    return false;
}

bool TForm1::Verified(const std::string& name, platform::Sha256& hasher) {
    const ReleaseFile* expected = releaseList_->Find(name);
    // Every byte the capture wrote went through the hasher, and nothing else did.
    const bool whole = static_cast<int64_t>(hasher.Length()) == HttpClient1->BytesRecvd &&
                       static_cast<int64_t>(hasher.Length()) == expected->size;
    const bool matches = whole && hasher.Final() == expected->digest;
    if (matches) {
        window_.AppendLog("checksum verified: " + name);
        return true;
    }
    window_.AppendLog("checksum mismatch: " + name + " was not installed");
    return false;
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

void TForm1::HttpClient1Success(CmdType /*Cmd*/) {
    downloadsucceeded = true;
    requestsucceeded_ = true;
}

void TForm1::HttpClient1Failure(CmdType Cmd) {
    downloadsucceeded = false;
    requestsucceeded_ = false;
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
    // A signed download is as long as the manifest says, whatever the server announces.
    const int64_t total = HttpClient1->ExactBodySize >= 0 ? HttpClient1->ExactBodySize : HttpClient1->BytesTotal;
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

void TForm1::FetchIntoBody(const std::string& url, bool executable) {
    const std::string target = HttpClient1->Body;
    StagedFile staged(target);
    struct RestoreBody {
        THttpClient& client;
        const std::string& target;
        ~RestoreBody() { client.Body = target; }
    } restore{*HttpClient1, target};
    HttpClient1->Body = staged.Path();
    // With a release list, only a file it names is fetched, exactly as long as it says, and the
    // body is hashed as it is written; each pass of the request (a redirect writes its own body
    // first) starts the hash over.
    platform::Sha256 hasher;
    const std::string name = url.substr(url.rfind('/') + 1);
    const ReleaseFile* signedFile = releaseList_ ? releaseList_->Find(name) : nullptr;
    if (releaseList_ && !signedFile) {
        window_.AppendLog("not on the release list: " + name + " was not installed");
        RefuseFile(name);
        return;
    }
    if (signedFile) {
        HttpClient1->ExactBodySize = signedFile->size;
        HttpClient1->OnAboutToSend = [&hasher](TObject*) { hasher.Reset(); };
        HttpClient1->OnFileDataWritten = [&hasher](const char* data, int n) {
            hasher.Update(data, static_cast<size_t>(n));
        };
    }
    struct Unhook {
        THttpClient& client;
        bool hooked;
        ~Unhook() {
            if (!hooked) return;
            client.OnAboutToSend = nullptr;
            client.OnFileDataWritten = nullptr;
            client.ExactBodySize = -1;
        }
    } unhook{*HttpClient1, releaseList_ != nullptr};
    requestsucceeded_ = false;
    try {
        HttpClient1->Get(url);
    } catch (const EFCreateError& e) {
        // The file that could not be made is the temporary one; the user knows the target.
        if (e.Path() != staged.Path()) throw;
        throw EFCreateError(target);
    } catch (const EWriteError& e) {
        // The same for a file the disk stopped taking; the reason stays.
        if (e.Path() != staged.Path()) throw;
        throw EWriteError(target, e.Reason());
    }
    if (releaseList_ && !HttpClient1->SizeRefusal.empty()) {
        window_.AppendLog("size mismatch: " + name + " was not installed (" + HttpClient1->SizeRefusal +
                          ", the release list says " + std::to_string(signedFile->size) + ")");
        RefuseFile(name);
        return;
    }
    // The staged file goes with `staged`; the installed one stays as it was.
    if (requestsucceeded_ && releaseList_ && !Verified(name, hasher)) {
        RefuseFile(name);
        return;
    }
    if (requestsucceeded_) staged.Commit(executable);
}

void TForm1::RefuseFile(const std::string& name) {
    requestsucceeded_ = false;
    downloadsucceeded = false;
    if (OnFileRefused) OnFileRefused(name);
}

void TForm1::DownloadLauncher() {
    window_.AppendLog("Downloading Launcher");
    window_.SetProgressVisible(true);
    HttpClient1->InputFileMode = true;
    HttpClient1->Body = appdir + ticker + "loader.exe";
    downloadsucceeded = false;
    const std::string url = baseurl + ticker + "loader.exe";
    window_.AppendLog("Downloading : " + url);
    // The launcher is what the shortcuts start, and a downloaded file has no execute bit.
    FetchIntoBody(url, true);
    if (downloadsucceeded) {
        window_.AppendLog("Making Shortcut to your Desktop");
        CreateDesktopShortcut(appdir + ticker + "loader.exe");
        window_.AppendLog("Making Shortcut to your Start menu");
        CreateStartMenuShortcut(appdir + ticker + "loader.exe");
    }
}

void TForm1::DownloadWallet() {
    window_.AppendLog("Downloading " + ticker + " Wallet");
    window_.SetProgressVisible(true);
    const std::string target = appdir + walletfile;
    HttpClient1->InputFileMode = true;
    HttpClient1->Body = target;
    window_.AppendLog("app download is " + target);
    downloadsucceeded = false;
    // The wallet is a program the user (and the launcher) will start.
    FetchIntoBody(baseurl + walletfile, true);
    if (downloadsucceeded) {
        HttpClient1->Body = datapath + "/" + inipath + "/" + "version.txt";
        window_.AppendLog("Downloading : version.txt");
        // The base URL ends in "/", so this one has two slashes in a row; servers take it.
        const std::string url = baseurl + "/version.txt";
        window_.AppendLog("getting version info file " + url);
        FetchIntoBody(url);
        window_.AppendLog("Done.");
        window_.SetProgressVisible(false);
    } else {
        window_.SetProgressVisible(false);
        window_.ShowMessageBox("could not download wallet", "Download failure", 0);
    }
}

void TForm1::DownloadBlockchain() {
    window_.AppendLog("Downloading Blockchain");
    window_.SetProgressVisible(true);
    const std::string target = datapath + "\\" + ticker + "chain.exe";
    HttpClient1->InputFileMode = true;
    HttpClient1->Body = target;
    window_.AppendLog("please note that this will take a while ...");
    window_.AppendLog("once downloaded, click ok to accept the default location.");
    downloadsucceeded = false;
    const std::string url = baseurl + ticker + "chain.exe";
    window_.AppendLog("trying " + url);
    FetchIntoBody(url);
    if (downloadsucceeded) {
        window_.SetProgressVisible(false);
        window_.AppendLog("unzipping blockchain - this will take a while...");
        // The archive unpacks the chain and proposes its own location; it gets no arguments.
        // Its exit code says nothing the installer acts on, and an archive that cannot be
        // started is not reported either: "Done." follows in every case. The window keeps
        // painting and answering while it runs (a desktop offers to kill a window that does
        // not); the run is still one step, as during a download: "Next" is refused and a close
        // waits for its end.
        (void)platform::ChildProcess::RunDispatching(target);
        window_.AppendLog("Done.");
    } else {
        window_.SetProgressVisible(false);
        window_.ShowMessageBox("could not download blockchain", "Download failure", 0);
    }
}

namespace {

void SaveShortcut(const std::string& target, const std::string& fileName) {
    platform::ShellLink link(inipath);
    link.SetPath(target);
    link.SetDescription(ticker + " QT Wallet");
    link.SetShowCmd(platform::kSwShow);
    (void)link.Save(fileName);  // a shortcut that cannot be saved is simply not there
}

}  // namespace

void TForm1::CreateDesktopShortcut(const std::string& target) noexcept {
    Application::Swallowed([&] {
        const std::optional<std::string> desktop = platform::GetSpecialFolderPath(platform::kCsidlDesktopDirectory);
        if (!desktop) return;
        SaveShortcut(target, *desktop + kFolderSeparator + inipath + kShortcutExtension);
    });
}

void TForm1::CreateStartMenuShortcut(const std::string& target) noexcept {
    Application::Swallowed([&] {
        const std::optional<std::string> programs = platform::GetSpecialFolderPath(platform::kCsidlPrograms);
        if (!programs) return;
        const std::string folder = *programs + kFolderSeparator + inipath;
        // An existing folder is what a second run finds; any other failure shows in the save.
        (void)platform::CreateDirectory(folder);
        SaveShortcut(target, folder + kFolderSeparator + inipath + kShortcutExtension);
    });
}

}  // namespace qvl
