// POSIX: Keywarden windows run under Wine. softkey-notify.sh (beside this program, or named by
// SOFTKEY_NOTIFY; "none" turns it off) runs softkey-notify.exe in the caller's Wine prefix, and
// does nothing when no Wine server runs there.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "softkey_host.h"

namespace softkey_host {

std::vector<std::string> utf8_arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

void notify_keywarden(bool arrival, const std::string& serial) {
    std::string script;
    if (const char* env = std::getenv("SOFTKEY_NOTIFY")) script = env;
    if (script.empty()) {
        std::error_code ec;
        auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
        if (ec) return;
        script = (self.parent_path() / "softkey-notify.sh").string();
    }
    if (script == "none" || access(script.c_str(), X_OK) != 0) return;
    const char* event = arrival ? "arrival" : "removal";
    char* args[] = {const_cast<char*>(script.c_str()), const_cast<char*>(event),
                    const_cast<char*>(serial.c_str()), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, script.c_str(), nullptr, nullptr, args, environ) != 0) {
        std::fprintf(stderr, "softkey: could not run %s\n", script.c_str());
        return;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::fprintf(stderr, "softkey: running Keywarden windows were not told (%s)\n", event);
}

}  // namespace softkey_host
