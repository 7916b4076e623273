// The resources of both setup programs, read from the built executables
// (loaded as data files): every picture, sound, the music, the dialogs, the
// version entries and the manifest, with the properties the setup relies on,
// and which of them differ between the two products.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "resource.h"
#include "TestSupport.h"
#include "VozFormat.h"

namespace {

// ---------------------------------------------------------------- helpers

struct TBytes {
    const uint8_t* data = nullptr;
    size_t size = 0;
    bool found() const { return data != nullptr; }
    std::string str() const { return std::string(reinterpret_cast<const char*>(data), size); }
};

TBytes ResourceBytes(HMODULE module, const char* name, const char* type) {
    TBytes out;
    HRSRC info = FindResourceA(module, name, type);
    if (info == nullptr) return out;
    HGLOBAL handle = LoadResource(module, info);
    if (handle == nullptr) return out;
    out.data = static_cast<const uint8_t*>(LockResource(handle));
    out.size = SizeofResource(module, info);
    return out;
}

uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
uint32_t Be32(const uint8_t* p) { return (static_cast<uint32_t>(Be16(p)) << 16) | Be16(p + 2); }

std::string Narrow(const std::wstring& w) {
    std::string s;
    for (wchar_t c : w) s += static_cast<char>(c < 128 ? c : '?');
    return s;
}

// ---------------------------------------------------------------- bitmaps

struct TBitmap {
    int32_t width = 0, height = 0;
    uint16_t bits = 0;
    uint32_t compression = 0;
    int lightPixels = 0, blackPixels = 0;  // 4-bit and 8-bit pictures only
};

TBitmap ParseBitmap(const TBytes& res) {
    TBitmap bmp;
    if (res.size < 40) return bmp;
    const uint8_t* p = res.data;
    bmp.width = static_cast<int32_t>(LoadLe32(p + 4));
    bmp.height = static_cast<int32_t>(LoadLe32(p + 8));
    bmp.bits = LoadLe16(p + 14);
    bmp.compression = LoadLe32(p + 16);
    if (bmp.bits > 8 || bmp.compression != BI_RGB || bmp.width <= 0 || bmp.height <= 0) return bmp;
    uint32_t colours = LoadLe32(p + 32);
    if (colours == 0) colours = 1u << bmp.bits;
    const uint8_t* palette = p + LoadLe32(p);
    const uint8_t* pixels = palette + 4 * colours;
    size_t stride = ((static_cast<size_t>(bmp.width) * bmp.bits + 31) / 32) * 4;
    if (pixels + stride * bmp.height > res.data + res.size) return bmp;
    for (int y = 0; y < bmp.height; ++y) {
        for (int x = 0; x < bmp.width; ++x) {
            size_t bit = static_cast<size_t>(x) * bmp.bits;
            unsigned byte = pixels[y * stride + bit / 8];
            unsigned index = (byte >> (8 - bmp.bits - bit % 8)) & ((1u << bmp.bits) - 1);
            if (index >= colours) continue;
            const uint8_t* c = palette + 4 * index;  // blue, green, red
            if (c[0] == 0 && c[1] == 0 && c[2] == 0) ++bmp.blackPixels;
            if (c[0] >= 192 && c[1] >= 192 && c[2] >= 192) ++bmp.lightPixels;
        }
    }
    return bmp;
}

// ------------------------------------------------------------------ icons

struct TIconEntry {
    int width, height, bits;
    uint16_t id;
};

std::vector<TIconEntry> ParseIconGroup(const TBytes& res) {
    std::vector<TIconEntry> out;
    if (res.size < 6 || LoadLe16(res.data + 2) != 1) return out;
    unsigned count = LoadLe16(res.data + 4);
    if (res.size < 6 + 14u * count) return out;
    for (unsigned i = 0; i < count; ++i) {
        const uint8_t* e = res.data + 6 + 14 * i;
        out.push_back({e[0] == 0 ? 256 : e[0], e[1] == 0 ? 256 : e[1], LoadLe16(e + 6), LoadLe16(e + 12)});
    }
    return out;
}

// ------------------------------------------------------------------ sound

struct TWave {
    bool riff = false;
    uint16_t formatTag = 0, channels = 0;
    uint32_t rate = 0, dataBytes = 0;
};

TWave ParseWave(const TBytes& res) {
    TWave w;
    if (res.size < 12 || std::memcmp(res.data, "RIFF", 4) != 0 || std::memcmp(res.data + 8, "WAVE", 4) != 0) return w;
    w.riff = true;
    size_t pos = 12;
    while (pos + 8 <= res.size) {
        uint32_t size = LoadLe32(res.data + pos + 4);
        if (pos + 8 + size > res.size) break;
        const uint8_t* body = res.data + pos + 8;
        if (std::memcmp(res.data + pos, "fmt ", 4) == 0 && size >= 16) {
            w.formatTag = LoadLe16(body);
            w.channels = LoadLe16(body + 2);
            w.rate = LoadLe32(body + 4);
        } else if (std::memcmp(res.data + pos, "data", 4) == 0) {
            w.dataBytes = size;
        }
        pos += 8 + size + (size & 1);
    }
    return w;
}

// ------------------------------------------------------------------ music

struct TMidi {
    bool header = false;
    uint16_t format = 0, tracks = 0, division = 0;
    unsigned trackChunks = 0;
    bool chunksFillFile = false;
    bool everyTrackEnds = false;
};

TMidi ParseMidi(const TBytes& res) {
    TMidi m;
    if (res.size < 14 || std::memcmp(res.data, "MThd", 4) != 0 || Be32(res.data + 4) != 6) return m;
    m.header = true;
    m.format = Be16(res.data + 8);
    m.tracks = Be16(res.data + 10);
    m.division = Be16(res.data + 12);
    size_t pos = 14;
    m.everyTrackEnds = true;
    while (pos + 8 <= res.size && std::memcmp(res.data + pos, "MTrk", 4) == 0) {
        uint32_t size = Be32(res.data + pos + 4);
        if (pos + 8 + size > res.size || size < 3) break;
        const uint8_t* end = res.data + pos + 8 + size - 3;
        if (!(end[0] == 0xFF && end[1] == 0x2F && end[2] == 0x00)) m.everyTrackEnds = false;
        ++m.trackChunks;
        pos += 8 + size;
    }
    m.chunksFillFile = pos == res.size;
    return m;
}

// ---------------------------------------------------------------- dialogs

struct TDialogItem {
    uint32_t id = 0;
    std::string cls;   // lower case; predefined classes by name
    std::string text;  // "#n" for an ordinal (icons)
    uint32_t style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
};

struct TDialog {
    bool parsed = false;
    bool extended = false;
    uint32_t style = 0, exStyle = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    std::string caption, font;
    int pointSize = 0;
    std::vector<TDialogItem> items;

