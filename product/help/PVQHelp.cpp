// The product's help program: one window that shows the help text kept in
// the program's resources. The setup rebuilds this program from a patch
// against the main program, so it is shipped as "\Help\PVQHelp.pch" only.
#include <windows.h>

#include <string>

#include "ProductFacts.h"
#include "ProductUtil.h"

namespace {

constexpr char kWindowClass[] = "PVQHelpWnd";
constexpr char kTitle[] = PRODUCT_FULL_NAME " Help";

HWND TextPane;

// The help text resource holds LF line ends; the edit control needs CR LF.
std::string HelpText(HINSTANCE instance) {
    HRSRC found = FindResourceA(instance, "HELPTEXT", MAKEINTRESOURCEA(10) /* RT_RCDATA */);
    HGLOBAL loaded = found ? LoadResource(instance, found) : nullptr;
    const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (!data) return "The help text is missing from this program.";
    DWORD size = SizeofResource(instance, found);
    std::string text;
    text.reserve(size + size / 16);
    for (DWORD i = 0; i < size; ++i) {
        if (data[i] == '\r') continue;
        if (data[i] == '\n') text += '\r';
        text += data[i];
    }
    return text;
}

LRESULT CALLBACK HelpWndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_SIZE:
        MoveWindow(TextPane, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return 0;
    case WM_SETFOCUS:
        SetFocus(TextPane);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(wnd, msg, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    if (!RegisterProgramClass(instance, HelpWndProc, kWindowClass, COLOR_WINDOW)) return 1;

    HWND wnd = CreateWindowExA(0, kWindowClass, kTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 600, 460,
                               nullptr, nullptr, instance, nullptr);
    if (!wnd) return 1;
    TextPane =
        CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL,
                        0, 0, 10, 10, wnd, nullptr, instance, nullptr);
    SendMessageA(TextPane, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    std::string text = HelpText(instance);
    // The edit control's default limit is far below a long help text.
    SendMessageA(TextPane, EM_LIMITTEXT, text.size() + 1, 0);
    SetWindowTextA(TextPane, text.c_str());

    RECT client;
    GetClientRect(wnd, &client);
    MoveWindow(TextPane, 0, 0, client.right, client.bottom, TRUE);
    ShowWindow(wnd, show);
    UpdateWindow(wnd);

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
