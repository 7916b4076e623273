// Module Sounds: see Sounds.h.
#include "Sounds.h"

#include "Profile.h"
#include "ShortUtl.h"
#include "resource.h"

TPlaySoundProc PlaySoundProc = nullptr;
TMidiOutSetVolumeProc MidiOutSetVolumeProc = nullptr;
TMidiOutGetNumDevsProc MidiOutGetNumDevsProc = nullptr;
TMciSendProc MciSendProc = nullptr;
std::string MusicFile;

namespace {

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
    if (!MciSendProc) return;
    /* result = */ (void)MciSendProc(command.c_str(), nullptr, 0, callback);
}

}  // namespace

void InitSoundsModule(const char* libraryName) {
    DoneSoundsModule();
    MultimediaLibraryName = libraryName ? libraryName : "";
    MultimediaLibrary = LoadLibraryA(MultimediaLibraryName.c_str());
    MidiOutSetVolumeProc = BindEntry<TMidiOutSetVolumeProc>(MultimediaLibrary, "midiOutSetVolume");
    PlaySoundProc = BindEntry<TPlaySoundProc>(MultimediaLibrary, "PlaySoundA");
    MidiOutGetNumDevsProc = BindEntry<TMidiOutGetNumDevsProc>(MultimediaLibrary, "midiOutGetNumDevs");
}

void DoneSoundsModule() {
    PlaySoundProc = nullptr;
    MidiOutSetVolumeProc = nullptr;
    MidiOutGetNumDevsProc = nullptr;
    if (MultimediaLibrary) FreeLibrary(MultimediaLibrary);
    MultimediaLibrary = nullptr;
}

void PlaySoundResource(const char* name, DWORD flags) {
    if (!PlaySoundProc) return;
    /* result = */ (void)PlaySoundProc(name, GetModuleHandleA(nullptr), flags | SND_RESOURCE);
}

void SetMusicVolume(DWORD volume) {
    if (!MidiOutSetVolumeProc || !MidiOutGetNumDevsProc) return;
    const UINT count = MidiOutGetNumDevsProc();
    for (UINT device = 0; device < count; ++device)
        (void)MidiOutSetVolumeProc(reinterpret_cast<HMIDIOUT>(static_cast<UINT_PTR>(device)), volume);
}

DWORD MusicLevelVolume(int level) {
    const DWORD channel = static_cast<DWORD>(level) * 256u;
    return channel | (channel << 16);
}

void StartMusic(HWND notifyWindow, HWND statusWindow) {
    // This load is kept for the rest of the run: the completion notices and
    // the shutdown still send commands through it.
    HMODULE library = LoadLibraryA(MultimediaLibraryName.c_str());
    MciSendProc = BindEntry<TMciSendProc>(library, "mciSendStringA");

    if (MciSendProc) {
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
    if (!MciSendProc || code != MCI_NOTIFY_SUCCESSFUL) return;
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