    const TDialogItem* Item(uint32_t id) const {
        for (const TDialogItem& i : items)
            if (i.id == id) return &i;
        return nullptr;
    }
};

class TDialogReader {
  public:
    explicit TDialogReader(const TBytes& res) : res_(res) {}
    bool ok() const { return ok_; }
    size_t pos() const { return pos_; }
    void Align4() { pos_ = (pos_ + 3) & ~static_cast<size_t>(3); }
    uint16_t Word() {
        if (pos_ + 2 > res_.size) {
            ok_ = false;
            return 0;
        }
        uint16_t v = LoadLe16(res_.data + pos_);
        pos_ += 2;
        return v;
    }
    uint32_t Dword() {
        uint32_t lo = Word();
        return lo | (static_cast<uint32_t>(Word()) << 16);
    }
    short Short() { return static_cast<short>(Word()); }
    std::string String() {
        std::wstring w;
        while (ok_) {
            uint16_t c = Word();
            if (c == 0) break;
            w += static_cast<wchar_t>(c);
        }
        return Narrow(w);
    }
    // A name or an ordinal (0xFFFF followed by the number, written "#n").
    std::string NameOrOrdinal() {
        if (pos_ + 2 <= res_.size && LoadLe16(res_.data + pos_) == 0xFFFF) {
            Word();
            std::string ordinal = "#";
            ordinal += std::to_string(Word());
            return ordinal;
        }
        return String();
    }

