// The program without a mouse: a user reaches every command of the library
// window by keys alone, from the tray icon to a delivered issue opened, with
// real key input going through the program's own message loop.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <chrono>
#include <functional>
#include <initializer_list>

#include "PublisherFixture.h"
#include "app/StartUp.h"
#include "base/ModCommon.h"
#include "dialog/frmmess.h"
#include "library/frmmain.h"
#include "support/gui.h"
#include "support/keyboard.h"
#include "tray/frmtray.h"
#include "work/Work.h"

using namespace ModCommon;

namespace {

constexpr int kKeyMs = 5000;    // until a key's effect shows
constexpr int kWorkMs = 60000;  // until a check or a delivery has ended
constexpr char kMagazine[] = "Alpine Boating";
constexpr char kIssueFile[] = "Winter Issue_AB_1.pdf";

struct ByKeyboard : testing::Test {
    ScratchProgramFolder folder;
    frmtray* tray = nullptr;
    frmmain* w = nullptr;
    void SetUp() override {
        StartUp::createLibraryFolders();
        heart::useTheSamplePublisher();
        heart::writeServerCatalogue("Winter Issue_AB_1.f#;Spring Issue_CQ_1.f#;");
        tray = &frmtray::instance();
        w = &frmmain::instance();
        w->clearIssues();
        w->buildLibraryTree();
        ShowWindow(w->hwnd(), SW_HIDE);
        frmmess::unload();
        Work::isConnected = false;
    }
    void TearDown() override {
        frmmess::unload();
        ShowWindow(w->hwnd(), SW_HIDE);
        heart::writeServerCatalogue(
            "Winter Issue_AB_1.f#;Spring Issue_CQ_1.f#;Summer Issue_HT_1.f#;Autumn Issue_AB_2.f#;");
    }
    // Presses the keys and runs the program until their effect shows.
    static bool press(std::initializer_list<WORD> keys, const std::function<bool()>& effect, int ms = kKeyMs) {
        return pressKeys(keys) && loopUntil(effect, ms);
    }
    static std::function<bool()> focusOn(HWND h) {
        return [h] { return GetFocus() == h; };
    }
    static int selectedRow(HWND list) { return ListView_GetNextItem(list, -1, LVNI_SELECTED); }
    static bool dialogSays(const std::string& sText) {
        return frmmess::exists() && frmmess::instance().visible() && frmmess::instance().message() == sText;
    }
    static std::string read(const std::string& sPath) {
        std::string text;
        fileSystem.ReadAll(sPath, text);
        return text;
    }
};

}  // namespace

