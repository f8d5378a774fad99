// Special folders, .lnk shortcuts and child processes on the Windows shell and process services.
// Each link is read back through the shell's own link object.
#include "support/PlatformSkip.h"
#if QVL_TEST_WINDOWS
#include <cstdint>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "support/Win32Headers.h"
#include <objbase.h>
#include <shlguid.h>
#include <shobjidl.h>

#include "platform/ChildProcess.h"
#include "platform/MessageTarget.h"
#include "platform/ShellFolders.h"
#include "platform/ShellLink.h"
#include "support/TempDir.h"

using namespace qvl::platform;
using qvl::test::TempDir;

namespace {

struct LinkReadBack {
    bool loaded = false;
    std::string path;
    std::string description;
};

LinkReadBack ReadLink(const std::string& fileName) {
    LinkReadBack back;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IShellLinkA* link = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   reinterpret_cast<void**>(&link)))) {
        IPersistFile* file = nullptr;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            const std::wstring wide = std::filesystem::path(fileName).wstring();
            if (SUCCEEDED(file->Load(wide.c_str(), STGM_READ))) {
                back.loaded = true;
                char text[MAX_PATH * 2] = {};
                if (SUCCEEDED(link->GetPath(text, sizeof text, nullptr, SLGP_RAWPATH))) back.path = text;
                char description[1024] = {};
                if (SUCCEEDED(link->GetDescription(description, sizeof description))) back.description = description;
            }
            file->Release();
        }
        link->Release();
    }
    CoUninitialize();
    return back;
}

}  // namespace

TEST(SpecialFolders, DesktopProgramsAndAppDataAreFoldersAndOthersAreNothing) {
    for (int csidl : {kCsidlDesktopDirectory, kCsidlPrograms, kCsidlAppData}) {
        const auto folder = GetSpecialFolderPath(csidl);
        ASSERT_TRUE(folder.has_value()) << csidl;
        EXPECT_NE(folder->back(), '\\') << *folder;
        EXPECT_EQ(GetFileAttributesA(folder->c_str()) & FILE_ATTRIBUTE_DIRECTORY, DWORD(FILE_ATTRIBUTE_DIRECTORY))
            << *folder;
    }
    EXPECT_EQ(GetSpecialFolderPath(5), std::nullopt);
}

TEST(ShellLinks, SavedLinkCarriesTargetDescriptionAndShowCommand) {
    TempDir dir;
    const std::string target = "C:\\Quorvale\\qvlloader.exe";
    const std::string fileName = (dir / "Quorvale Qt wallet.lnk").string();
    qvl::platform::ShellLink link("Quorvale Qt wallet");
    link.SetPath(target);
    link.SetDescription("qvl QT Wallet");
    link.SetShowCmd(kSwShow);
    ASSERT_TRUE(link.Save(fileName));

    const LinkReadBack back = ReadLink(fileName);
    ASSERT_TRUE(back.loaded);
    EXPECT_EQ(back.path, target);
    EXPECT_EQ(back.description, "qvl QT Wallet");
    // The show command as the file holds it (the link header's ShowCommand field, little-endian
    // at 0x3C); a reader may normalise values it does not know, so the file is what counts.
    const std::string bytes = qvl::test::ReadFileBytes(fileName);
    ASSERT_GE(bytes.size(), 0x40u);
    EXPECT_EQ(bytes.substr(0x3C, 4), std::string("\x05\0\0\0", 4));

    // Saving again replaces the link.
    link.SetDescription("second");
    ASSERT_TRUE(link.Save(fileName));
    EXPECT_EQ(ReadLink(fileName).description, "second");
}

TEST(ShellLinks, AnEmptyTargetIsStillWrittenAndNowhereToSaveIsRefused) {
    TempDir dir;
    // The link is written all the same, with an empty target path; what the link object makes
    // of the empty path does not stop the save.
    qvl::platform::ShellLink empty("empty");
    empty.SetDescription("qvl QT Wallet");
    EXPECT_TRUE(empty.Save((dir / "empty.lnk").string()));
    const LinkReadBack back = ReadLink((dir / "empty.lnk").string());
    ASSERT_TRUE(back.loaded);
    EXPECT_EQ(back.path, "");
    EXPECT_EQ(back.description, "qvl QT Wallet");
    EXPECT_FALSE(empty.Save(""));
    qvl::platform::ShellLink link("x");
    link.SetPath("C:\\Quorvale\\qvlloader.exe");
    EXPECT_FALSE(link.Save((dir / "missing folder" / "x.lnk").string()));
}