  private:
    const TBytes& res_;
    size_t pos_ = 0;
    bool ok_ = true;
};

std::string ClassName(std::string cls) {
    static const std::map<std::string, std::string> atoms = {{"#128", "button"},    {"#129", "edit"},
                                                             {"#130", "static"},    {"#131", "listbox"},
                                                             {"#132", "scrollbar"}, {"#133", "combobox"}};
    auto it = atoms.find(cls);
    if (it != atoms.end()) return it->second;
    for (char& c : cls) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return cls;
}

TDialog ParseDialog(const TBytes& res) {
    TDialog d;
    if (!res.found()) return d;
    TDialogReader r(res);
    unsigned count = 0;
    if (res.size >= 4 && LoadLe16(res.data) == 1 && LoadLe16(res.data + 2) == 0xFFFF) {
        d.extended = true;
        r.Word();
        r.Word();
        r.Dword();  // help id
        d.exStyle = r.Dword();
        d.style = r.Dword();
    } else {
        d.style = r.Dword();
        d.exStyle = r.Dword();
    }
    count = r.Word();
    d.x = r.Short();
    d.y = r.Short();
    d.cx = r.Short();
    d.cy = r.Short();
    r.NameOrOrdinal();  // menu
    r.NameOrOrdinal();  // class
    d.caption = r.String();
    if (d.style & DS_SETFONT) {
        d.pointSize = r.Word();
        if (d.extended) {
            r.Word();  // weight
            r.Word();  // italic, charset
        }
        d.font = r.String();
    }
    for (unsigned i = 0; i < count && r.ok(); ++i) {
        TDialogItem item;
        r.Align4();
        if (d.extended) {
            r.Dword();  // help id
            r.Dword();  // extended style
            item.style = r.Dword();
        } else {
            item.style = r.Dword();
            r.Dword();  // extended style
        }
        item.x = r.Short();
        item.y = r.Short();
        item.cx = r.Short();
        item.cy = r.Short();
        item.id = d.extended ? r.Dword() : r.Word();
        if (!d.extended && item.id == 0xFFFF) item.id = static_cast<uint32_t>(-1);
        item.cls = ClassName(r.NameOrOrdinal());
        item.text = r.NameOrOrdinal();
        uint16_t extra = r.Word();
        for (uint16_t k = 0; k < extra && r.ok(); ++k) r.Word();  // creation data; rounded up below
        d.items.push_back(item);
    }
    d.parsed = r.ok() && d.items.size() == count;
    return d;
}

// ------------------------------------------------------------- expectations

struct TRect {
    uint32_t id;
    const char* cls;
    int x, y, cx, cy;
};

struct TProduct {
    const char* label;
    const char* hostPath;
    const char* fullName;
    const char* licenceTitle;
    const char* fileDescription;
    const char* internalName;
    const char* originalFilename;
    const char* legalTrademarks;
    const char* manifestName;
    int finishHeight;
    std::vector<TRect> finishLayout;
    bool finishTextTabStop;
    const char* finishGroupText;
    const char* finishDesktopText;
    const char* finishAssociateText;
};

const TProduct kProducts[] = {
    {"Perusant",
     VOZ_PERUS_SETUP_EXE,
     "Perusant",
     "Perusant(TM) End-User License Agreement",
     "The Perus setup utility",
     "Perus Setup",
     "PerusSetup.exe",
     "Perusant, Perus, PVQ",
     "Perusant Setup",
     202,
     {{static_cast<uint32_t>(-1), "static", 3, 6, 18, 20},
      {208, "edit", 27, 6, 291, 96},
      {210, "button", 27, 107, 291, 68},
      {204, "button", 32, 118, 199, 14},
      {205, "button", 32, 138, 282, 12},
      {207, "button", 32, 155, 159, 14},
      {209, "combobox", 194, 155, 115, 121},
      {1, "button", 268, 182, 50, 14}},
     true,
     " Additional options for starting Perus: ",
     "Place the Perus icon on my &desktop",
     "Run the product when I &click \".PQF\" files (Query Folders) in the Windows Explorer"},
    {"Mailvane",
     VOZ_MAILV_SETUP_EXE,
     "Mailvane",
     "Mailvane(TM) End-User License Agreement",
     "The Mailvane setup utility",
     "Mailv Setup",
     "MailvSetup.exe",
     "Mailvane, PVQ",
     "Mailvane Setup",
     180,
     {{static_cast<uint32_t>(-1), "static", 3, 6, 21, 20},
      {208, "edit", 27, 6, 291, 80},
      {210, "button", 27, 90, 291, 68},
      {204, "button", 32, 100, 199, 14},
      {205, "button", 32, 120, 282, 14},
      {207, "button", 32, 137, 159, 14},
      {209, "combobox", 194, 137, 115, 121},
      {1, "button", 268, 162, 50, 14}},
     false,
     " Additional options for starting Mailvane: ",
     "Place the Mailvane icon on my &desktop",
     "Run the product when I &click \".MVF\" files (Query Folders) in the Windows Explorer"},
};

const std::vector<TRect> kFolderBrowserLayout = {
    {IDC_SEL_LABEL, "static", 7, 4, 185, 8},          {IDC_SEL_PATH, "edit", 7, 14, 213, 14},
    {IDC_SEL_FOLDERS_LABEL, "static", 7, 35, 184, 8}, {IDC_SEL_FOLDERS, "listbox", 7, 45, 213, 94},
    {IDC_SEL_DRIVES_LABEL, "static", 7, 140, 74, 8},  {IDC_SEL_DRIVES, "combobox", 7, 150, 213, 67},
    {IDC_SEL_OK, "button", 224, 14, 50, 14},          {IDCANCEL, "button", 224, 44, 50, 14},
};

const std::vector<TRect> kLicenceLayout = {
    {static_cast<uint32_t>(-1), "static", 31, 5, 320, 8},
    {IDC_LICENCE_ICON, "static", 2, 19, 18, 20},
    {IDC_LICENCE_TEXT, "edit", 30, 19, 325, 188},
    {IDOK, "button", 30, 211, 68, 14},
    {IDCANCEL, "button", 287, 211, 68, 14},
};

const std::vector<TRect> kStatusLayout = {
    {IDC_STATUS_VOLUME, "msctls_trackbar32", 4, 10, 101, 10},
    {static_cast<uint32_t>(-1), "static", 28, 2, 48, 8},
    {static_cast<uint32_t>(-1), "static", 27, 20, 50, 8},
    {IDC_STATUS_PROGRESS, "msctls_progress32", 5, 30, 97, 8},
};

// The controls, in template order, with class and rectangle.
void ExpectLayout(const TDialog& d, const std::vector<TRect>& layout, const char* what) {
    ASSERT_EQ(d.items.size(), layout.size()) << what;
    for (size_t i = 0; i < layout.size(); ++i) {
        const TDialogItem& item = d.items[i];
        const TRect& want = layout[i];
        EXPECT_EQ(item.id, want.id) << what << " control " << i;
        EXPECT_EQ(item.cls, want.cls) << what << " control " << item.id;
        EXPECT_EQ((std::vector<int>{item.x, item.y, item.cx, item.cy}),
                  (std::vector<int>{want.x, want.y, want.cx, want.cy}))
            << what << " control " << item.id;
    }
}

void ExpectPageFrame(const TDialog& d, const char* what) {
    ASSERT_TRUE(d.parsed) << what;
    EXPECT_EQ(d.style & (WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME),
              static_cast<uint32_t>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME))
        << what;
    EXPECT_EQ(d.font, "MS Sans Serif") << what;
    EXPECT_EQ(d.pointSize, 8) << what;
}

