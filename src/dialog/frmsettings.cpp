#include "dialog/frmsettings.h"

#include <commctrl.h>
#include <knownfolders.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <memory>

#include "base/Controls.h"
#include "base/Dpi.h"
#include "base/Log.h"
#include "base/ModCommon.h"
#include "base/resource.h"
#include "settings/LogonStart.h"
#include "settings/UserSettings.h"
#include "text/Text.h"
#include "tray/frmtray.h"
#include "work/LibraryMove.h"
#include "work/Work.h"

using Controls::Place;

// Declared by the headers only for a newer shell than the program requires;
// every shell that has the folder picker has it.
extern "C" DECLSPEC_IMPORT HRESULT WINAPI SHCreateItemFromParsingName(PCWSTR pszPath, IBindCtx* pbc, REFIID riid,
                                                                      void** ppv);

namespace {

constexpr int kClientWidth = 6300, kClientHeight = 4380;  // twips
constexpr Place kStart{240, 240, 5820, 285};
constexpr Place kEveryLabel{240, 735, 2040, 240};
constexpr Place kEvery{2280, 690, 3780, 315};
constexpr int kEveryDropHeight = 1500;  // the combo box with its list dropped
constexpr Place kLibraryLabel{240, 1200, 5820, 240};
constexpr Place kLibrary{240, 1470, 5820, 315};
constexpr Place kChange{240, 1905, 1305, 375};
constexpr Place kDocuments{1650, 1905, 1605, 375};
constexpr Place kNote{240, 2400, 5820, 900};  // four lines: a failure names its file
constexpr Place kProgress{240, 3360, 5820, 225};
constexpr Place kOK{3360, 3765, 1305, 375};
constexpr Place kCancel{4755, 3765, 1305, 375};

constexpr int idStart = 101, idEvery = 102, idLibrary = 103, idChange = 104, idDocuments = 105;
constexpr const char* kEveryChoices[] = {"Once a day", "Every few hours", "Only when I ask"};

constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME;

frmsettings*& instancePtr() {
    static frmsettings* p = nullptr;
    return p;
}

// The platform's folder picker, opened at sStart; "" when the user cancels.
std::string pickFolder(HWND owner, const std::string& sStart) {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    std::string chosen;
    IFileOpenDialog* dialog = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                                   reinterpret_cast<void**>(&dialog)))) {
        DWORD options = 0;
        dialog->GetOptions(&options);
        dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
        dialog->SetTitle(L"Choose the folder for your library");
        IShellItem* start = nullptr;
        if (SUCCEEDED(SHCreateItemFromParsingName(Text::wide(sStart).c_str(), nullptr, IID_IShellItem,
                                                  reinterpret_cast<void**>(&start)))) {
            dialog->SetFolder(start);
            start->Release();
        }
        IShellItem* result = nullptr;
        if (SUCCEEDED(dialog->Show(owner)) && SUCCEEDED(dialog->GetResult(&result))) {
            PWSTR path = nullptr;
            if (SUCCEEDED(result->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
                chosen = Text::utf8(path);
                CoTaskMemFree(path);
            }
            result->Release();
        }
        dialog->Release();
    }
    if (SUCCEEDED(com))
        CoUninitialize();
    return chosen;
}

}  // namespace

frmsettings::frmsettings() = default;
frmsettings::~frmsettings() = default;

bool frmsettings::exists() { return instancePtr() && instancePtr()->hwnd_; }
frmsettings& frmsettings::instance() { return *instancePtr(); }

void frmsettings::open() {
    frmsettings*& p = instancePtr();
    if (!p)
        p = new frmsettings();
    if (!p->hwnd_) {
        p->create();
        p->load();
    }
    ShowWindow(p->hwnd_, SW_SHOW);
    SetForegroundWindow(p->hwnd_);
    BringWindowToTop(p->hwnd_);
}

void frmsettings::unload() {
    if (!exists())
        return;
    Work::cancelMove();
    instance().destroyWindow();
}

WNDCLASSEXA frmsettings::windowClass() { return Controls::dialogClass(className, IDI_MAIN); }

