#pragma once
// The installer: its settings, fixed when the program is built, and TForm1, the logic of the
// main window. TForm1 reaches its window only through WindowServices.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "framework/Component.h"
#include "installer/AltHttp.h"
#include "installer/ReleaseList.h"
#include "installer/WindowServices.h"
#include "net/http/HttpClient.h"

namespace qvl {

// Process-wide state and settings, initialised in this order and released in the reverse one.
extern std::string datapath;           // the APPDATA value (else the data home), set by TForm1
extern std::string probetext;          // "true" or "false" after each folder probe
extern const std::string ticker;       // "qvl"
extern const std::string inipath;      // "Quorvale"
extern const std::string baseurl;      // the download server, an http URL ending in "/"
extern const std::string walletfile;   // "quorvale-qt.exe"
extern const std::string appdir;       // "C:\" + inipath + "\"
// The publisher's P-256 keys, each as 128 hex digits (X then Y), "," between them, set by the
// build; empty when the build has none, and then the installer neither fetches nor checks a
// release list.
extern const std::string releasekey;
extern bool chaindirfound;             // the chain directory existed before start-up
extern bool appdirfound;               // the app directory existed before start-up
extern bool downloadsucceeded;         // outcome of the last download

class TForm1 : public TComponent {
public:
    // The two file-system operations of the construction: attribute bits of a path
    // (platform::kInvalidFileAttributes when nothing is there) and making one folder level.
    struct Folders {
        std::function<uint32_t(const std::string&)> GetFileAttributes;
        std::function<bool(const std::string&)> CreateDirectory;
        static Folders Platform();
    };

    // Creates the window's components (the HTTP client with its stored settings and handlers;
    // the second HTTP component, which starts the socket service), then logs the settings, sets the caption and finds or creates the chain directory
    // (datapath + "\" + inipath + "\") and the app directory. Raises Exception
    // "Cannot create <path>" when a folder cannot be made (the app directory is then not looked
    // at when it was the chain directory), and whatever creating the components raises.
    explicit TForm1(WindowServices& window, Folders folders = Folders::Platform());
    ~TForm1() override;

    // Logs "looking for file <path>" and "attribs= <bits>"; true when anything exists there.
    bool ProbePath(const std::string& path);

    // "Next": runs the program task and/or the blockchain task, as ticked at the moment of each
    // test; with neither ticked, logs "please make a slection.". Exceptions of a task leave it.
    // A press while a run is in progress (the downloads keep the window's messages flowing, so
    // it arrives nested inside the run) starts nothing and only logs that a run is going on.
    void Button1Click(TObject* Sender);
    // Whether a press of "Next" is being handled right now.
    bool RunInProgress() const { return running_; }
    // Logs "install program is checked", then the launcher and the wallet download.
    void RunProgramTask();
    // Logs "install blockchain is checked", then the blockchain download.
    void RunBlockchainTask();

    // The download tasks run by the task runners. Each fetches one file from the download
    // server into its place (launcher and wallet into the app directory, the version file into
    // the chain directory, the chain archive into the APPDATA folder) and does its follow-up
    // work: the two shortcuts; the version file; running the chain archive and waiting for it
    // (the window's messages are dispatched meanwhile, as during a download). A download that
    // did not succeed leaves the
    // file that was there as it was. Exceptions of a request (socket errors, aborts, time-outs,
    // EFCreateError "Cannot create file <target>") leave the task.
    void DownloadLauncher();
    void DownloadWallet();
    void DownloadBlockchain();

    // Shortcuts (inipath + ".desktop" or ".lnk", description ticker + " QT Wallet", starting
    // `target`) in the desktop folder, and in an inipath folder of the applications (Start-menu
    // programs) folder, which is made for it. Silent: a folder that cannot be found or made, or an entry that
    // cannot be saved, means no shortcut, and nothing else.
    void CreateDesktopShortcut(const std::string& target) noexcept;
    void CreateStartMenuShortcut(const std::string& target) noexcept;

    // The outcome of a request: Success sets the download-succeeded flag; Failure clears it and
    // logs the command's failure line ("HTTP GET Failed", ...; some commands have none).
    void HttpClient1Success(CmdType Cmd);
    void HttpClient1Failure(CmdType Cmd);
    // After each received chunk of a body: the bar's maximum, then its position, from the
    // client's counters (scaled down together when they do not fit the bar's 32-bit range), and
    // the line "Max=<total>  file posistion=<received>" with the true counts. A negative total
    // is refused by the bar with its range error.
    void HttpClient1PacketRecvd2(TObject* Sender);

    // With a release key: a download whose bytes are not those the signed list names (or whose
    // name is not on it) was refused; its staged file is gone and the installed one untouched.
    std::function<void(const std::string& file)> OnFileRefused;

    // The record of the highest release serial accepted, in the chain directory.
    static constexpr const char* kReleaseStateName = "release-accepted";

    std::unique_ptr<THttpClient> HttpClient1;
    std::unique_ptr<TAltHTTP> AltHTTP1;

private:
    void FormCreate();
    // Get of `url` into the file named by HttpClient1->Body, through a StagedFile beside it that
    // replaces the file only when the request succeeded (and, with `executable`, gets execute
    // bits). Body names the target again afterwards, whatever happened.
    void FetchIntoBody(const std::string& url, bool executable = false);
    // With a release key, at the start of a run: fetches and verifies the release list, refuses
    // one older than (or another than) the one accepted before and one past its expiry, and
    // records the serial of one it accepts. False, after a log line and a box, when it is
    // refused; the run then downloads nothing.
    bool LoadReleaseList();
    // Logs `logLine`, shows `boxText` in a "Verification failure" box; false.
    bool RefuseReleaseList(const std::string& logLine, const std::string& boxText);
    // A download of the release that is not put in place: the task goes its failure way.
    void RefuseFile(const std::string& name);
    // With a release key: whether the download of `name` (a file the list names) has the length
    // and the hash the list says; logs the verdict.
    bool Verified(const std::string& name, platform::Sha256& hasher);

    WindowServices& window_;
    Folders folders_;
    bool running_ = false;
    // The outcome of the running request alone: cleared before each request, set by OnSuccess,
    // cleared by OnFailure; it decides whether the fetched file replaces the old one. It is kept
    // apart from downloadsucceeded because the version file request neither clears nor tests
    // that flag.
    bool requestsucceeded_ = false;
    // The verified release list of the running run (with a release key only).
    std::unique_ptr<ReleaseList> releaseList_;
};

}  // namespace qvl
