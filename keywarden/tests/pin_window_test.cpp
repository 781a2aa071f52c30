// The PIN change from the main window: its button, a pulled key, the factory-PIN prompt.
#include "pin_support.h"

using namespace pintest;

// ---- the PIN change from the main window ------------------------------------------------------

namespace {

class MainWindowPinTest : public PinChangeTest {
  protected:
    void SelectKey(const std::string& serial) {
        HWND tree = dlg_->Tree().Window();
        for (auto item =
                 reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
             item; item = reinterpret_cast<HTREEITEM>(SendMessageW(
                       tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)))) {
            CItemObj* dev = dlg_->Tree().ItemObject(item);
            if (dev && dev->GetItemType() == ITEM_DEVICE &&
                serial == static_cast<CDevObject*>(dev)->serial)
                SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
        }
    }
    void Command(int id) { SendMessageW(dlg_->Handle(), WM_COMMAND, MAKEWPARAM(id, 0), 0); }
};

}  // namespace

// Key PE is changed by this test only, so its final PIN is known (for a check through Sealgate).
TEST_F(MainWindowPinTest, TheChangePinButtonRunsTheWholeChangeAndShowsTheBalloon) {
    SetPin("PE", kChangedPin, false);
    Insert("PE");
    SelectKey("PE");
    Play([&] { FillIn(kChangedPin, "Kw7pQ2x9", "Kw7pQ2x9"); }, [&] { Command(IDC_MODIFY_PIN); });
    PumpFor(200);
    EXPECT_TRUE(PinIs("PE", "Kw7pQ2x9"));
    EXPECT_EQ(Balloon(), Str(IDS_PIN_CHANGED));
}

TEST_F(MainWindowPinTest, AKeyWithoutTriesOpensNoPinDialog) {
    SetPin("PB", kChangedPin, false, 0);
    Insert("PB");
    SelectKey("PB");
    std::wstring message;
    bool pinDialogSeen = false;
    Play(
        [&] {
            HWND msg = WaitDialog(IDC_TEXT);
            pinDialogSeen = DialogWith(IDC_OLD_PIN) != nullptr;
            message = msg ? Text(GetDlgItem(msg, IDC_TEXT)) : L"";
            Answer(true);
        },
        [&] { Command(IDC_MODIFY_PIN); });
    PumpFor(200);
    EXPECT_EQ(message, Str(IDS_PIN_LOCKED));
    EXPECT_FALSE(pinDialogSeen);
    EXPECT_EQ(Balloon(), Str(IDS_PIN_LOCKED));
}

TEST_F(MainWindowPinTest, PullingTheKeyClosesTheDialogAndTheDimmingWithoutSuccess) {
    SetPin("PC", kChangedPin, false);
    Insert("PC");
    SelectKey("PC");
    bool closed = false;
    Play(
        [&] {
            HWND pin = WaitDialog(IDC_OLD_PIN);
            WaitFocus(pin, IDC_OLD_PIN);
            Type("1234");
            PullOut(dlg_->Handle(), "PC");
            closed = WaitFor([&] { return !IsWindow(pin) && !DialogWith(IDOK); });
        },
        [&] { Command(IDC_MODIFY_PIN); });
    WaitIdle();
    EXPECT_TRUE(closed);
    EXPECT_NE(Balloon(), Str(IDS_PIN_CHANGED));
    EXPECT_EQ(Device("PC"), nullptr);
    EXPECT_TRUE(PinIs("PC", kChangedPin));
}

TEST_F(MainWindowPinTest, TheFactoryPinPromptComesOnInsertAndLeadsToTheDialog) {
    SetPin("PA", kFactoryPin, true);
    std::wstring caption, text;
    bool pinDialog = false;
    Play(
        [&] {
            HWND prompt = WaitDialog(IDC_TEXT);
            if (!prompt) return;
            caption = Text(prompt);
            text = Text(GetDlgItem(prompt, IDC_TEXT));
            Answer(true);
            HWND pin = WaitDialog(IDC_OLD_PIN);
            pinDialog = pin != nullptr;
            Press(VK_ESCAPE);
        },
        [&] {
            PlugIn(dlg_->Handle(), "PA");
            // The prompt comes as a posted message once the key is read.
            PumpUntil([&] { return DialogWith(IDC_TEXT) != nullptr || pinDialog; }, 20000);
            PumpFor(3000);
        });
    EXPECT_EQ(caption, L"PA");
    EXPECT_EQ(text, Str(IDS_DEFAULT_PIN_PROMPT));
    EXPECT_TRUE(pinDialog);
}

TEST_F(MainWindowPinTest, NoPromptOnASilentRefreshOrALanguageSwitchButOnARefresh) {
    SetPin("PA", kFactoryPin, true);
    SetPresent("PA", true);
    // Runs a command and answers Cancel to a prompt that comes within two seconds.
    auto prompted = [&](int command) {
        bool seen = false;
        Play(
            [&] {
                if (WaitFor([] { return DialogWith(IDC_TEXT) != nullptr; }, 2500)) {
                    seen = true;
                    Answer(false);
                }
            },
            [&] {
                Command(command);
                WaitIdle();
                PumpFor(3000);
            });
        return seen;
    };
    EXPECT_FALSE(prompted(ID_SILENT_REFRESH));
    EXPECT_FALSE(prompted(ID_LANG_ZH_CN));
    EXPECT_TRUE(prompted(IDC_REFRESH));  // a refresh the user asked for prompts again
}
