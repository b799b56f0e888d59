// The library window as the user sees it, saved as pictures for the guide and
// for review (build/<arch>/screenshots), and its pop-up menus read while they
// are open.
#include <gtest/gtest.h>

#include "support/gui.h"

#include <cstdlib>
#include <fstream>
#include <utility>
#include <vector>

#include "base/ModCommon.h"
#include "app/StartUp.h"
#include "library/frmmain.h"

using namespace ModCommon;
using namespace StartUp;

namespace {

void pumpFor(DWORD ms) {
    const DWORD until = GetTickCount() + ms;
    do {
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageA(&m);
        }
        Sleep(5);
    } while (static_cast<long>(until - GetTickCount()) > 0);
}

std::string shotFolder() {
    const char* bin = std::getenv("TOLV_BINARY_DIR");
    std::string folder = bin ? std::string("Z:") + bin + "\\screenshots" : "screenshots";
    for (char& c : folder)
        if (c == '/')
            c = '\\';
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

// Copies a rectangle of the screen into a 24-bit BMP file.
bool saveScreen(const RECT& r, const std::string& name) {
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, dib);
    BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    SelectObject(mem, old);
    const DWORD stride = ((w * 3 + 3) / 4) * 4;
    BITMAPFILEHEADER fh{};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
    fh.bfSize = fh.bfOffBits + stride * h;
    std::ofstream out(shotFolder() + "\\" + name + ".bmp", std::ios::binary);
    out.write(reinterpret_cast<const char*>(&fh), sizeof fh);
    out.write(reinterpret_cast<const char*>(&bi.bmiHeader), sizeof bi.bmiHeader);
    out.write(static_cast<const char*>(bits), stride * h);
    const bool ok = out.good();
    DeleteObject(dib);
    DeleteDC(mem);
    DeleteDC(screen);
    return ok;
}

RECT windowRect(HWND h) {
    RECT r{};
    GetWindowRect(h, &r);
    return r;
}

// While a pop-up menu is open: its item texts, a picture, then close it.
struct MenuProbe {
    std::vector<std::string> items;
    std::string shot;
    bool saved = false;
};
MenuProbe* probe = nullptr;

void CALLBACK readOpenMenu(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    HWND popup = FindWindowA("#32768", nullptr);
    if (popup && probe) {
        HMENU menu = reinterpret_cast<HMENU>(SendMessageA(popup, MN_GETHMENU, 0, 0));
        for (int i = 0; i < GetMenuItemCount(menu); ++i) {
            char text[64] = {};
            GetMenuStringA(menu, i, text, sizeof text, MF_BYPOSITION);
            probe->items.push_back(text);
        }
        RECT r = windowRect(frmmain::instance().hwnd());
        RECT m = windowRect(popup);
        UnionRect(&r, &r, &m);
        InflateRect(&r, 8, 8);
        probe->saved = saveScreen(r, probe->shot);
    }
    EndMenu();
}

std::vector<std::string> openAndRead(const std::string& shot, void (*open)()) {
    MenuProbe p;
    p.shot = shot;
    probe = &p;
    SetTimer(nullptr, 0, 400, readOpenMenu);
    open();
    pumpFor(100);
    probe = nullptr;
    EXPECT_TRUE(p.saved);
    return p.items;
}

void setClientSize(int w, int h) {
    HWND wnd = frmmain::instance().hwnd();
    RECT r{0, 0, w, h};
    AdjustWindowRectEx(&r, GetWindowLongA(wnd, GWL_STYLE), FALSE, GetWindowLongA(wnd, GWL_EXSTYLE));
    SetWindowPos(wnd, nullptr, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER);
}

// A program folder with a small library, so the pictures show one.
struct SampleLibrary {
    std::string saved, root;
    std::vector<std::string> files, folders;

    SampleLibrary() {
        char temp[MAX_PATH] = {};
        GetTempPathA(sizeof temp, temp);
        saved = programFolder();
        root = std::string(temp) + "quillora-screens";
        folders = {root,
                   root + "\\My Magazines",
                   root + "\\My Torrents",
                   root + "\\My Magazines\\Garden Monthly",
                   root + "\\My Magazines\\Sea & Sail",
                   root + "\\My Torrents\\Travel Notes"};
        for (const auto& f : folders) CreateDirectoryA(f.c_str(), nullptr);
        for (const char* name :
             {"Garden Monthly\\Autumn Bulbs_gm_10.pdf", "Garden Monthly\\First Frost_gm_11.pdf",
              "Sea & Sail\\Harbour Lights_ss_6.pdf"}) {
            files.push_back(root + "\\My Magazines\\" + name);
            std::ofstream(files.back()) << "%PDF-1.4\n";
        }
        setProgramFolder(root);
    }
    ~SampleLibrary() {
        setProgramFolder(saved);
        for (const auto& f : files) DeleteFileA(f.c_str());
        for (auto it = folders.rbegin(); it != folders.rend(); ++it) RemoveDirectoryA(it->c_str());
    }
};
SampleLibrary* sample = nullptr;

