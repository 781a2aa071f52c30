// Keywarden.exe as a process: single instance, binding retries, the log level from config.ini,
// the exit codes, and the certificates of a key present while it runs.
#include <windows.h>
#include <gtest/gtest.h>
#include <shellapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "resource.h"
#include "support.h"

using namespace kwtest;

namespace {

const char kLogDir[] = "C:\\pvarel";
const char kLogPrefix[] = "C:\\pvarel\\KEVA_QMB4410_Client";

class ProcessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CreateDirectoryA(kLogDir, nullptr);
        ClearLogs();
        PullAll();
    }
    void TearDown() override { PullAll(); }

    static void ClearLogs() {
        WIN32_FIND_DATAA fd;
        HANDLE h = FindFirstFileA((std::string(kLogPrefix) + "_*.log").c_str(), &fd);
        if (h == INVALID_HANDLE_VALUE) return;
        do DeleteFileA((std::string(kLogDir) + "\\" + fd.cFileName).c_str());
        while (FindNextFileA(h, &fd));
        FindClose(h);
    }

    // A folder with Keywarden.exe, optionally the device library and a config.ini.
    static std::string Install(bool withLibrary, const char* config) {
        std::string dir = MakeTempDir("app");
        std::string bin = ProgramDir();
        EXPECT_TRUE(
            CopyFileA((bin + "\\Keywarden.exe").c_str(), (dir + "\\Keywarden.exe").c_str(), FALSE));
        if (withLibrary) {
            EXPECT_TRUE(CopyFileA((bin + "\\KEVA_QMB4410_LIB.dll").c_str(),
                                  (dir + "\\KEVA_QMB4410_LIB.dll").c_str(), FALSE));
        }
        if (config) {
            HANDLE f = CreateFileA((dir + "\\config.ini").c_str(), GENERIC_WRITE, 0, nullptr,
                                   CREATE_ALWAYS, 0, nullptr);
            DWORD written = 0;
            WriteFile(f, config, static_cast<DWORD>(strlen(config)), &written, nullptr);
            CloseHandle(f);
        }
        return dir;
    }

    static PROCESS_INFORMATION Start(const std::string& dir, const char* args = "",
                                     const std::string& currentDir = "") {
        std::string cmd = "\"" + dir + "\\Keywarden.exe\"";
        if (*args) cmd += std::string(" ") + args;
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        EXPECT_TRUE(CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr,
                                   (currentDir.empty() ? dir : currentDir).c_str(), &si, &pi));
        return pi;
    }

    static DWORD WaitExit(PROCESS_INFORMATION& pi, DWORD ms) {
        DWORD code = STILL_ACTIVE;
        if (WaitForSingleObject(pi.hProcess, ms) == WAIT_OBJECT_0)
            GetExitCodeProcess(pi.hProcess, &code);
        else
            TerminateProcess(pi.hProcess, 99);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
        return code;
    }

    struct DialogSearch {
        HWND main, found;
        DWORD process;
    };

    // Window enumeration callbacks must be WINAPI functions (stdcall on 32-bit Windows).
    static BOOL CALLBACK FindOtherVisibleWindow(HWND w, LPARAM p) {
        auto* f = reinterpret_cast<DialogSearch*>(p);
        DWORD process = 0;
        GetWindowThreadProcessId(w, &process);
        if (w != f->main && process == f->process && IsWindowVisible(w)) {
            f->found = w;
            return FALSE;
        }
        return TRUE;
    }

    // A dialog of the running Keywarden other than its main window, once one is shown.
    static HWND WaitDialog(HWND main, DWORD ms) {
        DialogSearch f = {main, nullptr, 0};
        GetWindowThreadProcessId(main, &f.process);
        PumpUntil(
            [&] {
                EnumWindows(FindOtherVisibleWindow, reinterpret_cast<LPARAM>(&f));
                return f.found != nullptr;
            },
            ms);
        return f.found;
    }

    // The names of the markers planted modules left (planted_module.c), sorted.
    static std::vector<std::string> Markers(const std::string& folder) {
        std::vector<std::string> names;
        WIN32_FIND_DATAA fd;
        HANDLE h = FindFirstFileA((folder + "\\*_*").c_str(), &fd);
        if (h == INVALID_HANDLE_VALUE) return names;
        do names.push_back(fd.cFileName);
        while (FindNextFileA(h, &fd));
        FindClose(h);
        std::sort(names.begin(), names.end());
        return names;
    }

    static HWND WaitWindow(DWORD ms) {
        HWND w = nullptr;
        PumpUntil([&] { return (w = FindWindowW(L"KEVAClientClass", nullptr)) != nullptr; }, ms);
        return w;
    }
};

}  // namespace