INT_PTR CALLBACK QuietDialogProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

// ----------------------------------------------------------------- fixture

class SetupResources : public ::testing::TestWithParam<int> {
  protected:
    static void SetUpTestSuite() {
        INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_BAR_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&icc);
        for (int i = 0; i < 2; ++i)
            modules_[i] =
                LoadLibraryExA(voztest::WinePath(kProducts[i].hostPath).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    }
    static void TearDownTestSuite() {
        for (HMODULE& m : modules_) {
            if (m != nullptr) FreeLibrary(m);
            m = nullptr;
        }
    }
    void SetUp() override { ASSERT_NE(module(), nullptr) << "cannot load " << voztest::WinePath(product().hostPath); }
    const TProduct& product() const { return kProducts[GetParam()]; }
    HMODULE module() const { return modules_[GetParam()]; }
    TBytes Res(const char* name, const char* type) const { return ResourceBytes(module(), name, type); }
    TBytes Res(int number, const char* type) const { return Res(MAKEINTRESOURCEA(number), type); }

    static HMODULE modules_[2];
};
HMODULE SetupResources::modules_[2] = {nullptr, nullptr};

INSTANTIATE_TEST_SUITE_P(BothProducts, SetupResources, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& param) {
                             return std::string(kProducts[param.param].label);
                         });

// ------------------------------------------------------------------- tests

TEST_P(SetupResources, IconGroupsHaveTheirImages) {
    struct TIconWant {
        const char* name;
        int number;
        int size;  // an image of this size must be in the group
    };
    const TIconWant wants[] = {
        {"MAINICON", 0, 32},
        {"MAINICON", 0, 16},
        {nullptr, IDI_DESTINATION, 32},
        {nullptr, IDI_SETUP, 32},
        {nullptr, IDI_INFO, 32},
        {nullptr, IDI_LICENCE, 32},
        {nullptr, IDI_FOLDER, 16},
        {nullptr, IDI_PRODUCT_FOLDER, 16},
        {nullptr, IDI_OPEN_FOLDER, 16},
        {nullptr, IDI_DRIVE_CDROM, 16},
        {nullptr, IDI_DRIVE_REMOVABLE, 16},
        {nullptr, IDI_DRIVE_FIXED, 16},
        {nullptr, IDI_DRIVE_NETWORK, 16},
    };
    for (const TIconWant& want : wants) {
        std::string label = want.name ? want.name : std::to_string(want.number);
        TBytes group = want.name ? Res(want.name, RT_GROUP_ICON) : Res(want.number, RT_GROUP_ICON);
        ASSERT_TRUE(group.found()) << "icon group " << label;
        std::vector<TIconEntry> entries = ParseIconGroup(group);
        ASSERT_FALSE(entries.empty()) << "icon group " << label;
        bool sized = false;
        for (const TIconEntry& e : entries) {
            EXPECT_TRUE(Res(e.id, RT_ICON).found()) << "image " << e.id << " of icon group " << label;
            sized |= e.width == want.size && e.height == want.size;
        }
        EXPECT_TRUE(sized) << "icon group " << label << " lacks a " << want.size << " x " << want.size << " image";
    }
}

TEST_P(SetupResources, BitmapsHaveTheirSizesAndDepth) {
    TBitmap tile = ParseBitmap(Res("BACKGRND", RT_BITMAP));
    EXPECT_EQ(tile.width, 32);
    EXPECT_EQ(tile.height, 32);
    EXPECT_EQ(tile.bits, 4);
    TBitmap logo = ParseBitmap(Res("PVQUITE", RT_BITMAP));
    EXPECT_EQ(logo.width, 130);
    EXPECT_EQ(logo.height, 83);
    EXPECT_EQ(logo.bits, 4);
    // The logo is drawn with black as the transparent colour: it needs both.
    EXPECT_GT(logo.blackPixels, 0);
    EXPECT_GT(logo.lightPixels, 0);
}

