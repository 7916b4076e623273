// Module Sounds under Wine. The multimedia library is replaced by
// fakewinmm.dll, a recording stand-in bound by name exactly like the real
// one, so nothing here needs a sound device.
#include "Sounds.h"

#include "fakewinmm.h"
#include "resource.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

#if defined(VOZ_PROFILE_A)
const std::string kAlias = "perus";
#else
const std::string kAlias = "mailv";
#endif

struct TCall {
    std::string entry;
    std::string text;
    UINT_PTR a, b, c;
};

// The recording of fakewinmm.dll (or fakewinmm_part.dll).
class TFakeLibrary {
  public:
    explicit TFakeLibrary(const char* name) : module_(LoadLibraryA(name)) {
        if (!module_) return;
        reset_ = reinterpret_cast<TFakeMmReset>(reinterpret_cast<void*>(GetProcAddress(module_, "FakeMmReset")));
        count_ =
            reinterpret_cast<TFakeMmCallCount>(reinterpret_cast<void*>(GetProcAddress(module_, "FakeMmCallCount")));
        at_ = reinterpret_cast<TFakeMmCallAt>(reinterpret_cast<void*>(GetProcAddress(module_, "FakeMmCallAt")));
    }
    ~TFakeLibrary() {
        if (module_) FreeLibrary(module_);
    }
    bool Ready() const { return reset_ && count_ && at_; }
    void Reset(UINT devices) { reset_(devices); }
    std::vector<TCall> Calls() const {
        std::vector<TCall> out;
        for (int i = 0; i < count_(); ++i) {
            const FakeMmCall* c = at_(i);
            out.push_back({c->entry, c->text, c->a, c->b, c->c});
        }
        return out;
    }
    std::vector<TCall> Calls(const std::string& entry) const {
        std::vector<TCall> out;
        for (const TCall& c : Calls())
            if (c.entry == entry) out.push_back(c);
        return out;
    }

  private:
    HMODULE module_;
    TFakeMmReset reset_ = nullptr;
    TFakeMmCallCount count_ = nullptr;
    TFakeMmCallAt at_ = nullptr;
};

std::string ReadWholeFile(const std::string& path) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return "<missing>";
    std::string out;
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(f, buf, sizeof buf, &got, nullptr) && got > 0) out.append(buf, got);
    CloseHandle(f);
    return out;
}

std::string MusicResource() {
    HMODULE self = GetModuleHandleA(nullptr);
    HRSRC r = FindResourceA(self, IDR_MUSIC, RT_RCDATA);
    if (!r) return {};
    return std::string(static_cast<const char*>(LockResource(LoadResource(self, r))), SizeofResource(self, r));
}

// The windows a test hands to StartMusic and HandleMusicNotify, as the setup
// hands its main and status windows.
HWND TestMainWindow = nullptr;
HWND TestStatusWindow = nullptr;

HWND MakePlainWindow() {
    return CreateWindowExA(0, "STATIC", "", WS_POPUP, 10, 10, 50, 50, nullptr, nullptr, GetModuleHandleA(nullptr),
                           nullptr);
}

class SoundsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(fake.Ready()) << "fakewinmm.dll not found beside the test";
        InitSoundsModule("fakewinmm.dll");
        fake.Reset(2);
        MusicFile.clear();
    }
    void TearDown() override {
        DoneSoundsModule();
        if (TestMainWindow) DestroyWindow(TestMainWindow);
        if (TestStatusWindow) DestroyWindow(TestStatusWindow);
        TestMainWindow = TestStatusWindow = nullptr;
        if (!MusicFile.empty()) DeleteFileA(MusicFile.c_str());
        MusicFile.clear();
    }
    TFakeLibrary fake{"fakewinmm.dll"};
};

TEST_F(SoundsTest, BindsTheLibraryByNameAndEveryEntryIsOptional) {
    struct TCase {
        const char* library;
        bool play, setVolume, numDevs;
    };
    const TCase cases[] = {
        {"fakewinmm.dll", true, true, true},
        {"fakewinmm_part.dll", true, true, false},
        {"novoz_no_such_library.dll", false, false, false},
        {"winmm.dll", true, true, true},  // the real one: the names must be right
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.library);
        InitSoundsModule(c.library);
        TSoundEntries bound = BoundSoundEntries();
        EXPECT_EQ(bound.playSound, c.play);
        EXPECT_EQ(bound.midiOutSetVolume, c.setVolume);
        EXPECT_EQ(bound.midiOutGetNumDevs, c.numDevs);
        EXPECT_FALSE(bound.mciSendString) << "mciSendStringA is bound by StartMusic only";
        DoneSoundsModule();
        bound = BoundSoundEntries();
        EXPECT_FALSE(bound.playSound);
        EXPECT_FALSE(bound.midiOutSetVolume);
        EXPECT_FALSE(bound.midiOutGetNumDevs);
    }
}