TEST_F(ProcessTest, SecondStartEndsWithOneAndTheFirstKeepsItsKeysUntilItQuits) {
    SetPresent("KPA", true);
    std::string dir = Install(true, "[exe_config]\r\nloglevel=4\r\n");
    PROCESS_INFORMATION first = Start(dir);
    HWND window = WaitWindow(30000);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(PumpUntil([] { return ProviderEntries().size() == 2; }, 20000));

    PROCESS_INFORMATION second = Start(dir, "/min");
    EXPECT_EQ(WaitExit(second, 30000), 1u);
    EXPECT_EQ(FindWindowW(L"KEVAClientClass", nullptr), window);

    PostMessageW(window, UM_QUIT, 0, 0);
    EXPECT_EQ(WaitExit(first, 30000), 0u);
    EXPECT_TRUE(ProviderEntries().empty());  // released on the way out
    auto log = LogLines(kLogPrefix);
    EXPECT_TRUE(Contains(log, "[DEBUG] CLIENT "));
    EXPECT_TRUE(Contains(log, "EnumDevInfoProc start..."));
    EXPECT_TRUE(Contains(log, Ansi(u8"设备序列号:KPA")));
}

TEST_F(ProcessTest, TrayExitCommandBecomesTheExitCode) {
    std::string dir = Install(true, nullptr);
    PROCESS_INFORMATION pi = Start(dir);
    HWND window = WaitWindow(30000);
    ASSERT_NE(window, nullptr);
    PostMessageW(window, WM_COMMAND, ID_TRAY_EXIT, 0);
    EXPECT_EQ(WaitExit(pi, 30000), static_cast<DWORD>(ID_TRAY_EXIT));
    // No config.ini: level 1, and a normal run has nothing to report.
    EXPECT_FALSE(Contains(LogLines(kLogPrefix), "[DEBUG]"));
}

// A restarted shell has forgotten every notification icon and announces "TaskbarCreated" to
// all top-level windows: Keywarden adds its icon again, hidden or shown.
TEST_F(ProcessTest, IconComesBackWhenTheShellRestarts) {
    std::string dir = Install(true, nullptr);
    PROCESS_INFORMATION pi = Start(dir);
    HWND window = WaitWindow(30000);
    ASSERT_NE(window, nullptr);
    NOTIFYICONDATAW icon = {};
    icon.cbSize = NOTIFYICONDATAW_V3_SIZE;
    icon.hWnd = window;
    icon.uID = 205;  // the icon's id
    // A change that changes nothing succeeds exactly while the shell knows the icon.
    auto iconExists = [&] { return Shell_NotifyIconW(NIM_MODIFY, &icon) != FALSE; };
    ASSERT_TRUE(PumpUntil(iconExists, 10000));
    const UINT taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    for (bool shown : {false, true}) {
        SCOPED_TRACE(shown ? "window shown" : "window hidden");
        if (shown) {
            PostMessageW(window, WM_COMMAND, ID_TRAY_OPEN, 0);
            ASSERT_TRUE(PumpUntil([&] { return IsWindowVisible(window) != FALSE; }, 10000));
        }
        ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &icon));  // what the restart did to it
        ASSERT_FALSE(iconExists());
        PostMessageW(HWND_BROADCAST, taskbarCreated, 0, 0);
        EXPECT_TRUE(PumpUntil(iconExists, 5000));
    }
    PostMessageW(window, WM_COMMAND, ID_TRAY_EXIT, 0);
    EXPECT_EQ(WaitExit(pi, 30000), static_cast<DWORD>(ID_TRAY_EXIT));
}