TEST_P(SetupResources, SlidesAreOneLineOfLightTextOnBlack) {
    for (int number = IDB_SLIDE_FIRST; number <= IDB_SLIDE_LAST; ++number) {
        TBitmap slide = ParseBitmap(Res(number, RT_BITMAP));
        EXPECT_TRUE(slide.height == 17 || slide.height == 18) << "slide " << number << " is " << slide.height;
        EXPECT_GE(slide.width, 560) << "slide " << number;
        EXPECT_LE(slide.width, 770) << "slide " << number;
        EXPECT_LE(slide.bits, 8) << "slide " << number;
        int pixels = slide.width * slide.height;
        EXPECT_GT(slide.blackPixels, pixels / 2) << "slide " << number << " is not mostly black";
        EXPECT_GT(slide.lightPixels, pixels / 50) << "slide " << number << " shows no light text";
    }
}

TEST_P(SetupResources, SoundsAreGsmMono22050) {
    for (const char* name : {"WELCOME", "WAIT", "FINISHED", "HIGHERVERSIONOFWINDOWSREQUIRED"}) {
        TWave wave = ParseWave(Res(name, "WAVE"));
        ASSERT_TRUE(wave.riff) << name;
        EXPECT_EQ(wave.formatTag, 0x31) << name;
        EXPECT_EQ(wave.channels, 1) << name;
        EXPECT_EQ(wave.rate, 22050u) << name;
        EXPECT_GT(wave.dataBytes, 1000u) << name;
    }
}

TEST_P(SetupResources, MusicIsTheFiveTrackMidiFile) {
    TBytes music = Res("MUSIC", RT_RCDATA);
    ASSERT_TRUE(music.found());
    EXPECT_EQ(music.size, 3785u);
    TMidi midi = ParseMidi(music);
    ASSERT_TRUE(midi.header);
    EXPECT_EQ(midi.format, 1);
    EXPECT_EQ(midi.tracks, 5);
    EXPECT_EQ(midi.division, 480);
    EXPECT_EQ(midi.trackChunks, 5u);
    EXPECT_TRUE(midi.chunksFillFile) << "the track chunks do not add up to the file";
    EXPECT_TRUE(midi.everyTrackEnds) << "a track lacks its end-of-track event";
}

TEST_P(SetupResources, FolderBrowserDialog) {
    TDialog d = ParseDialog(Res(IDD_FOLDERBROWSER, RT_DIALOG));
    ExpectPageFrame(d, "dialog 100");
    EXPECT_EQ(d.caption, "Select Destination Folder");
    EXPECT_EQ((std::vector<int>{d.x, d.y, d.cx, d.cy}), (std::vector<int>{0, 0, 277, 167}));
    ExpectLayout(d, kFolderBrowserLayout, "dialog 100");
    const TDialogItem* list = d.Item(IDC_SEL_FOLDERS);
    ASSERT_NE(list, nullptr);
    // Entries must stay in insertion order: the path chain comes first.
    EXPECT_EQ(list->style & LBS_SORT, 0u);
    EXPECT_EQ(list->style &
                  (LBS_OWNERDRAWFIXED | LBS_HASSTRINGS | LBS_NOTIFY | WS_VSCROLL | WS_TABSTOP | LBS_DISABLENOSCROLL),
              static_cast<uint32_t>(LBS_OWNERDRAWFIXED | LBS_HASSTRINGS | LBS_NOTIFY | WS_VSCROLL | WS_TABSTOP |
                                    LBS_DISABLENOSCROLL));
    const TDialogItem* drives = d.Item(IDC_SEL_DRIVES);
    ASSERT_NE(drives, nullptr);
    EXPECT_EQ(drives->style & CBS_SORT, 0u);
    EXPECT_EQ(drives->style & 3, static_cast<uint32_t>(CBS_DROPDOWNLIST));
    EXPECT_EQ(drives->style & (CBS_OWNERDRAWFIXED | CBS_HASSTRINGS),
              static_cast<uint32_t>(CBS_OWNERDRAWFIXED | CBS_HASSTRINGS));
    EXPECT_EQ(d.Item(IDC_SEL_OK)->style & 0xF, static_cast<uint32_t>(BS_DEFPUSHBUTTON));
    EXPECT_EQ(d.Item(IDC_SEL_LABEL)->text, "Destination f&older:");
}

