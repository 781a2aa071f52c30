// Keywarden's window while keys come and go: the notice balloon's cut, re-reads for the buttons,
// pulls, inserts and storms of them while a dialog is open.
#include "ui_support.h"

using namespace uitest;

TEST(NoticeBalloon, KeepsWholeLinesAndAlwaysTheClosingSentence) {
    wchar_t out[32];
    FitNoticeToBalloon(L"line one\nline two\nplease renew", out, 32);
    EXPECT_STREQ(out, L"line one\nline two\nplease renew");
    // 30 characters and the terminator: the second line does not fit whole.
    FitNoticeToBalloon(L"0123456789\nabcdefghijkl\nplease renew", out, 32);
    EXPECT_STREQ(out, L"0123456789\nplease renew");
    FitNoticeToBalloon(L"0123456789abcdefghijklmnopq\nplease renew", out, 32);
    EXPECT_STREQ(out, L"please renew");
    FitNoticeToBalloon(L"a\n0123456789012345678901234567890123456789", out, 32);
    EXPECT_EQ(wcslen(out), 31u);
    FitNoticeToBalloon(nullptr, out, 32);
    EXPECT_STREQ(out, L"");
}

// ---- a key's objects, the list and the open dialogs ------------------------------------------

// The certificate viewer is a property sheet: neither a text, a label nor a PIN dialog.
bool IsViewer(HWND d) { return !IsTextDlg(d) && !IsLabelDlg(d) && !IsPinDlg(d); }