TEST_F(ProcessTest, CommandTwoEndsWithTwoAndEscapeOrCloseDoNot) {
    std::string dir = Install(true, nullptr);
    PROCESS_INFORMATION pi = Start(dir);
    HWND window = WaitWindow(30000);
    ASSERT_NE(window, nullptr);
    PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageW(window, WM_KEYDOWN, VK_RETURN, 0);
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 1500), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(IsWindow(window));
    PostMessageW(window, WM_COMMAND, 2, 0);
    EXPECT_EQ(WaitExit(pi, 30000), 2u);
}

TEST_F(ProcessTest, LogLevelZeroWritesNothing) {
    SetPresent("KPA", true);
    std::string dir = Install(true, "[exe_config]\r\nloglevel=0\r\n");
    PROCESS_INFORMATION pi = Start(dir);
    HWND window = WaitWindow(30000);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(PumpUntil([] { return ProviderEntries().size() == 2; }, 20000));
    PostMessageW(window, WM_COMMAND, 2000, 0);
    EXPECT_EQ(WaitExit(pi, 30000), 2000u);
    EXPECT_TRUE(LogLines(kLogPrefix).empty());
}

TEST_F(ProcessTest, MissingDeviceLibraryEndsWithZeroAfterThreeAttempts) {
    std::string dir = Install(false, "[exe_config]\r\nloglevel=1\r\n");
    ULONGLONG start = GetTickCount64();
    PROCESS_INFORMATION pi = Start(dir);
    bool windowSeen = false;
    while (WaitForSingleObject(pi.hProcess, 100) == WAIT_TIMEOUT &&
           GetTickCount64() - start < 30000)
        windowSeen |= FindWindowW(L"KEVAClientClass", nullptr) != nullptr;
    ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_EQ(WaitExit(pi, 1000), 0u);
    EXPECT_FALSE(windowSeen);
    EXPECT_GE(elapsed, 9000u);
    auto log = LogLines(kLogPrefix);
    EXPECT_EQ(Count(log, "[ERROR] CLIENT "), 3);
    EXPECT_EQ(Count(log, "LoadLibrary[KEVA_QMB4410_LIB.dll] err[0x7e]"), 3);
}

TEST_F(ProcessTest, QuittingWithADialogOpenLeavesNoCertificateBehind) {
    SetPresent("KPA", true);
    std::string dir = Install(true, nullptr);
    // Each way out, each time with a dialog of the key open (the key is selected at start).
    const struct {
        UINT message;
        WPARAM command;
        int dialog;
        DWORD exitCode;
    } ways[] = {{UM_QUIT, 0, IDC_VIEW_DEVINFO, 0},
                {WM_COMMAND, ID_TRAY_EXIT, IDC_MODIFY_LABEL, ID_TRAY_EXIT},
                {WM_COMMAND, 2000, IDC_VIEW_DEVINFO, 2000}};
    for (const auto& way : ways) {
        SCOPED_TRACE(way.exitCode);
        PROCESS_INFORMATION pi = Start(dir);
        HWND window = WaitWindow(30000);
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(PumpUntil([] { return ProviderEntries().size() == 2; }, 20000));
        PostMessageW(window, WM_COMMAND, way.dialog, 0);
        ASSERT_NE(WaitDialog(window, 10000), nullptr);
        PostMessageW(window, way.message, way.command, 0);
        EXPECT_EQ(WaitExit(pi, 30000), way.exitCode);
        EXPECT_TRUE(ProviderEntries().empty());
    }
}