TEST_P(SetupResources, MainPageDialog) {
    TDialog d = ParseDialog(Res(IDD_MAINPAGE, RT_DIALOG));
    ExpectPageFrame(d, "dialog 200");
    EXPECT_EQ(d.caption, "");  // set at run time
    EXPECT_EQ(d.cx, 361);
    EXPECT_EQ(d.cy, 220);
    for (uint32_t id : {IDC_MAIN_START, IDC_MAIN_CANCEL, IDC_MAIN_BROWSE, IDC_MAIN_INTRO, IDC_MAIN_DEST_GROUP,
                        IDC_MAIN_DEST, IDC_MAIN_INTRO_ICON, IDC_MAIN_DEST_ICON, IDC_MAIN_BROWSER_NOTE})
        EXPECT_NE(d.Item(id), nullptr) << "control " << id;
    const TDialogItem* note = d.Item(IDC_MAIN_BROWSER_NOTE);
    ASSERT_NE(note, nullptr);
    // Out of sight below the bottom edge until the page grows.
    EXPECT_EQ(note->y, 220);
    EXPECT_EQ(note->cx, 328);
    EXPECT_EQ(note->cy, 27);
    EXPECT_EQ(note->text.rfind("For better processing of international (unicode) HTML", 0), 0u);
    const TDialogItem* intro = d.Item(IDC_MAIN_INTRO);
    EXPECT_EQ(intro->style & (ES_MULTILINE | ES_READONLY | WS_BORDER | WS_VSCROLL | WS_TABSTOP),
              static_cast<uint32_t>(ES_MULTILINE | ES_READONLY | WS_BORDER | WS_VSCROLL));
    const TDialogItem* dest = d.Item(IDC_MAIN_DEST);
    EXPECT_EQ(dest->style & (ES_READONLY | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP),
              static_cast<uint32_t>(ES_READONLY | ES_AUTOHSCROLL));
    EXPECT_EQ(d.Item(IDC_MAIN_INTRO_ICON)->text, "#4");
    EXPECT_EQ(d.Item(IDC_MAIN_DEST_ICON)->text, "#2");
    EXPECT_EQ(d.Item(IDC_MAIN_BROWSE)->text, "&Browse for folder");
    EXPECT_EQ(d.Item(IDC_MAIN_CANCEL)->text, "&Cancel Installation");
    EXPECT_EQ(d.Item(IDC_MAIN_DEST_GROUP)->text, " Destination folder: ");
}

TEST_P(SetupResources, LicencePageDialog) {
    TDialog d = ParseDialog(Res(IDD_LICENCEPAGE, RT_DIALOG));
    ExpectPageFrame(d, "dialog 400");
    EXPECT_EQ(d.caption, product().licenceTitle);
    EXPECT_EQ((std::vector<int>{d.x, d.y, d.cx, d.cy}), (std::vector<int>{15, 0, 361, 228}));
    ExpectLayout(d, kLicenceLayout, "dialog 400");
    const TDialogItem* text = d.Item(IDC_LICENCE_TEXT);
    ASSERT_NE(text, nullptr);
    uint32_t want = ES_MULTILINE | ES_READONLY | WS_BORDER | WS_VSCROLL | ES_AUTOVSCROLL | ES_WANTRETURN | WS_TABSTOP;
    EXPECT_EQ(text->style & want, want);
    EXPECT_EQ(d.Item(IDC_LICENCE_ICON)->text, "#5");
    EXPECT_EQ(d.Item(IDOK)->text, "I &accept");
    EXPECT_EQ(d.Item(IDOK)->style & 0xF, static_cast<uint32_t>(BS_DEFPUSHBUTTON));
    EXPECT_EQ(d.Item(IDCANCEL)->text, "I do &not accept");
}

TEST_P(SetupResources, FinishPageDialogHasTheProductLayout) {
    TDialog d = ParseDialog(Res(IDD_FINISHPAGE, RT_DIALOG));
    ExpectPageFrame(d, "dialog 500");
    EXPECT_EQ(d.caption, "");  // set at run time
    EXPECT_EQ(d.cx, 323);
    EXPECT_EQ(d.cy, product().finishHeight);
    ExpectLayout(d, product().finishLayout, "dialog 500");
    const TDialogItem* text = d.Item(IDC_FIN_TEXT);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ((text->style & WS_TABSTOP) != 0, product().finishTextTabStop);
    EXPECT_EQ(text->style & (ES_MULTILINE | ES_READONLY | WS_VSCROLL | WS_BORDER),
              static_cast<uint32_t>(ES_MULTILINE | ES_READONLY | WS_VSCROLL | WS_BORDER));
    EXPECT_EQ(d.Item(IDC_FIN_GROUP)->text, product().finishGroupText);
    EXPECT_EQ(d.Item(IDC_FIN_DESKTOP)->text, product().finishDesktopText);
    EXPECT_EQ(d.Item(IDC_FIN_ASSOCIATE)->text, product().finishAssociateText);
    EXPECT_EQ(d.Item(IDC_FIN_HOTKEY)->text, "Run the product when I simultaneously &press:");
    for (uint32_t id : {IDC_FIN_DESKTOP, IDC_FIN_ASSOCIATE, IDC_FIN_HOTKEY})
        EXPECT_EQ(d.Item(id)->style & 0xF, static_cast<uint32_t>(BS_AUTOCHECKBOX)) << id;
    const TDialogItem* keys = d.Item(IDC_FIN_HOTKEY_LIST);
    // F1 to F12 in the order they are added, not sorted (F10 after F9).
    EXPECT_EQ(keys->style & CBS_SORT, 0u);
    EXPECT_EQ(keys->style & 3, static_cast<uint32_t>(CBS_DROPDOWNLIST));
    EXPECT_EQ(d.Item(IDOK)->style & 0xF, static_cast<uint32_t>(BS_DEFPUSHBUTTON));
}

