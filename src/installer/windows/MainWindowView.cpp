#include "installer/windows/MainWindowView.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>

#include "framework/Application.h"
#include "framework/Exception.h"
#include "installer/windows/WindowPicture.h"

namespace qvl {
namespace {

constexpr char kFormClass[] = "TForm1";
constexpr char kPanelClass[] = "TPanel";
constexpr COLORREF kSkyBlue = RGB(166, 202, 240);
constexpr UINT_PTR kMemoSubclassId = 1;

// The control fonts; `charset` is that of the design (the window font's is the default one).
Font MakeFont(const char* face, int height, bool bold, BYTE charset) {
    return Font(::CreateFontA(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, charset,
                              OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                              face));
}

void RegisterClasses() {
    static const bool registered = [] {
        const HINSTANCE instance = ::GetModuleHandleA(nullptr);
        WNDCLASSEXA form{};
        form.cbSize = sizeof form;
        form.style = CS_HREDRAW | CS_VREDRAW;
        form.lpszClassName = kFormClass;
        form.hInstance = instance;
        form.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
        // The program's icon is resource 1; a test program has none and gets the system's.
        form.hIcon = ::LoadIconA(instance, MAKEINTRESOURCEA(1));
        if (!form.hIcon) form.hIcon = ::LoadIconA(nullptr, IDI_APPLICATION);
        form.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        form.lpfnWndProc = ::DefWindowProcA;  // replaced per window once it knows its view
        ::RegisterClassExA(&form);
        WNDCLASSEXA panel{};
        panel.cbSize = sizeof panel;
        panel.lpszClassName = kPanelClass;
        panel.hInstance = instance;
        panel.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
        panel.lpfnWndProc = ::DefWindowProcA;
        ::RegisterClassExA(&panel);
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
        ::InitCommonControlsEx(&controls);
        return true;
    }();
    (void)registered;
}

// The log is a multi-line edit, which would take Tab as text; here Tab moves the focus on, as
// it does between the other controls.
LRESULT CALLBACK MemoProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
    LRESULT result = ::DefSubclassProc(hwnd, msg, wParam, lParam);
    if (msg == WM_GETDLGCODE) {
        const MSG* key = reinterpret_cast<const MSG*>(lParam);
        if (key && key->message == WM_KEYDOWN && key->wParam == VK_TAB) result &= ~(DLGC_WANTTAB | DLGC_WANTALLKEYS);
    }
    return result;
}

}  // namespace

MainWindowView::MainWindowView()
    : windowFont_(MakeFont("MS Sans Serif", -11, false, DEFAULT_CHARSET)),
      headingFont_(MakeFont("Open Sans", -19, false, ANSI_CHARSET)),
      labelFont_(MakeFont("Open Sans", -13, false, ANSI_CHARSET)),
      checkFont_(MakeFont("Open Sans", -16, false, ANSI_CHARSET)),
      buttonFont_(MakeFont("Open Sans", -16, true, ANSI_CHARSET)),
      skyBlue_(::CreateSolidBrush(kSkyBlue)) {
    RegisterClasses();
    const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    RECT outer{0, 0, kClientWidth, kClientHeight};
    ::AdjustWindowRectEx(&outer, style, FALSE, WS_EX_CONTROLPARENT);
    form_.reset(::CreateWindowExA(WS_EX_CONTROLPARENT, kFormClass, "QVL Installer - Updater", style, CW_USEDEFAULT,
                                  CW_USEDEFAULT, outer.right - outer.left, outer.bottom - outer.top, nullptr, nullptr,
                                  ::GetModuleHandleA(nullptr), nullptr));
    if (!form_) throw Exception("Cannot create the window");
    ::SetWindowLongPtrA(form_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ::SetWindowLongPtrA(form_.get(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&FormProc));
    ::SendMessageA(form_.get(), WM_SETFONT, reinterpret_cast<WPARAM>(windowFont_.get()), FALSE);

    // Creation order is the order of the design, and for the focus it is the Tab order: the
    // panels and the bar take no focus, so Tab goes Memo1, CheckBox1, CheckBox2, Button1.
    Panel2 = MakeControl(kPanelClass, "", 0, 0, form_.get(), 0, kClientHeight - kBottomPanelHeight, kClientWidth,
                         kBottomPanelHeight, 0, windowFont_.get());
    ProgressBar1 = std::make_unique<TProgressBar>(Panel2, 1, 0, kClientWidth - 2, 27, windowFont_.get());
    Memo1 = MakeControl("EDIT", "waiting...", WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN,
                        WS_EX_CLIENTEDGE, form_.get(), 0, kTopPanelHeight, kClientWidth,
                        kClientHeight - kTopPanelHeight - kBottomPanelHeight, kMemo1Id, windowFont_.get());
    // The control's own limit is far below the lines of a long download.
    ::SendMessageA(Memo1, EM_SETLIMITTEXT, 0x7FFFFFFE, 0);
    ::SetWindowSubclass(Memo1, MemoProc, kMemoSubclassId, 0);
    // Its controls take part in the window's Tab order.
    Panel1 = MakeControl(kPanelClass, "", 0, WS_EX_CONTROLPARENT, form_.get(), 0, 0, kClientWidth, kTopPanelHeight, 0,
                         windowFont_.get());
    Label1 = MakeLabel("Please make your selections and click 'next'", headingFont_.get(), 1, 1, kClientWidth - 2, 26,
                       SS_CENTER | SS_CENTERIMAGE);
    Label2 = MakeLabel("This will install / update the wallet program", labelFont_.get(), 24, 64, 254, 18, SS_LEFT);
    Label3 = MakeLabel("This will install the blockchain", labelFont_.get(), 24, 144, 174, 18, SS_LEFT);
    CheckBox1 = MakeControl("BUTTON", "program", WS_TABSTOP | BS_AUTOCHECKBOX, 0, Panel1, 24, 40, 245, 20,
                            kCheckBox1Id, checkFont_.get());
    CheckBox2 = MakeControl("BUTTON", "blockchain", WS_TABSTOP | BS_AUTOCHECKBOX, 0, Panel1, 24, 116, 229, 20,
                            kCheckBox2Id, checkFont_.get());
    Button1 = MakeControl("BUTTON", "Next", WS_TABSTOP | BS_PUSHBUTTON, 0, Panel1, 352, 140, 75, 25, kButton1Id,
                          buttonFont_.get());
    CentreOnDesktop();
}

MainWindowView::~MainWindowView() {
    // The window goes first (with every control); the fonts and the brush it used after it.
    form_.reset();
}

HWND MainWindowView::MakeControl(const char* className, const char* text, DWORD style, DWORD exStyle, HWND parent,
                                 int x, int y, int width, int height, int id, HFONT font) {
    HWND hwnd = ::CreateWindowExA(exStyle, className, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height, parent,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleA(nullptr),
                                  nullptr);
    if (!hwnd) throw Exception(std::string("Cannot create the window's ") + className);
    if (std::strcmp(className, kPanelClass) == 0) {
        ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        ::SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&PanelProc));
    }
    ::SendMessageA(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return hwnd;
}