TEST_F(ProcessTest, CrashOfAThreadStillRemovesTheCertificates) {
    SetPresent("KPA", true);
    std::string dir = Install(true, nullptr);
    PROCESS_INFORMATION pi = Start(dir);
    HWND window = WaitWindow(30000);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(PumpUntil([] { return ProviderEntries().size() == 2; }, 20000));
    // A thread of Keywarden that runs into an access violation nobody handles.
    HANDLE thread = CreateRemoteThread(pi.hProcess, nullptr, 0, nullptr, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    CloseHandle(thread);
    EXPECT_EQ(WaitExit(pi, 30000), static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
    EXPECT_TRUE(ProviderEntries().empty());
}

// A run ended abruptly leaves its certificates in the store: the next start removes them
// before it reads the keys, so that only the keys present have certificates there.
TEST_F(ProcessTest, StartUpSweepRemovesWhatAnAbruptEndLeftInTheStore) {
    SetPresent("KPA", true);
    std::string dir = Install(true, nullptr);
    PROCESS_INFORMATION pi = Start(dir);
    ASSERT_NE(WaitWindow(30000), nullptr);
    ASSERT_TRUE(PumpUntil([] { return ProviderEntries().size() == 2; }, 20000));
    TerminateProcess(pi.hProcess, 9);  // no clean-up of any kind runs
    EXPECT_EQ(WaitExit(pi, 30000), 9u);
    ASSERT_EQ(ProviderEntries().size(), 2u);

    SetPresent("KPA", false);
    pi = Start(dir);
    HWND window = WaitWindow(30000);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(PumpUntil([] { return ProviderEntries().empty(); }, 20000));
    PostMessageW(window, UM_QUIT, 0, 0);
    EXPECT_EQ(WaitExit(pi, 30000), 0u);
}

// Another program's UM_OPENURL starts Internet Explorer of the Program Files folder on the web
// address of config.ini, or on the maker's when none is set. Program Files is where the
// registry says; a recorder stands in for the browser there.
TEST_F(ProcessTest, OpenUrlStartsTheBrowserOnTheConfiguredWebAddress) {
    const std::string programFiles = MakeTempDir("programs"),
                      browserDir = programFiles + "\\Internet Explorer",
                      recorded = programFiles + "\\command.txt";
    CreateDirectoryA(browserDir.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA((ProgramDir() + "\\command_recorder.exe").c_str(),
                          (browserDir + "\\iexplore.exe").c_str(), FALSE));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0,
                            KEY_QUERY_VALUE | KEY_SET_VALUE, &key),
              ERROR_SUCCESS);
    char saved[MAX_PATH] = "";
    DWORD savedSize = sizeof saved;
    RegQueryValueExA(key, "ProgramFilesDir", nullptr, nullptr, reinterpret_cast<BYTE*>(saved),
                     &savedSize);
    RegSetValueExA(key, "ProgramFilesDir", 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(programFiles.c_str()),
                   static_cast<DWORD>(programFiles.size() + 1));
    SetEnvironmentVariableA("KW_RECORDED_COMMAND", recorded.c_str());

    const struct {
        const char* config;
        const char* address;
    } cases[] = {{"[exe_config]\r\nurl=https://seal.example/kw?from=tray\r\n",
                  "https://seal.example/kw?from=tray"},
                 {nullptr, "https://www.keva.example/"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        DeleteFileA(recorded.c_str());
        std::string dir = Install(true, c.config);
        PROCESS_INFORMATION pi = Start(dir);
        HWND window = WaitWindow(30000);
        ASSERT_NE(window, nullptr);
        DWORD_PTR answer = 0;
        EXPECT_TRUE(SendMessageTimeoutW(window, UM_OPENURL, 0, 0, SMTO_NORMAL, 10000, &answer));
        EXPECT_EQ(answer, 1u);
        EXPECT_TRUE(PumpUntil([&] { return !ReadText(recorded).empty(); }, 20000));
        EXPECT_EQ(ReadText(recorded), "\"" + browserDir + "\\iexplore.exe\" \"" + c.address + "\"");
        PostMessageW(window, UM_QUIT, 0, 0);
        EXPECT_EQ(WaitExit(pi, 30000), 0u);
    }
    SetEnvironmentVariableA("KW_RECORDED_COMMAND", nullptr);
    RegSetValueExA(key, "ProgramFilesDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(saved),
                   static_cast<DWORD>(strlen(saved) + 1));
    RegCloseKey(key);
}

// Modules named like those Keywarden loads (the device library, the hot-key shield, the trace
// library, system modules) planted in its current folder and in a folder on PATH: none is loaded,
// not even while the PIN screen is up, where the shield is looked for. The device library and a
// shield installed beside Keywarden are found and used.
TEST_F(ProcessTest, LoadsModulesOnlyFromItsOwnFolderAndTheSystemFolder) {
    SetPresent("KPA", true);
    const std::string plants = MakeTempDir("plants"), cwd = plants + "\\cwd",
                      onPath = plants + "\\path", markers = plants + "\\markers";
    for (const std::string& d : {cwd, onPath, markers}) CreateDirectoryA(d.c_str(), nullptr);
    const std::string planted = ProgramDir() + "\\planted_module.dll";
    for (const char* name : {"ShieldHotKey.dll", "KEVA_QMB4410_LIB.dll", "RZLog.dll",
                             "SCHANNEL.DLL", "wininet.DLL", "cryptui.dll"}) {
        ASSERT_TRUE(CopyFileA(planted.c_str(), (cwd + "\\" + name).c_str(), FALSE));
        ASSERT_TRUE(CopyFileA(planted.c_str(), (onPath + "\\" + name).c_str(), FALSE));
    }
    char oldPath[32768] = "";
    GetEnvironmentVariableA("PATH", oldPath, sizeof oldPath);
    SetEnvironmentVariableA("PATH", (onPath + ";" + oldPath).c_str());
    SetEnvironmentVariableA("KIT_PLANT_MARKERS", markers.c_str());

    for (bool shieldBeside : {false, true}) {
        SCOPED_TRACE(shieldBeside ? "shield beside Keywarden" : "no shield installed");
        std::string dir = Install(true, "[exe_config]\r\nloglevel=4\r\n");
        // Beside Keywarden the shield is the vendor's: its marker shows it was found there.
        if (shieldBeside) {
            ASSERT_TRUE(CopyFileA(planted.c_str(), (dir + "\\ShieldHotKey.dll").c_str(), FALSE));
        }
        PROCESS_INFORMATION pi = Start(dir, "", cwd);
        HWND window = WaitWindow(30000);
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(PumpUntil([] { return ProviderEntries().size() == 2; }, 20000));
        PostMessageW(window, WM_COMMAND, IDC_MODIFY_PIN, 0);
        HWND host = WaitDialog(window, 10000);
        ASSERT_NE(host, nullptr);
        PumpUntil([] { return false; }, 500);  // the PIN dialog opens over the dimmed screen
        PostMessageW(host, WM_COMMAND, IDCANCEL, 0);
        PostMessageW(window, UM_QUIT, 0, 0);
        EXPECT_EQ(WaitExit(pi, 30000), 0u);
        std::vector<std::string> expected;
        if (shieldBeside)
            expected.push_back(dir.substr(dir.find_last_of('\\') + 1) + "_ShieldHotKey.dll");
        EXPECT_EQ(Markers(markers), expected);
        for (const std::string& m : Markers(markers)) DeleteFileA((markers + "\\" + m).c_str());
    }

    // The control: a bare name in the standard search order reaches both folders. (Names the
    // test's own folder lacks: that folder comes first and holds the devkit's modules.)
    ASSERT_TRUE(CopyFileA(planted.c_str(), (cwd + "\\planted_here.dll").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(planted.c_str(), (onPath + "\\planted_on_path.dll").c_str(), FALSE));
    char oldDir[MAX_PATH] = "";
    GetCurrentDirectoryA(MAX_PATH, oldDir);
    SetCurrentDirectoryA(cwd.c_str());
    EXPECT_NE(LoadLibraryA("planted_here.dll"), nullptr);
    EXPECT_NE(LoadLibraryA("planted_on_path.dll"), nullptr);
    SetCurrentDirectoryA(oldDir);
    SetEnvironmentVariableA("PATH", oldPath);
    EXPECT_EQ(Markers(markers),
              (std::vector<std::string>{"cwd_planted_here.dll", "path_planted_on_path.dll"}));
}
