// Time from a key's arrival notification until the key is in the device list with its
// certificates registered (a key with 8 RSA containers, 16 certificates), and the time of a
// full rescan of 16 keys. Runs under Wine against the real window, store and device library.
#include <windows.h>
#include <benchmark/benchmark.h>
#include <dbt.h>

#include <string>
#include <vector>

#include "device_library.h"
#include "log.h"
#include "main_window.h"
#include "support.h"

using namespace kwtest;

namespace {

struct Session {
    Session() {
        std::string prefix = MakeTempDir("bench") + "\\KEVA_QMB4410_Client";
        LogInit(1, "CLIENT", prefix.c_str());
        ok = BindDeviceLibrary() == 0 && RegisterMainWindowClass(GetModuleHandleW(nullptr));
        PullAll();
        SweepProviderCertificates();
        if (!ok) return;
        dlg = new CMainDlg();
        ok = dlg->Create(GetModuleHandleW(nullptr)) != nullptr;
        WaitIdle();
    }
    ~Session() {
        delete dlg;
        PullAll();
        UnbindDeviceLibrary();
    }
    void WaitIdle() {
        dlg->Devices().WaitForWorkers();
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    bool ok = false;
    CMainDlg* dlg = nullptr;
};

Session& TheSession() {
    static Session s;
    return s;
}

void BM_ArrivalToRegistered_8Containers(benchmark::State& state) {
    Session& s = TheSession();
    if (!s.ok) {
        state.SkipWithError("no device library or window");
        return;
    }
    const std::string serial = "KB8";
    const std::string name = DeviceName(serial);
    for (auto _ : state) {
        state.PauseTiming();
        SetPresent(serial, true);
        state.ResumeTiming();
        SendDeviceChange(s.dlg->Handle(), DBT_DEVICEARRIVAL, name);
        s.WaitIdle();
        state.PauseTiming();
        if (s.dlg->Devices().Snapshot().size() != 1 || ProviderEntries().size() != 16) {
            state.SkipWithError("key not read completely");
            break;
        }
        SetPresent(serial, false);
        SendDeviceChange(s.dlg->Handle(), DBT_DEVICEREMOVECOMPLETE, name);
        s.WaitIdle();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ArrivalToRegistered_8Containers)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10)
    ->UseRealTime();

void BM_FullRescan_16Keys(benchmark::State& state) {
    Session& s = TheSession();
    if (!s.ok) {
        state.SkipWithError("no device library or window");
        return;
    }
    for (int i = 1; i <= 16; ++i) SetPresent((i < 10 ? "R0" : "R") + std::to_string(i), true);
    for (auto _ : state) {
        SendMessageW(s.dlg->Handle(), WM_COMMAND, IDC_REFRESH, 0);
        s.WaitIdle();
        if (s.dlg->Devices().Snapshot().size() != 16) {
            state.SkipWithError("not all keys listed");
            break;
        }
    }
    PullAll();
}
BENCHMARK(BM_FullRescan_16Keys)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
