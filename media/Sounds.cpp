// Module Sounds: see Sounds.h.
#include "Sounds.h"

#include "Profile.h"
#include "ShortUtl.h"
#include "resource.h"

std::string MusicFile;

namespace {

// The entry points, as bound from the library and as replaced by a test.
struct TEntryPoints {
    TPlaySoundProc playSound = nullptr;
    TMidiOutSetVolumeProc midiOutSetVolume = nullptr;
    TMidiOutGetNumDevsProc midiOutGetNumDevs = nullptr;
    TMciSendProc mciSendString = nullptr;
};
TEntryPoints Bound;
TEntryPoints Replaced;

template <typename T>
T Entry(T replaced, T bound) {
    return replaced ? replaced : bound;
}
TPlaySoundProc PlaySoundEntry() { return Entry(Replaced.playSound, Bound.playSound); }
TMidiOutSetVolumeProc SetVolumeEntry() { return Entry(Replaced.midiOutSetVolume, Bound.midiOutSetVolume); }
TMidiOutGetNumDevsProc NumDevsEntry() { return Entry(Replaced.midiOutGetNumDevs, Bound.midiOutGetNumDevs); }
TMciSendProc MciEntry() { return Entry(Replaced.mciSendString, Bound.mciSendString); }

HMODULE MultimediaLibrary = nullptr;
// StartMusic loads the same library the start-up step bound.
std::string MultimediaLibraryName = "winmm.dll";

// GetProcAddress hands back a generic pointer; each entry point has its own
// signature, checked by the caller's variable type.
template <typename T>
T BindEntry(HMODULE library, const char* name) {
    if (!library) return nullptr;
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

void SendMci(const std::string& command, HWND callback) {
    const TMciSendProc send = MciEntry();
    if (!send) return;
    /* result = */ (void)send(command.c_str(), nullptr, 0, callback);
}

}  // namespace

void InitSoundsModule(const char* libraryName) {
    DoneSoundsModule();
    MultimediaLibraryName = libraryName ? libraryName : "";
    MultimediaLibrary = LoadLibraryA(MultimediaLibraryName.c_str());
    Bound.midiOutSetVolume = BindEntry<TMidiOutSetVolumeProc>(MultimediaLibrary, "midiOutSetVolume");
    Bound.playSound = BindEntry<TPlaySoundProc>(MultimediaLibrary, "PlaySoundA");
    Bound.midiOutGetNumDevs = BindEntry<TMidiOutGetNumDevsProc>(MultimediaLibrary, "midiOutGetNumDevs");
}

void DoneSoundsModule() {
    Bound = TEntryPoints();
    if (MultimediaLibrary) FreeLibrary(MultimediaLibrary);
    MultimediaLibrary = nullptr;
}

TSoundEntries BoundSoundEntries() {
    TSoundEntries bound;
    bound.playSound = Bound.playSound != nullptr;
    bound.midiOutSetVolume = Bound.midiOutSetVolume != nullptr;
    bound.midiOutGetNumDevs = Bound.midiOutGetNumDevs != nullptr;
    bound.mciSendString = Bound.mciSendString != nullptr;
    return bound;
}

void PlaySoundResource(const char* name, DWORD flags) {
    const TPlaySoundProc play = PlaySoundEntry();
    if (!play) return;
    /* result = */ (void)play(name, GetModuleHandleA(nullptr), flags | SND_RESOURCE);
}

void SetMusicVolume(DWORD volume) {
    const TMidiOutSetVolumeProc setVolume = SetVolumeEntry();
    const TMidiOutGetNumDevsProc numDevs = NumDevsEntry();
    if (!setVolume || !numDevs) return;
    const UINT count = numDevs();
    for (UINT device = 0; device < count; ++device)
        (void)setVolume(reinterpret_cast<HMIDIOUT>(static_cast<UINT_PTR>(device)), volume);
}

DWORD MusicLevelVolume(int level) {
    const DWORD channel = static_cast<DWORD>(level) * 256u;
    return channel | (channel << 16);
}

void StartMusic(HWND notifyWindow, HWND statusWindow) {
    // This load is kept for the rest of the run: the completion notices and
    // the shutdown still send commands through it.
    HMODULE library = LoadLibraryA(MultimediaLibraryName.c_str());
    Bound.mciSendString = BindEntry<TMciSendProc>(library, "mciSendStringA");

    if (MciEntry()) {
        char temp[MAX_PATH];
        const DWORD length = GetTempPathA(sizeof temp, temp);
        // No usable temp folder: the music stays off rather than landing in
        // whatever folder is current.
        if (length > 0 && length < sizeof temp) {
            MusicFile = std::string(temp, length) + kMusicFileName;
            HINSTANCE instance = GetModuleHandleA(nullptr);
            HRSRC found = FindResourceA(instance, IDR_MUSIC, RT_RCDATA);
            HGLOBAL loaded = found ? LoadResource(instance, found) : nullptr;
            const void* data = loaded ? LockResource(loaded) : nullptr;
            const DWORD size = found ? SizeofResource(instance, found) : 0;
            if (data && size > 0 && WriteMemoryToFile(data, size, MusicFile)) {
                SendMci(std::string("open \"") + MusicFile + "\" type sequencer alias " + kMciAlias, nullptr);
                SendMci(std::string("play ") + kMciAlias + " notify", notifyWindow);
            }
        }
    }

    ShowWindow(statusWindow, SW_SHOWNOACTIVATE);
}

void HandleMusicNotify(WPARAM code, HWND notifyWindow) {
    if (!MciEntry() || code != MCI_NOTIFY_SUCCESSFUL) return;
    SendMci(std::string("seek ") + kMciAlias + " to start", nullptr);
    SendMci(std::string("play ") + kMciAlias + " notify ", notifyWindow);
}

void CloseMusic() { SendMci(std::string("close ") + kMciAlias, nullptr); }

bool WriteMemoryToFile(const void* data, size_t length, const std::string& path) {
    if (!PathFitsAnsiCall(path)) return false;
    if (length > 0 && !data) return false;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    const char* next = static_cast<const char*>(data);
    size_t left = length;
    while (ok && left > 0) {
        const DWORD chunk = static_cast<DWORD>(left < (1u << 30) ? left : (1u << 30));
        DWORD written = 0;
        ok = WriteFile(file, next, chunk, &written, nullptr) && written == chunk;
        next += chunk;
        left -= chunk;
    }
    if (!CloseHandle(file)) ok = false;
    return ok;
}

void SetPlaySoundProc(TPlaySoundProc proc) { Replaced.playSound = proc; }
void SetMidiOutSetVolumeProc(TMidiOutSetVolumeProc proc) { Replaced.midiOutSetVolume = proc; }
void SetMidiOutGetNumDevsProc(TMidiOutGetNumDevsProc proc) { Replaced.midiOutGetNumDevs = proc; }
void SetMciSendProc(TMciSendProc proc) { Replaced.mciSendString = proc; }