TEST_P(SetupResources, StatusWindowDialog) {
    TDialog d = ParseDialog(Res(IDD_STATUS, RT_DIALOG));
    ASSERT_TRUE(d.parsed);
    EXPECT_TRUE(d.extended);
    EXPECT_EQ(d.exStyle & WS_EX_TOOLWINDOW, static_cast<uint32_t>(WS_EX_TOOLWINDOW));
    EXPECT_EQ(d.style & WS_VISIBLE, 0u);  // shown when the music starts
    EXPECT_EQ(d.style & (WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT),
              static_cast<uint32_t>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT));
    EXPECT_EQ(d.caption, "   Status");
    EXPECT_EQ(d.font, "MS Sans Serif");
    EXPECT_EQ(d.pointSize, 8);
    EXPECT_EQ(d.cx, 110);
    EXPECT_EQ(d.cy, 44);
    ExpectLayout(d, kStatusLayout, "dialog 600");
    const TDialogItem* volume = d.Item(IDC_STATUS_VOLUME);
    ASSERT_NE(volume, nullptr);
    EXPECT_EQ(volume->style & (TBS_BOTH | TBS_NOTICKS | WS_TABSTOP),
              static_cast<uint32_t>(TBS_BOTH | TBS_NOTICKS | WS_TABSTOP));
    EXPECT_EQ(d.items[1].text, "Sound volume:");
    EXPECT_EQ(d.items[2].text, "Setup progress:");
}

// Windows itself must be able to make every dialog with all its controls.
TEST_P(SetupResources, EveryDialogCanBeCreated) {
    const std::map<int, std::vector<int>> dialogs = {
        {IDD_FOLDERBROWSER, {102, 103, 104, 105, 106, 107, 108, 2}},
        {IDD_MAINPAGE, {201, 202, 203, 204, 205, 206, 207, 208, 219}},
        {IDD_LICENCEPAGE, {207, 401, 1, 2}},
        {IDD_FINISHPAGE, {204, 205, 207, 208, 209, 210, 1}},
        {IDD_STATUS, {1000, 1001}},
    };
    for (const auto& [number, controls] : dialogs) {
        TBytes tmpl = Res(number, RT_DIALOG);
        ASSERT_TRUE(tmpl.found()) << "dialog " << number;
        HWND dlg = CreateDialogIndirectParamA(module(), reinterpret_cast<LPCDLGTEMPLATEA>(tmpl.data), nullptr,
                                              QuietDialogProc, 0);
        ASSERT_NE(dlg, nullptr) << "dialog " << number << " error " << GetLastError();
        for (int id : controls) EXPECT_NE(GetDlgItem(dlg, id), nullptr) << "dialog " << number << " control " << id;
        DestroyWindow(dlg);
    }
}

TEST_P(SetupResources, VersionEntries) {
    std::string path = voztest::WinePath(product().hostPath);
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00050002u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00050002u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);

    struct TTranslation {
        WORD language, codePage;
    }* translation = nullptr;
    ASSERT_TRUE(
        VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
    ASSERT_GE(length, sizeof(TTranslation));
    char prefix[64];
    snprintf(prefix, sizeof prefix, "\\StringFileInfo\\%04x%04x\\", translation->language, translation->codePage);
    auto value = [&](const char* key) {
        char* text = nullptr;
        UINT chars = 0;
        std::string query = std::string(prefix) + key;
        if (!VerQueryValueA(info.data(), query.c_str(), reinterpret_cast<void**>(&text), &chars) || !text)
            return std::string("<missing>");
        return std::string(text);
    };
    EXPECT_EQ(value("FileDescription"), product().fileDescription);
    EXPECT_EQ(value("Comments"), product().fileDescription);
    EXPECT_EQ(value("InternalName"), product().internalName);
    EXPECT_EQ(value("OriginalFilename"), product().originalFilename);
    EXPECT_EQ(value("ProductName"), product().fullName);
    EXPECT_EQ(value("ProductVersion"), "5.2");
    EXPECT_EQ(value("LegalTrademarks"), product().legalTrademarks);
    EXPECT_EQ(value("CompanyName"), "Orvane Technologies");
    EXPECT_NE(value("LegalCopyright").find("Orvane Technologies"), std::string::npos);
}

// The value of attribute name in the first element called element at or
// after from; empty when absent.
std::string Attribute(const std::string& xml, const std::string& element, const std::string& name, size_t from = 0) {
    size_t start = xml.find("<" + element, from);
    if (start == std::string::npos) return {};
    size_t end = xml.find('>', start);
    std::string tag = xml.substr(start, end - start);
    size_t at = tag.find(" " + name + "=\"");
    if (at == std::string::npos) return {};
    at += name.size() + 3;
    return tag.substr(at, tag.find('"', at) - at);
}