HTREEITEM findNode(HWND tv, HTREEITEM parent, const std::string& text) {
    for (HTREEITEM n = reinterpret_cast<HTREEITEM>(
             SendMessageA(tv, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(parent)));
         n; n = reinterpret_cast<HTREEITEM>(
                SendMessageA(tv, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(n)))) {
        char buf[MAX_PATH] = {};
        TVITEMA item{};
        item.mask = TVIF_TEXT;
        item.hItem = n;
        item.pszText = buf;
        item.cchTextMax = sizeof buf;
        SendMessageA(tv, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
        if (text == buf)
            return n;
    }
    return nullptr;
}

struct LibraryScreensTest : ::testing::Test {
    static void SetUpTestSuite() {
        sample = new SampleLibrary();
        frmmain& w = frmmain::instance();
        HTREEITEM mags = findNode(w.tv, TVI_ROOT, "My Magazines");
        HTREEITEM garden = mags ? findNode(w.tv, mags, "Garden Monthly") : nullptr;
        if (garden) {
            SendMessageA(w.tv, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(mags));
            SendMessageA(w.tv, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(garden));
            w.tv_NodeClick(garden);
        }
        w.addIssueEntry("1m1", "Winter Harvest", "12", "Garden Monthly", "4.2 MB", "Winter Harvest_gm_12.f#");
        w.addIssueEntry("1m2", "The Quiet Coast", "7", "Sea & Sail", "6.8 MB", "The Quiet Coast_ss_7.f#");
        w.addIssueEntry("1m3", "Letters from Lisbon", "31", "Travel Notes", "3.1 MB",
                        "Letters from Lisbon_tn_31.f#");
        w.setStatusPanel(1, "New");
        w.setStatusPanel(2, "3");
        w.open();
        pumpFor(300);
    }
    static void TearDownTestSuite() {
        frmmain::unload();
        delete std::exchange(sample, nullptr);
    }
};
using LibraryScreens = LibraryScreensTest;

}  // namespace

TEST_F(LibraryScreens, WindowAtFirstSizeAndEnlarged) {
    frmmain& w = frmmain::instance();
    ASSERT_TRUE(w.visible());
    EXPECT_EQ(SendMessageA(w.lvl, LVM_GETITEMCOUNT, 0, 0), 2);  // the sample folder's issues
    RECT r = windowRect(w.hwnd());
    InflateRect(&r, 8, 8);
    EXPECT_TRUE(saveScreen(r, "library-first"));
    setClientSize(900, 620);
    pumpFor(300);
    r = windowRect(w.hwnd());
    InflateRect(&r, 8, 8);
    EXPECT_TRUE(saveScreen(r, "library-enlarged"));
    setClientSize(580, 369);
    pumpFor(100);
}

TEST_F(LibraryScreens, HelpMenuOffersHelpUpdatesSettingsLogAndAbout) {
    frmmain& w = frmmain::instance();
    RECT tb = windowRect(w.tb);
    SetCursorPos(tb.left + 300, tb.top + 30);
    const auto items = openAndRead("menu-help", [] { frmmain::instance().tb_ButtonClick(frmmain::tbHelp); });
    finishWork();
    const std::vector<std::string> expected = {"&Read Help", "Manager Updates", "&Settings...", "Open &Log", "", "&About"};
    EXPECT_EQ(items, expected);
}

TEST_F(LibraryScreens, IssueListMenuOffersSelectDeliverRemove) {
    frmmain& w = frmmain::instance();
    RECT lv = windowRect(w.lv);
    SetCursorPos(lv.left + 120, lv.top + 40);
    const auto items = openAndRead("menu-issues", [] { frmmain::instance().lvmen_Popup(); });
    const std::vector<std::string> expected = {"Select All", "", "Deliver All Selected", "",
                                               "Remove All Selected"};
    EXPECT_EQ(items, expected);
}