TEST(ChildProcess, RunsAProgramOnAPathWithBlanksAndGivesItsExitCode) {
    TempDir dir;
    std::filesystem::create_directory(dir / "with blanks");
    const auto program = dir / "with blanks" / "exit seven.exe";
    std::filesystem::copy_file(QVL_EXIT_SEVEN_PATH, program);
    EXPECT_EQ(ChildProcess::Run(program.string()), 7);

    ChildProcess child;
    ASSERT_TRUE(child.Start(program.string()));
    EXPECT_TRUE(child.Running());
    EXPECT_FALSE(child.Start(program.string()));  // one child at a time
    EXPECT_EQ(child.Wait(), 7);
    EXPECT_FALSE(child.Running());
    EXPECT_EQ(child.Wait(), std::nullopt);

    // Waiting while messages are dispatched: a message posted meanwhile is handled.
    int handled = 0;
    MessageTarget target([&](const Message&) { ++handled; });
    PostMessage(target.Id(), 1200, 0, 0);
    EXPECT_EQ(ChildProcess::RunDispatching(program.string()), 7);
    EXPECT_EQ(handled, 1);

    EXPECT_EQ(ChildProcess::Run((dir / "missing.exe").string()), std::nullopt);
    dir.WriteFile("not a program.exe", "just text");
    EXPECT_EQ(ChildProcess::Run((dir / "not a program.exe").string()), std::nullopt);
}

// A chain archive in a folder whose name has a blank, with a decoy at the path the blank cuts
// off: the archive runs, never the decoy, whether or not the volume gives short names.
TEST(ChildProcess, TheProgramIsTheTargetPathNotWhatABlankCutsOff) {
    TempDir dir;
    std::filesystem::create_directory(dir / "John Doe");
    const auto archive = dir / "John Doe" / "qvlchain.exe";
    std::filesystem::copy_file(QVL_CHILD_PROBE_PATH, archive);
    std::filesystem::copy_file(QVL_EXIT_NINE_PATH, dir / "John.exe");
    const std::string commandLine = (dir / "command line.txt").string();
    SetEnvironmentVariableA("QVL_PROBE_OUT", commandLine.c_str());
    const auto code = ChildProcess::Run(archive.string());
    SetEnvironmentVariableA("QVL_PROBE_OUT", nullptr);
    EXPECT_EQ(code, 7) << "9 is the decoy";

    // The command line is the path alone: its short form, or the path in quotes.
    char shortPath[MAX_PATH * 2] = {};
    const DWORD n = GetShortPathNameA(archive.string().c_str(), shortPath, sizeof shortPath);
    const std::string given = qvl::test::ReadFileBytes(commandLine);
    const std::string quoted = "\"" + archive.string() + "\"";
    if (n > 0 && n < sizeof shortPath && std::string(shortPath).find(' ') == std::string::npos)
        EXPECT_EQ(given, shortPath);
    else
        EXPECT_EQ(given, quoted);
}

TEST(ChildProcess, InheritsTheInstallersInheritableHandles) {
    TempDir dir;
    const auto program = dir / "probe.exe";
    std::filesystem::copy_file(QVL_CHILD_PROBE_PATH, program);
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    const HANDLE event = CreateEventA(&inheritable, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    SetEnvironmentVariableA("QVL_PROBE_HANDLE", std::to_string(reinterpret_cast<std::uintptr_t>(event)).c_str());
    EXPECT_EQ(ChildProcess::Run(program.string()), 7) << "the inheritable handle did not reach the child";
    SetEnvironmentVariableA("QVL_PROBE_HANDLE", nullptr);
    CloseHandle(event);
}
#else
QVL_TESTS_SKIPPED_HERE(WindowsShell, "shell links and known folders are Win32's; Shell tests the Linux desktop")
#endif
