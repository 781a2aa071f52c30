// Helpers shared by Keywarden's tests: the software keys' presence, the real personal store,
// a message pump for the thread that owns the main window, temporary folders and log files.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace kwtest {

// Plugs a software key in or pulls it (the store's presence flag only; no notification).
void SetPresent(const std::string& serial, bool present);
void PullAll();
// The device name the library reports for a serial.
std::string DeviceName(const std::string& serial, unsigned port = 1);

// Certificates in CurrentUser\My bound to the key provider.
struct StoreEntry {
    std::wstring subject;
    std::wstring container;
    std::wstring provider;
    DWORD keySpec = 0;
    DWORD provType = 0;
};
std::vector<StoreEntry> ProviderEntries();
// Every certificate in CurrentUser\My (subjects).
std::vector<std::wstring> StoreSubjects();
bool StoreHasSubject(const std::wstring& subject);

// Runs the thread's messages until the predicate holds or the time is up; each posted message
// is shown to the observer before it is dispatched.
// Sees each message before it is dispatched; it may turn a message into WM_NULL to keep it from
// its window.
using Observer = std::function<void(MSG&)>;
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs,
               const Observer& observe = nullptr);
void PumpFor(DWORD ms, const Observer& observe = nullptr);
// Dispatches what waits in the thread's queue now; true when there was anything.
bool PumpPending(const Observer& observe = nullptr);

// Sends the system's device-interface notification for a name to a window (HID class).
LRESULT SendDeviceChange(HWND window, WPARAM event, const std::string& name);
// Plugs a software key in / pulls it and tells the window, as the system would.
void PlugIn(HWND window, const std::string& serial, unsigned port = 1);
void PullOut(HWND window, const std::string& serial, unsigned port = 1);

// Plugs a key in and pulls it rounds times, telling the window each time as the system would,
// with short random pauses (and, when asked, a refresh request now and then); a key that stays
// ends plugged in.
void PlugAndPull(HWND window, const std::string& serial, unsigned seed, int rounds, bool refreshes,
                 bool stays);

std::string MakeTempDir(const char* tag);
std::string ReadText(const std::string& path);
std::vector<std::string> Lines(const std::string& text);
// All lines of the log files "<prefix>_*.log".
std::vector<std::string> LogLines(const std::string& prefix);
// The folder of the running test program.
std::string ProgramDir();
// Narrow text in the system code page from UTF-8 (log texts are in the system code page).
std::string Ansi(const char* utf8);
bool Contains(const std::vector<std::string>& lines, const std::string& part);
int Count(const std::vector<std::string>& lines, const std::string& part);

}  // namespace kwtest