void frmsettings::create() {
    // Made on the primary monitor, so at the system's DPI, in the middle of
    // its work area unless a place was kept from last time.
    const int dpi = Dpi::ofSystem();
    RECT r{0, 0, Dpi::fromTwips(kClientWidth, dpi), Dpi::fromTwips(kClientHeight, dpi)};
    Dpi::adjustWindowRect(r, kStyle, kExStyle, dpi);
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int width = r.right - r.left, height = r.bottom - r.top;
    createWindow(kExStyle, "Quillora Settings", kStyle, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, width, height,
                 frmtray::exists() ? frmtray::instance().hwnd() : nullptr);
    font_ = Dpi::uiFont(dpi_);
    controlsDpi_ = dpi_;
    moving_ = false;
    HFONT f = font_.get();
    chkStart = Controls::make(f, dpi_, hwnd_, "BUTTON", "&Start Quillora when Windows starts",
                              WS_VISIBLE | WS_TABSTOP | WS_GROUP | BS_AUTOCHECKBOX, kStart, idStart);
    Controls::make(f, dpi_, hwnd_, "STATIC", "&Look for new issues:", WS_VISIBLE | WS_GROUP | SS_LEFT, kEveryLabel);
    cboEvery = Controls::make(f, dpi_, hwnd_, WC_COMBOBOXA, "", WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST,
                              {kEvery.left, kEvery.top, kEvery.width, kEveryDropHeight}, idEvery);
    for (const char* choice : kEveryChoices)
        SendMessageW(cboEvery, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Text::wide(choice).c_str()));
    Controls::make(f, dpi_, hwnd_, "STATIC", "Library &folder (it holds My Magazines and My Torrents):",
                   WS_VISIBLE | WS_GROUP | SS_LEFT, kLibraryLabel);
    txtLibrary = Controls::make(f, dpi_, hwnd_, "EDIT", "", WS_VISIBLE | WS_TABSTOP | ES_READONLY | ES_AUTOHSCROLL,
                                kLibrary, idLibrary, WS_EX_CLIENTEDGE);
    cmdChange = Controls::make(f, dpi_, hwnd_, "BUTTON", "&Change...", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
                               kChange, idChange);
    cmdDocuments = Controls::make(f, dpi_, hwnd_, "BUTTON", "Use &Documents", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
                                  kDocuments, idDocuments);
    lblNote = Controls::make(f, dpi_, hwnd_, "STATIC", "", WS_VISIBLE | SS_LEFT | SS_NOPREFIX, kNote);
    pb = Controls::make(f, dpi_, hwnd_, PROGRESS_CLASSA, "", 0, kProgress);
    SendMessageA(pb, PBM_SETRANGE32, 0, 1000);
    cmdOK = Controls::make(f, dpi_, hwnd_, "BUTTON", "OK", WS_VISIBLE | WS_TABSTOP | WS_GROUP | BS_DEFPUSHBUTTON, kOK,
                           IDOK);
    cmdCancel = Controls::make(f, dpi_, hwnd_, "BUTTON", "Cancel", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, kCancel,
                               IDCANCEL);

    // Where the user left it last time, and never smaller than designed.
    RECT now{};
    GetWindowRect(hwnd_, &now);
    UserSettings::windowPlace(placeSection)
        .LoadFormPosition(hwnd_, ModCommon::pixelsToTwipsX(now.right - now.left),
                          ModCommon::pixelsToTwipsY(now.bottom - now.top));
    focus_ = nullptr;
}

void frmsettings::load() {
    SendMessageA(chkStart, BM_SETCHECK, UserSettings::startWithWindows() ? BST_CHECKED : BST_UNCHECKED, 0);
    SendMessageA(cboEvery, CB_SETCURSEL, static_cast<WPARAM>(UserSettings::checkEvery()), 0);
    chosen_ = ModCommon::libraryRoot();
    Controls::setText(txtLibrary, chosen_);
    setNote("");
}

LRESULT frmsettings::onMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_COMMAND:
            if (HIWORD(wp) != BN_CLICKED)
                break;
            switch (LOWORD(wp)) {
                case IDOK: cmdOK_Click(); return 0;
                case IDCANCEL: cmdCancel_Click(); return 0;
                case idChange: cmdChange_Click(); return 0;
                case idDocuments: cmdDocuments_Click(); return 0;
            }
            break;
        case WM_CTLCOLORSTATIC:
            // The scheme's colours, so the text reads on a high-contrast one too.
            SetTextColor(reinterpret_cast<HDC>(wp), GetSysColor(COLOR_BTNTEXT));
            SetBkColor(reinterpret_cast<HDC>(wp), GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        case WM_CLOSE:
            cmdCancel_Click();
            return 0;
        case WM_NEXTDLGCTL:
            // The dialog keys ask this of a dialog's own procedure: Alt with
            // a label's letter goes to the control after the label.
            if (LOWORD(lp))
                SetFocus(reinterpret_cast<HWND>(wp));
            else
                SetFocus(GetNextDlgTabItem(hwnd_, GetFocus(), wp != 0));
            return 0;
        case WM_ACTIVATE:
            // The keyboard goes back where it was, or starts at the top.
            if (LOWORD(wp) == WA_INACTIVE) {
                HWND focus = GetFocus();
                focus_ = focus && IsChild(hwnd_, focus) ? focus : nullptr;
            } else {
                SetFocus(focus_ && IsWindowEnabled(focus_) ? focus_ : chkStart);
            }
            return 0;
        case WM_DPICHANGED: {
            AutoHfont old = std::move(font_);
            font_ = Dpi::uiFont(dpi_);
            Controls::rescale(hwnd_, controlsDpi_, dpi_, font_.get());
            // A combo box's window is its closed box: its list is made again.
            SetWindowPos(cboEvery, nullptr, 0, 0, px(kEvery.width), px(kEveryDropHeight),
                         SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
            controlsDpi_ = dpi_;
            takeSuggestedRect(lp);
            return 0;
        }
        case WM_DESTROY:
            if (!IsIconic(hwnd_))
                UserSettings::windowPlace(placeSection).SaveFormPosition(hwnd_);
            break;
    }
    return defaultProc(msg, wp, lp);
}

