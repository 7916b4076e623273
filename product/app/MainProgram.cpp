// The product's main program: a query window over the documents of the
// report library ("\Library" beside the program). The query in use is kept
// in a query folder file, "Queries\NoName" + the product's extension unless
// another one is named on the command line; "/query TEXT" (from the search
// box) starts with that text and searches at once.
//
// The setup recognises a running copy by its window: class "TApplication"
// and a title that begins with the product's full name.
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "MainIds.h"
#include "ProductFacts.h"
#include "ProductUtil.h"

namespace {

constexpr char kWindowClass[] = "TApplication";
constexpr char kTitle[] = PRODUCT_FULL_NAME " " PRODUCT_VERSION_TEXT;
constexpr size_t kMaxQuery = 1000;               // longest query a query folder keeps
constexpr uint32_t kMaxSearchedFile = 8u << 20;  // larger documents are passed over
constexpr uint32_t kMaxQueryFile = 64u << 10;
constexpr int kMaxDepth = 8;  // sub-folder levels searched
constexpr int kMaxResults = 2000;

HINSTANCE Instance;
HWND MainWnd;
HWND QueryEdit;
HWND ResultList;
HWND StatusText;
std::string Folder;              // the program's folder
std::string QueryFile;           // full path of the query folder file in use
std::string SavedQuery;          // the query as the file holds it
std::vector<std::string> Found;  // full paths, in the order of the list

// Texts of the menu and the controls; a language file may replace them.
struct TUiTexts {
    std::string file = "&File";
    std::string save = "&Save Query";
    std::string exit = "E&xit";
    std::string help = "&Help";
    std::string contents = "&Contents";
    std::string about = "&About " PRODUCT_FULL_NAME;
    std::string query = "&Query:";
    std::string search = "&Search";
};
TUiTexts Texts;

std::string ProfileText(const std::string& file, const char* section, const char* key, const std::string& fallback) {
    char buffer[512];
    GetPrivateProfileStringA(section, key, fallback.c_str(), buffer, sizeof buffer, file.c_str());
    return buffer;
}

// A language name from the settings file names a file in "\Language"; it
// must stay a plain file name.
bool IsPlainName(const std::string& name) {
    return !name.empty() && name.find_first_of("\\/:*?\"<>|") == std::string::npos && name != "." && name != "..";
}

void LoadLanguage() {
    std::string settings = Folder + "\\" PRODUCT_SETTINGS_FILE;
    std::string language = ProfileText(settings, PRODUCT_SETTINGS_SECTION, "Default Language", "");
    if (!IsPlainName(language)) return;
    std::string file = Folder + "\\Language\\" + language + ".PQL";
    if (!FileExists(file)) return;
    Texts.file = ProfileText(file, "Strings", "File", Texts.file);
    Texts.save = ProfileText(file, "Strings", "SaveQuery", Texts.save);
    Texts.exit = ProfileText(file, "Strings", "Exit", Texts.exit);
    Texts.help = ProfileText(file, "Strings", "Help", Texts.help);
    Texts.contents = ProfileText(file, "Strings", "Contents", Texts.contents);
    Texts.about = ProfileText(file, "Strings", "About", Texts.about);
    Texts.query = ProfileText(file, "Strings", "Query", Texts.query);
    Texts.search = ProfileText(file, "Strings", "Search", Texts.search);
}

void SetTitle() {
    std::string title = std::string(kTitle) + " - " + NameOfPath(QueryFile);
    SetWindowTextA(MainWnd, title.c_str());
}

std::string WindowText(HWND w) {
    int length = GetWindowTextLengthA(w);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    int got = GetWindowTextA(w, text.data(), length + 1);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

// Reads the query of a query folder file. A file that does not begin with
// the product's marker is not one of ours: it is left alone and false comes
// back.
bool LoadQueryFile(const std::string& path, std::string* query) {
    query->clear();
    std::string content;
    if (!ReadFileBytes(path, kMaxQueryFile, &content)) return false;
    if (content.compare(0, sizeof(PRODUCT_QUERY_MARKER) - 1, PRODUCT_QUERY_MARKER) != 0) return false;
    *query = ProfileText(path, "Query", "Text", "");
    if (query->size() > kMaxQuery) query->resize(kMaxQuery);
    return true;
}

bool SaveQueryFile(const std::string& path, const std::string& query) {
    std::string folder = FolderOfPath(path);
    if (!folder.empty() && !FolderExists(folder)) CreateDirectoryA(folder.c_str(), nullptr);
    std::string content = PRODUCT_QUERY_MARKER " Query Folder " PRODUCT_VERSION_TEXT "\r\n\r\n[Query]\r\nText=";
    for (char c : query)
        if (c != '\r' && c != '\n') content += c;
    content += "\r\n";
    return WriteFileBytes(path, content);
}

bool SaveQuery() {
    std::string query = WindowText(QueryEdit);
    if (!SaveQueryFile(QueryFile, query)) {
        std::string message = "The query could not be saved to\r\n" + QueryFile;
        MessageBoxA(MainWnd, message.c_str(), PRODUCT_FULL_NAME, MB_OK | MB_ICONERROR);
        return false;
    }
    SavedQuery = query;
    return true;
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool ContainsText(const std::string& haystack, const std::string& lowerNeedle) {
    if (lowerNeedle.empty() || lowerNeedle.size() > haystack.size()) return false;
    size_t last = haystack.size() - lowerNeedle.size();
    for (size_t i = 0; i <= last; ++i) {
        size_t j = 0;
        while (j < lowerNeedle.size() && LowerAscii(haystack[i + j]) == lowerNeedle[j]) ++j;
        if (j == lowerNeedle.size()) return true;
    }
    return false;
}

void SearchFolder(const std::string& folder, const std::string& lowerQuery, int depth) {
    if (depth > kMaxDepth || Found.size() >= static_cast<size_t>(kMaxResults)) return;
    WIN32_FIND_DATAA entry;
    std::string pattern = folder + "\\*";
    HANDLE find = FindFirstFileA(pattern.c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        std::string name = entry.cFileName;
        if (name == "." || name == "..") continue;
        std::string path = folder + "\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            SearchFolder(path, lowerQuery, depth + 1);
        } else {
            std::string content;
            if ((ContainsText(name, lowerQuery) ||
                 (ReadFileBytes(path, kMaxSearchedFile, &content) && ContainsText(content, lowerQuery))) &&
                Found.size() < static_cast<size_t>(kMaxResults))
                Found.push_back(path);
        }
    } while (FindNextFileA(find, &entry));
    FindClose(find);
}

void RunSearch() {
    std::string query = WindowText(QueryEdit);
    SendMessageA(ResultList, LB_RESETCONTENT, 0, 0);
    Found.clear();
    std::string library = Folder + "\\Library";
    std::string status;
    if (query.empty()) {
        status = "Type the words to look for.";
    } else if (!FolderExists(library)) {
        status = "The report library " + library + " does not exist.";
    } else {
        std::string lower;
        for (char c : query) lower += LowerAscii(c);
        HCURSOR old = SetCursor(LoadCursor(nullptr, IDC_WAIT));
        SearchFolder(library, lower, 0);
        SetCursor(old);
        for (const std::string& path : Found) {
            std::string shown = path.substr(library.size() + 1);
            SendMessageA(ResultList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(shown.c_str()));
        }
        status = std::to_string(Found.size()) + (Found.size() == 1 ? " document" : " documents") + " found";
        if (Found.size() >= static_cast<size_t>(kMaxResults)) status += " (list cut short)";
        status += ".";
    }
    SetWindowTextA(StatusText, status.c_str());
}

void OpenResult() {
    LRESULT index = SendMessageA(ResultList, LB_GETCURSEL, 0, 0);
    if (index < 0 || static_cast<size_t>(index) >= Found.size()) return;
    ShellExecuteA(MainWnd, "open", Found[static_cast<size_t>(index)].c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void ShowHelp() {
    std::string help = Folder + "\\" PRODUCT_HELP_PROGRAM;
    if (!FileExists(help)) {
        MessageBoxA(MainWnd, "The help program is missing. Please run the setup program again.", PRODUCT_FULL_NAME,
                    MB_OK | MB_ICONWARNING);
        return;
    }
    ShellExecuteA(MainWnd, "open", help.c_str(), nullptr, FolderOfPath(help).c_str(), SW_SHOWNORMAL);
}

void Layout(int width, int height) {
    const int margin = 8;
    const int button = 88;
    const int label = 60;
    MoveWindow(GetDlgItem(MainWnd, IDC_QUERY_LABEL), margin, margin + 4, label, 20, TRUE);
    MoveWindow(QueryEdit, margin + label, margin, width - 3 * margin - label - button, 24, TRUE);
    MoveWindow(GetDlgItem(MainWnd, IDOK), width - margin - button, margin, button, 24, TRUE);
    int listTop = margin * 2 + 24;
    int statusHeight = 20;
    MoveWindow(ResultList, margin, listTop, width - 2 * margin, height - listTop - statusHeight - 2 * margin, TRUE);
    MoveWindow(StatusText, margin, height - statusHeight - margin, width - 2 * margin, statusHeight, TRUE);
}

HWND AddControl(const char* cls, const char* text, DWORD style, int id) {
    HWND w = CreateWindowExA(strcmp(cls, "EDIT") == 0 || strcmp(cls, "LISTBOX") == 0 ? WS_EX_CLIENTEDGE : 0, cls, text,
                             WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, MainWnd,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance, nullptr);
    SendMessageA(w, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    return w;
}

void CreateContents() {
    AddControl("STATIC", Texts.query.c_str(), SS_LEFT, IDC_QUERY_LABEL);
    QueryEdit = AddControl("EDIT", "", WS_TABSTOP | ES_AUTOHSCROLL, IDC_QUERY);
    SendMessageA(QueryEdit, EM_LIMITTEXT, kMaxQuery, 0);
    AddControl("BUTTON", Texts.search.c_str(), WS_TABSTOP | BS_DEFPUSHBUTTON, IDOK);
    ResultList = AddControl("LISTBOX", "", WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT, IDC_RESULTS);
    StatusText = AddControl("STATIC", "", SS_LEFT | SS_ENDELLIPSIS, IDC_STATUS);

    HMENU file = CreatePopupMenu();
    AppendMenuA(file, MF_STRING, IDM_SAVE, Texts.save.c_str());
    AppendMenuA(file, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(file, MF_STRING, IDM_EXIT, Texts.exit.c_str());
    HMENU help = CreatePopupMenu();
    AppendMenuA(help, MF_STRING, IDM_CONTENTS, Texts.contents.c_str());
    AppendMenuA(help, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(help, MF_STRING, IDM_ABOUT, Texts.about.c_str());
    HMENU bar = CreateMenu();
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), Texts.file.c_str());
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(help), Texts.help.c_str());
    SetMenu(MainWnd, bar);
}

// True when the window may close: the query is saved or the user lets it go.
bool ConfirmClose() {
    if (WindowText(QueryEdit) == SavedQuery) return true;
    std::string message = "Save the changed query to " + NameOfPath(QueryFile) + "?";
    int answer = MessageBoxA(MainWnd, message.c_str(), PRODUCT_FULL_NAME, MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDCANCEL) return false;
    return answer == IDNO || SaveQuery();
}

LRESULT CALLBACK MainWndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_SIZE:
        Layout(LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_SETFOCUS:
        SetFocus(QueryEdit);
        return 0;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            RunSearch();
            return 0;
        case IDC_RESULTS:
            if (HIWORD(wParam) == LBN_DBLCLK) OpenResult();
            return 0;
        case IDM_SAVE:
            SaveQuery();
            return 0;
        case IDM_EXIT:
            PostMessageA(wnd, WM_CLOSE, 0, 0);
            return 0;
        case IDM_CONTENTS:
            ShowHelp();
            return 0;
        case IDM_ABOUT:
            MessageBoxA(wnd,
                        PRODUCT_FULL_NAME " " PRODUCT_VERSION_TEXT "\r\n" VENDOR_COPYRIGHT
                                          "\r\n\r\n"
                                          "Searches the documents of your report library.",
                        Texts.about.c_str(), MB_OK | MB_ICONINFORMATION);
            return 0;
        }
        break;
    case WM_CLOSE:
        if (ConfirmClose()) DestroyWindow(wnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(wnd, msg, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    Instance = instance;
    Folder = ProgramFolder();
    if (Folder.empty()) {
        MessageBoxA(nullptr, "The program's folder path is too long.", PRODUCT_FULL_NAME, MB_OK | MB_ICONERROR);
        return 1;
    }

    QueryFile = Folder + "\\" PRODUCT_QUERY_FILE;
    std::string startQuery;
    bool searchAtOnce = false;
    for (int i = 1; i < __argc; ++i) {
        if (_stricmp(__argv[i], "/query") == 0 && i + 1 < __argc) {
            startQuery = __argv[++i];
            searchAtOnce = true;
        } else {
            char full[MAX_PATH];
            DWORD length = GetFullPathNameA(__argv[i], MAX_PATH, full, nullptr);
            if (length > 0 && length < MAX_PATH) QueryFile.assign(full, length);
        }
    }
    if (startQuery.size() > kMaxQuery) startQuery.resize(kMaxQuery);

    LoadLanguage();

    if (!RegisterProgramClass(instance, MainWndProc, kWindowClass, COLOR_BTNFACE)) return 1;

    MainWnd = CreateWindowExA(WS_EX_CONTROLPARENT, kWindowClass, kTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                              CW_USEDEFAULT, 560, 400, nullptr, nullptr, instance, nullptr);
    if (!MainWnd) return 1;
    CreateContents();
    SetTitle();

    std::string query;
    bool known = LoadQueryFile(QueryFile, &query);
    SavedQuery = query;
    if (!known && FileExists(QueryFile)) {
        std::string message = NameOfPath(QueryFile) + " is not a " PRODUCT_FULL_NAME " query folder.";
        SetWindowTextA(StatusText, message.c_str());
    }
    SetWindowTextA(QueryEdit, searchAtOnce ? startQuery.c_str() : query.c_str());

    RECT client;
    GetClientRect(MainWnd, &client);
    Layout(client.right, client.bottom);
    ShowWindow(MainWnd, show);
    UpdateWindow(MainWnd);
    if (searchAtOnce) RunSearch();

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (IsDialogMessageA(MainWnd, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