TEST_P(SetupResources, Manifest) {
    TBytes manifest = Res(CREATEPROCESS_MANIFEST_RESOURCE_ID, RT_MANIFEST);
    ASSERT_TRUE(manifest.found());
    std::string xml = manifest.str();
    EXPECT_EQ(Attribute(xml, "assemblyIdentity", "name"), product().manifestName);
    EXPECT_EQ(Attribute(xml, "assemblyIdentity", "version"), "5.2.0.0");
    EXPECT_EQ(Attribute(xml, "assemblyIdentity", "type"), "win32");
    EXPECT_EQ(Attribute(xml, "assemblyIdentity", "processorArchitecture"), "*");
    EXPECT_NE(xml.find(std::string("<description>") + product().manifestName + "</description>"), std::string::npos);
    size_t dependency = xml.find("<dependentAssembly");
    ASSERT_NE(dependency, std::string::npos);
    EXPECT_EQ(Attribute(xml, "assemblyIdentity", "name", dependency), "Microsoft.Windows.Common-Controls");
    EXPECT_EQ(Attribute(xml, "assemblyIdentity", "version", dependency), "6.0.0.0");
    EXPECT_EQ(Attribute(xml, "assemblyIdentity", "language", dependency), "*");
    EXPECT_EQ(Attribute(xml, "assemblyIdentity", "processorArchitecture", dependency), "*");
    EXPECT_EQ(Attribute(xml, "requestedExecutionLevel", "level"), "requireAdministrator");
    // The form Windows XP SP2 accepts: the execution level in the asm.v2
    // namespace (XP refuses a trustInfo of the asm.v1 namespace), and never
    // two namespace declarations on one element (they restart XP SP2).
    EXPECT_EQ(Attribute(xml, "trustInfo", "xmlns"), "urn:schemas-microsoft-com:asm.v2");
    for (size_t tag = xml.find('<'); tag != std::string::npos; tag = xml.find('<', tag + 1)) {
        const std::string element = xml.substr(tag, xml.find('>', tag) - tag);
        const size_t first = element.find("xmlns");
        EXPECT_TRUE(first == std::string::npos || element.find("xmlns", first + 1) == std::string::npos) << element;
    }
}

// ------------------------------------------------- differences by product

class ProductDifferences : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        for (int i = 0; i < 2; ++i)
            modules_[i] =
                LoadLibraryExA(voztest::WinePath(kProducts[i].hostPath).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    }
    static void TearDownTestSuite() {
        for (HMODULE& m : modules_) {
            if (m != nullptr) FreeLibrary(m);
            m = nullptr;
        }
    }
    void SetUp() override {
        ASSERT_NE(modules_[0], nullptr);
        ASSERT_NE(modules_[1], nullptr);
    }
    // True when both programs carry the resource with the same bytes.
    static ::testing::AssertionResult Same(const char* name, const char* type) {
        TBytes a = ResourceBytes(modules_[0], name, type);
        TBytes b = ResourceBytes(modules_[1], name, type);
        if (!a.found() || !b.found()) return ::testing::AssertionFailure() << "missing in a program";
        if (a.size == b.size && std::memcmp(a.data, b.data, a.size) == 0) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "the programs differ";
    }
    static HMODULE modules_[2];
};
HMODULE ProductDifferences::modules_[2] = {nullptr, nullptr};

TEST_F(ProductDifferences, SlidesAndGreetingAreTheProducts) {
    for (int number = IDB_SLIDE_FIRST; number < IDB_SLIDE_LAST; ++number)
        EXPECT_FALSE(Same(MAKEINTRESOURCEA(number), RT_BITMAP)) << "slide " << number;
    EXPECT_TRUE(Same(MAKEINTRESOURCEA(IDB_SLIDE_LAST), RT_BITMAP)) << "slide " << IDB_SLIDE_LAST;
    EXPECT_FALSE(Same("WELCOME", "WAVE"));
}

TEST_F(ProductDifferences, SharedMediaAreIdentical) {
    for (const char* name : {"WAIT", "FINISHED", "HIGHERVERSIONOFWINDOWSREQUIRED"})
        EXPECT_TRUE(Same(name, "WAVE")) << name;
    EXPECT_TRUE(Same("MUSIC", RT_RCDATA));
    EXPECT_TRUE(Same("BACKGRND", RT_BITMAP));
    EXPECT_TRUE(Same("PVQUITE", RT_BITMAP));
    EXPECT_TRUE(Same("MAINICON", RT_GROUP_ICON));
    for (int number : {IDD_FOLDERBROWSER, IDD_MAINPAGE, IDD_STATUS})
        EXPECT_TRUE(Same(MAKEINTRESOURCEA(number), RT_DIALOG)) << "dialog " << number;
    EXPECT_FALSE(Same(MAKEINTRESOURCEA(IDD_FINISHPAGE), RT_DIALOG));
    EXPECT_FALSE(Same(MAKEINTRESOURCEA(IDD_LICENCEPAGE), RT_DIALOG));
}

}  // namespace