TEST_F(UiTest, ReReadingButtonsLeaveTheCertificateItemsWorking) {
    Command(ID_LANG_EN);
    Insert("UA");
    const std::set<std::wstring> uaCertificates = Registered();
    ASSERT_EQ(uaCertificates.size(), 4u);
    // Each button that re-reads the key, then the certificate item's button and double-click.
    const std::vector<std::pair<int, std::vector<Step>>> rereads = {
        {IDC_MODIFY_PIN, {{IsPinDlg, [](HWND d) { Click(d, IDCANCEL); }}}},
        {IDC_MODIFY_LABEL, {{IsLabelDlg, [](HWND d) { Click(d, IDCANCEL); }}}},
        {IDC_VIEW_DEVINFO, {{IsTextDlg, [](HWND d) { Click(d, IDOK); }}}},
    };
    for (const auto& reread : rereads) {
        SCOPED_TRACE(reread.first);
        ASSERT_EQ(Roots().size(), 1u);
        Select(Device("UA"));
        RunCommandWithSteps(reread.first, reread.second);
        // The tree shows the key's objects as they are now, and the key stays selected.
        auto roots = Roots();
        ASSERT_EQ(roots.size(), 1u);
        EXPECT_EQ(Selected(), roots[0]);
        EXPECT_TRUE(Enabled(IDC_MODIFY_PIN));
        EXPECT_FALSE(Enabled(IDC_VIEW_CERT));
        auto certs = Children(roots[0]);
        ASSERT_EQ(certs.size(), 4u);
        EXPECT_EQ(Registered(), uaCertificates);

        SendMessageW(Tree(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(certs[1]));
        EXPECT_TRUE(Enabled(IDC_VIEW_CERT));
        EXPECT_FALSE(Enabled(IDC_MODIFY_PIN));
        EXPECT_FALSE(Enabled(IDC_MODIFY_LABEL));
        int viewers = 0;
        auto closeViewer = [&](HWND d) {
            ++viewers;
            PostMessageW(d, WM_CLOSE, 0, 0);
        };
        RunCommandWithSteps(IDC_VIEW_CERT, {{IsViewer, closeViewer}});
        ArmSteps({{IsViewer, closeViewer}});
        DoubleClick(certs[1]);
        EXPECT_EQ(g_next, 1u);
        EXPECT_EQ(viewers, 2);
        EXPECT_EQ(Selected(), certs[1]);
        EXPECT_TRUE(Enabled(IDC_VIEW_CERT));
        EXPECT_FALSE(Enabled(IDC_MODIFY_LABEL));
    }
    Pull("UA");
    WaitIdle();
    EXPECT_TRUE(Registered().empty());
}

TEST_F(UiTest, PullWhileAnotherKeysDialogIsOpenTakesItsCertificatesAtOnce) {
    Insert("UB");
    Insert("UA");
    ASSERT_TRUE(HasCertificatesOf(L"UB"));
    Select(Device("UA"));
    HWND version = nullptr;
    DWORD pulled = 0, gone = 0;
    RunCommandWithSteps(IDC_VIEW_DEVINFO,
                        {{IsTextDlg,
                          [&](HWND d) {
                              version = d;
                              Pull("UB");
                              pulled = GetTickCount();
                          }},
                         // The worker takes the certificates out of the store, then rebuilds the
                         // tree: between the two this thread may look (it did, 1 run in 6 on a
                         // loaded machine), so both are awaited.
                         {[&](HWND d) {
                              return d == version &&
                                     ((!HasCertificatesOf(L"UB") && Roots().size() == 1) ||
                                      GetTickCount() - pulled > 3000);
                          },
                          [&](HWND d) {
                              gone = GetTickCount() - pulled;
                              EXPECT_TRUE(IsWindowVisible(d));  // UA's dialog stays
                              EXPECT_EQ(Roots().size(), 1u);    // UB has left the tree as well
                              EXPECT_TRUE(HasCertificatesOf(L"UA"));
                              Click(d, IDOK);
                          }}});
    EXPECT_LT(gone, 1000u) << "UB's certificates stayed " << gone << " ms";
    WaitIdle();

    // Pulling the key whose dialog is open closes it, and its certificates go as quickly
    // (watched from another thread: this one is busy with the dialog).
    Select(Device("UA"));
    std::thread watch;
    std::atomic<DWORD> emptyAfter{~0u};
    RunCommandWithSteps(IDC_VIEW_DEVINFO, {{IsTextDlg, [&](HWND) {
                                                Pull("UA");
                                                watch = std::thread([&, start = GetTickCount()] {
                                                    while (GetTickCount() - start < 5000) {
                                                        if (Registered().empty()) {
                                                            emptyAfter = GetTickCount() - start;
                                                            return;
                                                        }
                                                        Sleep(10);
                                                    }
                                                });
                                            }}});
    WaitIdle();
    watch.join();
    EXPECT_LT(emptyAfter.load(), 1000u);
    EXPECT_TRUE(dlg_->Devices().Snapshot().empty());
}

TEST_F(UiTest, InsertWhileADialogIsOpenRegistersAtOnce) {
    Insert("UA");
    Select(Device("UA"));
    DWORD inserted = 0, seen = 0;
    RunCommandWithSteps(IDC_MODIFY_LABEL,
                        {{IsLabelDlg,
                          [&](HWND) {
                              PlugIn(dlg_->Handle(), "UB");
                              inserted = GetTickCount();
                          }},
                         {[&](HWND d) {
                              return IsLabelDlg(d) &&
                                     (HasCertificatesOf(L"UB") || GetTickCount() - inserted > 3000);
                          },
                          [&](HWND d) {
                              seen = GetTickCount() - inserted;
                              EXPECT_EQ(Roots().size(), 2u);
                              Click(d, IDCANCEL);
                          }}});
    EXPECT_LT(seen, 1000u) << "UB's certificates came after " << seen << " ms";
    WaitIdle();
    EXPECT_EQ(dlg_->Devices().Snapshot().size(), 2u);
}

namespace {
// Handles are given out lowest free slot first: leaked ones push the next handle up.
uintptr_t LowestFreeHandle() {
    HANDLE h = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    CloseHandle(h);
    return reinterpret_cast<uintptr_t>(h);
}
}  // namespace

TEST_F(UiTest, StormOfInsertsPullsAndRefreshesWhileADialogIsOpen) {
    Insert("KS1");  // every path once before the handles are counted
    Pull("KS1");
    WaitIdle();
    const uintptr_t handlesBefore = LowestFreeHandle();
    Insert("UB");
    Select(Device("UB"));
    const char* keys[] = {"KS1", "KS2", "KS3", "KS4"};
    std::atomic<int> finished{0};
    std::vector<std::thread> threads;
    HWND hwnd = dlg_->Handle();
    HWND version = nullptr;
    bool checked = false;
    auto storm = [&](HWND d) {
        version = d;
        for (int k = 0; k < 4; ++k) {
            threads.emplace_back([&, k] {
                // 4 keys x 50 = 200 inserts and 200 pulls; KS1 and KS3 stay plugged in.
                PlugAndPull(hwnd, keys[k], 4321 + k, 50, true, k % 2 == 0);
                ++finished;
            });
        }
    };
    ArmSteps({{IsTextDlg, storm},
              {[&](HWND d) { return d == version && finished.load() == 4; },
               [&](HWND d) {
                   // Everything settles while the dialog stays open.
                   dlg_->Devices().WaitForWorkers();
                   std::set<std::string> listed;
                   for (const DevicePtr& k : dlg_->Devices().Snapshot()) listed.insert(k->serial);
                   EXPECT_EQ(listed, (std::set<std::string>{"UB", "KS1", "KS3"}));
                   EXPECT_EQ(Registered(),
                             (std::set<std::wstring>{L"RSA Exch UB #1", L"RSA Sign UB #1",
                                                     L"RSA Exch KS1 #1", L"RSA Sign KS1 #1",
                                                     L"RSA Exch KS3 #1", L"RSA Sign KS3 #1"}));
                   // The tree holds the listed keys in the list's order, each with its
                   // certificates (SM2 ones too).
                   auto roots = Roots();
                   auto keys = dlg_->Devices().Snapshot();
                   ASSERT_EQ(roots.size(), keys.size());
                   for (size_t i = 0; i < keys.size(); ++i) {
                       wchar_t text[260];
                       EXPECT_EQ(reinterpret_cast<CItemObj*>(Item(roots[i], text).lParam),
                                 static_cast<CItemObj*>(keys[i].get()));
                       EXPECT_EQ(Children(roots[i]).size(),
                                 std::string(keys[i]->serial) == "UB" ? 2u : 4u)
                           << keys[i]->serial;
                   }
                   EXPECT_TRUE(IsWindowVisible(d));
                   checked = true;
                   Click(d, IDOK);
               }}},
             120000);
    Command(IDC_VIEW_DEVINFO);
    for (auto& t : threads) t.join();
    EXPECT_TRUE(checked);
    WaitIdle();
    Pull("KS1");
    Pull("KS3");
    Pull("UB");
    WaitIdle();
    EXPECT_TRUE(Registered().empty());
    const uintptr_t handlesAfter = LowestFreeHandle();
    EXPECT_LE(handlesAfter, handlesBefore + 4 * 4)
        << "before " << handlesBefore << " after " << handlesAfter;
}