TEST_F(ByKeyboard, FromTheTrayIconToEveryLibraryCommand) {
    MouseWatch mouse(tray->hwnd(), frmtray::callbackMessage);
    PromptRecorder prompt(IDNO);

    // The icon chosen by keyboard (Win+B, then Enter): the shell's callback
    // opens the library with the keys on the issue list.
    PostMessageA(tray->hwnd(), frmtray::callbackMessage, 0, frmtray::notifyKeySelect);
    ASSERT_TRUE(loopUntil([&] { return w->visible() && GetForegroundWindow() == w->hwnd() && GetFocus() == w->lv; }));

    // F5 checks; Escape closes the announcement and gives the list its keys back.
    ASSERT_TRUE(press({VK_F5}, [] {
        return !Work::busy() && dialogSays("2 new magazines are available.\n\nWhat would you like to do?");
    }, kWorkMs));
    ASSERT_EQ(w->issueCount(), 2);
    ASSERT_TRUE(press({VK_ESCAPE}, [&] { return !frmmess::exists() && GetFocus() == w->lv; }));

    // Both come ticked: Space unticks the first, Ctrl+A ticks both, and the
    // second is left out.
    ASSERT_TRUE(press({VK_HOME}, [&] { return selectedRow(w->lv) == 0; }));
    ASSERT_TRUE(press({VK_SPACE}, [&] { return w->countTicked() == 1; }));
    ASSERT_TRUE(press({VK_CONTROL, 'A'}, [&] { return w->countTicked() == 2; }));
    ASSERT_TRUE(press({VK_DOWN}, [&] { return selectedRow(w->lv) == 1; }));
    ASSERT_TRUE(press({VK_SPACE}, [&] { return w->countTicked() == 1; }));

    // Ctrl+D offers it with the keys on Deliver. The delivery type goes by
    // arrows (BitTorrent asks about its software: no), Tab comes back to
    // Deliver, and Enter delivers.
    ASSERT_TRUE(press({VK_CONTROL, 'D'}, [] {
        return dialogSays("Your selection is ready for delivery.\n\nWhat would you like to do?") &&
               GetFocus() == frmmess::instance().button(0);
    }));
    frmmess& m = frmmess::instance();
    ASSERT_TRUE(press({VK_SHIFT, VK_TAB}, [&] { return GetFocus() != m.button(0); }));
    ASSERT_TRUE(press({VK_DOWN}, [&] { return m.optionSelected(1); }));
    EXPECT_NE(prompt.lastText.find("BitTorrent software"), std::string::npos) << prompt.lastText;
    ASSERT_TRUE(press({VK_UP}, [&] { return m.optionSelected(0); }));
    ASSERT_TRUE(press({VK_TAB}, focusOn(m.button(0))));
    ASSERT_TRUE(press({VK_RETURN}, [] { return !Work::busy() && dialogSays("Delivery complete."); }, kWorkMs));
    const std::string delivered = read(folder.path() + "\\My Magazines\\" + kMagazine + "\\" + kIssueFile);
    ASSERT_FALSE(delivered.empty());
    EXPECT_EQ(delivered, read(heart::pubFolder() + "\\" + kMagazine + "\\" + kIssueFile));
    EXPECT_EQ(w->issueCount(), 1);
    // Enter is the dialog's OK, and the library window has the keys again.
    ASSERT_TRUE(press({VK_RETURN}, [&] { return !frmmess::exists() && GetFocus() == w->lv; }));

    // Tab to the tree; Home, Right and Down reach the magazine and show its issue.
    ASSERT_TRUE(press({VK_TAB}, focusOn(w->tv)));
    const HTREEITEM root = TreeView_GetRoot(w->tv);
    ASSERT_TRUE(press({VK_HOME}, [&] { return TreeView_GetSelection(w->tv) == root; }));
    ASSERT_TRUE(press({VK_RIGHT}, [&] { return TreeView_GetItemState(w->tv, root, TVIS_EXPANDED) != 0; }));
    ASSERT_TRUE(press({VK_DOWN}, [&] { return ListView_GetItemCount(w->lvl) == 1; }));
    EXPECT_EQ(w->nodeFullPath(TreeView_GetSelection(w->tv)), std::string("My Magazines\\") + kMagazine);

    // Tab to the file list: Down and Enter open the issue, and F1 the guide,
    // with the program the system has for them.
    ASSERT_TRUE(press({VK_TAB}, focusOn(w->lvl)));
    ASSERT_TRUE(press({VK_DOWN}, [&] { return w->selectedLocation == kIssueFile; }));
    fileSystem.Append(folder.path() + "\\Quillora Help.pdf", "%PDF-1.4 the guide");
    {
        OpenedFiles opened(".pdf", folder.path() + "\\opened");
        ASSERT_TRUE(press({VK_RETURN}, [&] { return opened.content(kIssueFile) == delivered; }, kWorkMs));
        ASSERT_TRUE(press({VK_F1}, [&] { return opened.content("Quillora Help.pdf") == "%PDF-1.4 the guide"; },
                          kWorkMs));
    }

    // Back on the issue list, Shift+F10 opens its menu, and Escape closes it.
    ASSERT_TRUE(press({VK_TAB}, focusOn(w->lv)));
    ASSERT_TRUE(press({VK_HOME}, [&] { return selectedRow(w->lv) == 0; }));
    bool menuShown = false;
    const auto menuDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kKeyMs);
    runWhen([&] { return visibleMenu() || std::chrono::steady_clock::now() > menuDeadline; },
            [&] {
                menuShown = visibleMenu() != nullptr;
                pressKeys({VK_ESCAPE});
            });
    ASSERT_TRUE(press({VK_SHIFT, VK_F10}, [&] { return menuShown && !visibleMenu(); }, 2 * kKeyMs));
    EXPECT_TRUE(w->visible());

    // Space ticks the issue left; Delete asks to remove it, and No keeps it.
    ASSERT_TRUE(press({VK_SPACE}, [&] { return w->countTicked() == 1; }));
    const int asked = prompt.count;
    ASSERT_TRUE(press({VK_DELETE}, [&] { return prompt.count > asked; }));
    EXPECT_EQ(prompt.lastText, "This will permanently remove your selected item.\n\nAre you sure you want to do this?");
    EXPECT_EQ(w->issueCount(), 1);

    // Escape: the window goes, as its Close button makes it go.
    ASSERT_TRUE(press({VK_ESCAPE}, [&] { return !w->visible(); }));
    // Not a press of a mouse button; the pointer stayed where it was (the
    // system still tells the windows that appear under it with moves).
    EXPECT_EQ(mouse.buttons, 0) << mouse.firstButton;
    EXPECT_FALSE(mouse.pointerMoved());
}