TEST_F(SoundsTest, PlaysProgramResourcesWithResourceFlagAdded) {
    PlaySoundResource(IDW_WELCOME, SND_ASYNC);
    const auto calls = fake.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].entry, "PlaySoundA");
    EXPECT_EQ(calls[0].text, "WELCOME");
    EXPECT_EQ(calls[0].a, reinterpret_cast<UINT_PTR>(GetModuleHandleA(nullptr)));
    EXPECT_EQ(calls[0].b, static_cast<UINT_PTR>(SND_ASYNC | SND_RESOURCE));

    // PlaySoundA with SND_RESOURCE finds sounds of type "WAVE" by name.
    for (const char* name : {IDW_WELCOME, IDW_WAIT, IDW_FINISHED, IDW_HIGHERVERSION})
        EXPECT_NE(FindResourceA(GetModuleHandleA(nullptr), name, RT_WAVE_NAME), nullptr) << name;
}

TEST_F(SoundsTest, SetsEveryMidiDeviceByNumber) {
    fake.Reset(3);
    SetMusicVolume(0x24002400);
    auto sets = fake.Calls("midiOutSetVolume");
    ASSERT_EQ(sets.size(), 3u);
    for (UINT_PTR i = 0; i < 3; ++i) {
        EXPECT_EQ(sets[i].a, i);
        EXPECT_EQ(sets[i].b, 0x24002400u);
    }
    EXPECT_EQ(fake.Calls("midiOutGetNumDevs").size(), 1u);

    fake.Reset(0);  // no MIDI output device: nothing to set
    SetMusicVolume(0xFFFFFFFF);
    EXPECT_TRUE(fake.Calls("midiOutSetVolume").empty());
}

TEST_F(SoundsTest, LevelsBecomeVolumeWords) {
    EXPECT_EQ(MusicLevelVolume(0), 0u);
    EXPECT_EQ(MusicLevelVolume(10), 0x0A000A00u);
    EXPECT_EQ(MusicLevelVolume(36), 0x24002400u);
    EXPECT_EQ(MusicLevelVolume(255), 0xFF00FF00u);
}

TEST_F(SoundsTest, MissingEntriesSilenceTheirFeaturesOnly) {
    TFakeLibrary part("fakewinmm_part.dll");
    ASSERT_TRUE(part.Ready());
    InitSoundsModule("fakewinmm_part.dll");
    part.Reset(2);
    SetMusicVolume(0xFFFFFFFF);  // needs midiOutGetNumDevs too
    PlaySoundResource(IDW_WAIT, SND_ASYNC);
    const auto calls = part.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].entry, "PlaySoundA");
    EXPECT_EQ(calls[0].text, "WAIT");

    // StartMusic finds no mciSendStringA: no file, no command, but the status
    // window is still shown.
    TestStatusWindow = MakePlainWindow();
    StartMusic(TestMainWindow, TestStatusWindow);
    EXPECT_FALSE(BoundSoundEntries().mciSendString);
    EXPECT_TRUE(MusicFile.empty());
    EXPECT_TRUE(IsWindowVisible(TestStatusWindow));
    HandleMusicNotify(MCI_NOTIFY_SUCCESSFUL, TestMainWindow);
    CloseMusic();
    EXPECT_EQ(part.Calls().size(), 1u);

    // Without any library every operation does nothing.
    InitSoundsModule("novoz_no_such_library.dll");
    SetMusicVolume(0);
    PlaySoundResource(IDW_WAIT, SND_ASYNC);
    StartMusic(TestMainWindow, TestStatusWindow);
    EXPECT_FALSE(BoundSoundEntries().mciSendString);
}

TEST_F(SoundsTest, StartMusicWritesTheMusicOpensPlaysAndShowsTheStatusWindow) {
    TestMainWindow = MakePlainWindow();
    TestStatusWindow = MakePlainWindow();
    HWND active = GetActiveWindow();
    StartMusic(TestMainWindow, TestStatusWindow);

    ASSERT_TRUE(BoundSoundEntries().mciSendString);
    EXPECT_EQ(MusicFile, voztest::TempPath() + "_vtsetup.mid");
    const std::string music = MusicResource();
    ASSERT_EQ(music.size(), 3785u);
    EXPECT_EQ(music.substr(0, 4), "MThd");
    EXPECT_EQ(ReadWholeFile(MusicFile), music);

    const auto mci = fake.Calls("mciSendStringA");
    ASSERT_EQ(mci.size(), 2u);
    EXPECT_EQ(mci[0].text, "open \"" + MusicFile + "\" type sequencer alias " + kAlias);
    EXPECT_EQ(mci[0].c, 0u);
    EXPECT_EQ(mci[1].text, "play " + kAlias + " notify");
    EXPECT_EQ(mci[1].c, reinterpret_cast<UINT_PTR>(TestMainWindow));
    for (const TCall& c : mci) {
        EXPECT_EQ(c.a, 0u);  // no return buffer
        EXPECT_EQ(c.b, 0u);
    }

    EXPECT_TRUE(IsWindowVisible(TestStatusWindow));
    EXPECT_EQ(GetActiveWindow(), active) << "the status window is shown without activation";
}

