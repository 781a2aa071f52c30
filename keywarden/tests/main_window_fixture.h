// The fixture of the suites that drive Keywarden's main window against the software keys: every
// key pulled and the key provider's certificates swept first, the log in a folder of the test's
// own, the window created in a given language; every key pulled again at the end.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "items.h"
#include "log.h"
#include "main_window.h"
#include "resources.h"
#include "support.h"

namespace kwtest {

class MainWindowTest : public ::testing::Test {
  protected:
    // Call from SetUp through ASSERT_NO_FATAL_FAILURE; `tag` names the log folder.
    void OpenWindow(const char* tag, int language) {
        PullAll();
        SweepProviderCertificates();
        logDir_ = MakeTempDir(tag);
        LogInit(4, "CLIENT", (logDir_ + "\\KEVA_QMB4410_Client").c_str());
        ASSERT_TRUE(RegisterMainWindowClass(GetModuleHandleW(nullptr)));
        SetLanguageChoice(0);  // each test starts in the system's language
        ApplyLanguage(language);
        dlg_ = new CMainDlg();
        ASSERT_NE(dlg_->Create(GetModuleHandleW(nullptr)), nullptr);
    }
    void TearDown() override {
        delete dlg_;
        dlg_ = nullptr;
        PullAll();
    }

    // Until no worker runs and nothing they posted waits in the queue.
    void WaitIdle() {
        do dlg_->Devices().WaitForWorkers();
        while (PumpPending());
    }
    void Insert(const std::string& serial) {
        PlugIn(dlg_->Handle(), serial);
        WaitIdle();
    }
    DevicePtr Device(const std::string& serial) {
        for (const DevicePtr& d : dlg_->Devices().Snapshot())
            if (serial == d->serial) return d;
        return nullptr;
    }

    std::string logDir_;
    CMainDlg* dlg_ = nullptr;
};

}  // namespace kwtest