void frmsettings::setNote(const std::string& sText) { Controls::setText(lblNote, sText); }
std::string frmsettings::note() const { return Controls::text(lblNote); }

void frmsettings::chooseFolder(const std::string& sFolder) {
    if (sFolder.empty())
        return;
    chosen_ = sFolder;
    Controls::setText(txtLibrary, sFolder);
    setNote(LibraryMove::sameFolder(sFolder, ModCommon::libraryRoot()) ? ""
                                                          : "Your issues move to this folder when you press OK.");
}

std::string frmsettings::documentsFolder() {
    PWSTR path = nullptr;
    std::string folder;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, &path)))
        folder = Text::utf8(path);
    CoTaskMemFree(path);
    return folder;
}

void frmsettings::cmdChange_Click() {
    const std::string start = LibraryMove::sameFolder(chosen_, ModCommon::programFolder()) ? documentsFolder() : chosen_;
    chooseFolder(pickFolder(hwnd_, start));
}

void frmsettings::cmdDocuments_Click() { chooseFolder(documentsFolder()); }

void frmsettings::cmdOK_Click() {
    if (moving_)
        return;
    const bool start = SendMessageA(chkStart, BM_GETCHECK, 0, 0) == BST_CHECKED;
    if (start != UserSettings::startWithWindows())
        Log::line(start ? "settings: start with Windows" : "settings: do not start with Windows");
    UserSettings::setStartWithWindows(start);
    LogonStart::apply(start);
    const LRESULT every = SendMessageA(cboEvery, CB_GETCURSEL, 0, 0);
    if (every >= 0 && every < 3 && static_cast<int>(every) != static_cast<int>(UserSettings::checkEvery())) {
        UserSettings::setCheckEvery(static_cast<UserSettings::CheckEvery>(every));
        Log::line(std::string("settings: look for new issues ") + kEveryChoices[every]);
    }
    if (LibraryMove::sameFolder(chosen_, ModCommon::libraryRoot())) {
        close();
        return;
    }
    startMove();
}

void frmsettings::cmdCancel_Click() {
    if (moving_) {
        setNote("Stopping the move...");
        Work::cancelMove();
        return;
    }
    close();
}

void frmsettings::close() { destroyWindow(); }

void frmsettings::enableInput(bool bEnabled) {
    for (HWND h : {chkStart, cboEvery, cmdChange, cmdDocuments, cmdOK})
        EnableWindow(h, bEnabled);
}

// Copy, check, switch, then remove: the job holds the engine, so no
// delivery writes into either library meanwhile.
void frmsettings::startMove() {
    const std::string from = ModCommon::libraryRoot(), to = chosen_;
    const std::string refusal = LibraryMove::refusal(from, to);
    if (!refusal.empty()) {
        setNote(refusal);
        return;
    }
    auto result = std::make_shared<LibraryMove::Result>();
    const bool started = Work::start(
        Work::Job::MoveLibrary,
        [result, from, to] {
            *result = LibraryMove::move(
                from, to, [to] { return UserSettings::setLibraryFolder(to); },
                [](const LibraryMove::Progress& p) {
                    Work::post([p] {
                        if (exists())
                            instance().moveProgress(p.bytesDone, p.bytesTotal);
                    });
                },
                [] { return Work::cancelled(); });
        },
        [result, to] {
            if (result->moved)
                ModCommon::setLibraryRoot(to);
            if (WorkObserver* w = Work::observer())
                w->libraryChanged();
            if (exists())
                instance().moveEnded(result->moved, result->message);
        });
    if (!started) {
        setNote("Your issues can move once the delivery or check under way has ended.");
        return;
    }
    moving_ = true;
    enableInput(false);
    SendMessageA(pb, PBM_SETPOS, 0, 0);
    ShowWindow(pb, SW_SHOWNA);
    setNote("Moving your issues to " + to + "...");
    SetFocus(cmdCancel);
}

void frmsettings::moveProgress(int64_t llDone, int64_t llTotal) {
    if (llTotal > 0)
        SendMessageA(pb, PBM_SETPOS, static_cast<WPARAM>(llDone * 1000 / llTotal), 0);
}

void frmsettings::moveEnded(bool bMoved, const std::string& sMessage) {
    moving_ = false;
    ShowWindow(pb, SW_HIDE);
    enableInput(true);
    if (bMoved && sMessage.empty()) {
        close();
        return;
    }
    // Moved with files left behind, or not moved at all: the window stays
    // and says which.
    chosen_ = ModCommon::libraryRoot();
    Controls::setText(txtLibrary, chosen_);
    setNote(sMessage);
    SetFocus(cmdOK);
}