TEST_F(SoundsTest, UnwritableMusicFileSendsNoCommandButKeepsTheName) {
    char saved[MAX_PATH] = {};
    const DWORD had = GetEnvironmentVariableA("TMP", saved, sizeof saved);
    ASSERT_TRUE(SetEnvironmentVariableA("TMP", "C:\\novoz_missing_folder\\"));
    TestStatusWindow = MakePlainWindow();
    StartMusic(TestMainWindow, TestStatusWindow);
    SetEnvironmentVariableA("TMP", had ? saved : nullptr);

    EXPECT_EQ(MusicFile, "C:\\novoz_missing_folder\\_vtsetup.mid");
    EXPECT_TRUE(fake.Calls("mciSendStringA").empty());
    EXPECT_TRUE(IsWindowVisible(TestStatusWindow));
    MusicFile.clear();
}

TEST_F(SoundsTest, SuccessfulCompletionRestartsTheMusicOtherNoticesEndIt) {
    TestMainWindow = MakePlainWindow();
    TestStatusWindow = MakePlainWindow();
    StartMusic(TestMainWindow, TestStatusWindow);
    fake.Reset(2);

    HandleMusicNotify(MCI_NOTIFY_SUCCESSFUL, TestMainWindow);
    auto mci = fake.Calls("mciSendStringA");
    ASSERT_EQ(mci.size(), 2u);
    EXPECT_EQ(mci[0].text, "seek " + kAlias + " to start");
    EXPECT_EQ(mci[0].c, 0u);
    EXPECT_EQ(mci[1].text, "play " + kAlias + " notify ");
    EXPECT_EQ(mci[1].c, reinterpret_cast<UINT_PTR>(TestMainWindow));

    for (WPARAM code : {WPARAM{MCI_NOTIFY_SUPERSEDED}, WPARAM{MCI_NOTIFY_ABORTED}, WPARAM{MCI_NOTIFY_FAILURE}}) {
        fake.Reset(2);
        HandleMusicNotify(code, TestMainWindow);
        EXPECT_TRUE(fake.Calls().empty()) << "code " << code;
    }

    fake.Reset(2);
    CloseMusic();
    mci = fake.Calls("mciSendStringA");
    ASSERT_EQ(mci.size(), 1u);
    EXPECT_EQ(mci[0].text, "close " + kAlias);
    EXPECT_EQ(mci[0].c, 0u);

    // The shutdown forgets StartMusic's binding too: a late notice sends nothing.
    DoneSoundsModule();
    EXPECT_FALSE(BoundSoundEntries().mciSendString);
    fake.Reset(2);
    HandleMusicNotify(MCI_NOTIFY_SUCCESSFUL, TestMainWindow);
    CloseMusic();
    EXPECT_TRUE(fake.Calls().empty());
}

std::vector<std::string> ReplacedPlays;
BOOL WINAPI RecordReplacedPlay(LPCSTR sound, HMODULE, DWORD) {
    ReplacedPlays.push_back(sound);
    return TRUE;
}

TEST_F(SoundsTest, AReplacedEntryIsCalledInsteadAndNullRestoresTheBoundOne) {
    ReplacedPlays.clear();
    SetPlaySoundProc(RecordReplacedPlay);
    PlaySoundResource(IDW_WAIT, SND_ASYNC);
    EXPECT_EQ(ReplacedPlays, std::vector<std::string>{"WAIT"});
    EXPECT_TRUE(fake.Calls().empty());
    EXPECT_TRUE(BoundSoundEntries().playSound) << "a replacement leaves the binding alone";

    SetPlaySoundProc(nullptr);
    PlaySoundResource(IDW_WAIT, SND_ASYNC);
    EXPECT_EQ(ReplacedPlays.size(), 1u);
    ASSERT_EQ(fake.Calls("PlaySoundA").size(), 1u);
    EXPECT_EQ(fake.Calls("PlaySoundA")[0].text, "WAIT");
}

TEST(WriteMemoryToFile, CreatesTruncatesAndFailsCleanly) {
    const voztest::TTempFolder temp("sounds");
    const std::string& folder = temp.path;
    const std::string path = folder + "\\data.bin";

    const std::string big(100000, 'x');
    EXPECT_TRUE(WriteMemoryToFile(big.data(), big.size(), path));
    EXPECT_EQ(ReadWholeFile(path), big);
    const char small[] = {'a', 0, 'b'};
    EXPECT_TRUE(WriteMemoryToFile(small, sizeof small, path));  // an existing file is truncated
    EXPECT_EQ(ReadWholeFile(path), std::string(small, sizeof small));
    EXPECT_TRUE(WriteMemoryToFile(nullptr, 0, path));
    EXPECT_EQ(ReadWholeFile(path), "");

    EXPECT_FALSE(WriteMemoryToFile(small, sizeof small, folder + "\\missing\\data.bin"));
    EXPECT_FALSE(WriteMemoryToFile(small, sizeof small, folder + "\\" + std::string(300, 'n')));
    EXPECT_FALSE(WriteMemoryToFile(small, sizeof small, std::string("C:\\a\0b", 6)));

    EXPECT_FALSE(WriteMemoryToFile(small, sizeof small, folder));  // a folder is no file
}

}  // namespace