// A label is as wide as the design says, or as its text where this font draws it wider, so the
// text is never cut off.
HWND MainWindowView::MakeLabel(const char* text, HFONT font, int x, int y, int width, int height, DWORD align) {
    if (align == SS_LEFT) {
        HDC dc = ::GetDC(nullptr);
        const HGDIOBJ old = ::SelectObject(dc, font);
        SIZE extent{};
        if (::GetTextExtentPoint32A(dc, text, static_cast<int>(std::char_traits<char>::length(text)), &extent))
            width = std::max(width, static_cast<int>(extent.cx) + 1);
        ::SelectObject(dc, old);
        ::ReleaseDC(nullptr, dc);
    }
    return MakeControl("STATIC", text, align | SS_NOPREFIX, 0, Panel1, x, y, width, height, 0, font);
}

LRESULT CALLBACK MainWindowView::FormProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* view = reinterpret_cast<MainWindowView*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!view) return ::DefWindowProcA(hwnd, msg, wParam, lParam);
    LRESULT result = 0;
    if (!Application::Guarded([&] { result = view->HandleForm(msg, wParam, lParam); }))
        return ::DefWindowProcA(hwnd, msg, wParam, lParam);
    return result;
}

LRESULT CALLBACK MainWindowView::PanelProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* view = reinterpret_cast<MainWindowView*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!view) return ::DefWindowProcA(hwnd, msg, wParam, lParam);
    LRESULT result = 0;
    if (!Application::Guarded([&] { result = view->HandlePanel(hwnd, msg, wParam, lParam); }))
        return ::DefWindowProcA(hwnd, msg, wParam, lParam);
    return result;
}

LRESULT MainWindowView::HandleForm(UINT msg, WPARAM wParam, LPARAM lParam) {
    HWND hwnd = form_.get();
    switch (msg) {
        case WM_SIZE:
            LayOut(LOWORD(lParam), HIWORD(lParam));
            return 0;
        case WM_SETFOCUS:
            ::SetFocus(Memo1);
            return 0;
        case WM_GETFONT:
            return reinterpret_cast<LRESULT>(windowFont_.get());
        case WM_CLOSE:
            if (!DeferClose()) CloseNow();
            return 0;
        case WM_COMMAND:
            if (LOWORD(wParam) == kButton1Id && HIWORD(wParam) == BN_CLICKED) {
                if (OnNext) OnNext();
                return 0;
            }
            break;
        default:
            break;
    }
    return ::DefWindowProcA(hwnd, msg, wParam, lParam);
}

// The panels: sky blue inside a one-pixel raised bevel; the labels and check boxes on them are
// drawn transparent on that blue; the button's click goes on to the window.
LRESULT MainWindowView::HandlePanel(HWND panel, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_ERASEBKGND: {
            RECT rect;
            ::GetClientRect(panel, &rect);
            ::FillRect(reinterpret_cast<HDC>(wParam), &rect, skyBlue_.get());
            return 1;
        }
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = ::BeginPaint(panel, &paint);
            RECT rect;
            ::GetClientRect(panel, &rect);
            ::DrawEdge(dc, &rect, BDR_RAISEDINNER, BF_RECT);
            ::EndPaint(panel, &paint);
            return 0;
        }
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN: {
            HDC dc = reinterpret_cast<HDC>(wParam);
            ::SetBkMode(dc, TRANSPARENT);
            ::SetBkColor(dc, kSkyBlue);
            ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
            return reinterpret_cast<LRESULT>(skyBlue_.get());
        }
        case WM_COMMAND:
            return ::SendMessageA(form_.get(), msg, wParam, lParam);
        case WM_GETFONT:
            return reinterpret_cast<LRESULT>(windowFont_.get());
        default:
            break;
    }
    return ::DefWindowProcA(panel, msg, wParam, lParam);
}

// Docking: the top panel keeps its height at the top, the bottom panel at the bottom, the log
// fills what is between; the heading and the bar stretch inside the one-pixel bevel.
void MainWindowView::LayOut(int width, int height) {
    if (!Panel1 || !Button1) return;  // the controls are still being made
    const int bottomTop = std::max(kTopPanelHeight, height - kBottomPanelHeight);
    ::MoveWindow(Panel1, 0, 0, width, kTopPanelHeight, TRUE);
    ::MoveWindow(Label1, 1, 1, std::max(0, width - 2), 26, TRUE);
    ::MoveWindow(Panel2, 0, bottomTop, width, kBottomPanelHeight, TRUE);
    ::MoveWindow(ProgressBar1->Handle(), 1, kBottomPanelHeight - 1 - 27, std::max(0, width - 2), 27, TRUE);
    ::MoveWindow(Memo1, 0, kTopPanelHeight, width, bottomTop - kTopPanelHeight, TRUE);
}

// The whole window, frame included, goes in the middle of the desktop.
void MainWindowView::CentreOnDesktop() {
    RECT rect;
    ::GetWindowRect(form_.get(), &rect);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    const int x = (::GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int y = (::GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    ::SetWindowPos(form_.get(), nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindowView::Show() {
    ::ShowWindow(form_.get(), SW_SHOW);
    ::UpdateWindow(form_.get());
    ::SetFocus(Memo1);
}

void MainWindowView::Close() { ::SendMessageA(form_.get(), WM_CLOSE, 0, 0); }

void MainWindowView::CloseNow() {
    const bool wasShown = IsVisible();
    ::ShowWindow(form_.get(), SW_HIDE);
    // The window is the program: once it is closed the message loop ends.
    if (wasShown) ::PostQuitMessage(0);
}

bool MainWindowView::IsVisible() const { return ::IsWindowVisible(form_.get()) != FALSE; }

void MainWindowView::ClearLogControl() { ::SetWindowTextA(Memo1, ""); }

void MainWindowView::WriteLogLines(const std::vector<std::string>& logged) {
    std::string text;
    for (const std::string& line : logged) {
        text += line;
        text += "\r\n";
    }
    // A last line without its line break (typed by the user) is ended first, so that the text
    // always becomes a line of its own.
    const LRESULT lines = ::SendMessageA(Memo1, EM_GETLINECOUNT, 0, 0);
    const LRESULT lastStart = ::SendMessageA(Memo1, EM_LINEINDEX, static_cast<WPARAM>(lines - 1), 0);
    if (::SendMessageA(Memo1, EM_LINELENGTH, static_cast<WPARAM>(lastStart), 0) > 0) text.insert(0, "\r\n");
    const int end = ::GetWindowTextLengthA(Memo1);
    ::SendMessageA(Memo1, EM_SETSEL, static_cast<WPARAM>(end), end);
    ::SendMessageA(Memo1, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
    ::SendMessageA(Memo1, EM_SCROLLCARET, 0, 0);
}

std::vector<std::string> MainWindowView::LogLines() {
    FlushLog();
    std::string text(static_cast<size_t>(::GetWindowTextLengthA(Memo1)) + 1, '\0');
    text.resize(static_cast<size_t>(::GetWindowTextA(Memo1, text.data(), static_cast<int>(text.size()))));
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

void MainWindowView::SetTitle(const std::string& text) { ::SetWindowTextA(form_.get(), text.c_str()); }

bool MainWindowView::IsProgramTicked() { return ::SendMessageA(CheckBox1, BM_GETCHECK, 0, 0) == BST_CHECKED; }

bool MainWindowView::IsBlockchainTicked() { return ::SendMessageA(CheckBox2, BM_GETCHECK, 0, 0) == BST_CHECKED; }

int MainWindowView::ShowSystemMessageBox(const std::string& text, const std::string& caption, unsigned flags) {
    // Owned by the window, which the system disables while the box is up.
    return ::MessageBoxA(form_.get(), text.c_str(), caption.c_str(), flags);
}

bool MainWindowView::SavePicture(const std::string& file) {
    FlushLog();
    ::RedrawWindow(form_.get(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    return SaveWindowPicture(form_.get(), file);
}

}  // namespace qvl
