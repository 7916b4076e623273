// Module Sounds: event sounds, the MIDI volume and the background music.
//
// The multimedia library is never linked: it is bound by name, so a system
// without it (or without one of its functions) runs the setup silently.
// Every entry point below may be empty; each operation that needs one does
// nothing without it.
//
// The music is the program's MIDI resource, written to the temp folder and
// played through MCI under the product's alias; each successful completion
// notice (MM_MCINOTIFY to the window the caller names, the setup's main
// window) restarts it from the beginning. The module knows no window of its
// own: the callers pass them in.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <cstddef>
#include <string>

// Signatures of the bound entry points, as the multimedia library exports them.
using TPlaySoundProc = BOOL(WINAPI*)(LPCSTR sound, HMODULE module, DWORD flags);
using TMidiOutSetVolumeProc = MMRESULT(WINAPI*)(HMIDIOUT device, DWORD volume);
using TMidiOutGetNumDevsProc = UINT(WINAPI*)();
using TMciSendProc = MCIERROR(WINAPI*)(LPCSTR command, LPSTR returnString, UINT returnLength, HWND callback);

// Bound by InitSoundsModule ("PlaySoundA", "midiOutSetVolume",
// "midiOutGetNumDevs"); empty when missing and after DoneSoundsModule.
// Tests may put recording procedures here.
extern TPlaySoundProc PlaySoundProc;
extern TMidiOutSetVolumeProc MidiOutSetVolumeProc;
extern TMidiOutGetNumDevsProc MidiOutGetNumDevsProc;

// "mciSendStringA", resolved by StartMusic; empty until then and when the
// library or the function is missing.
extern TMciSendProc MciSendProc;

// Full path of the music file in the temp folder; empty until StartMusic has
// named it. It keeps its value when writing the file failed, so the shutdown
// still tries to delete it.
extern std::string MusicFile;

// Start-up step: loads the multimedia library by name and binds the three
// entry points above. A missing library or function leaves its entry point
// empty and reports nothing. The library name is "winmm.dll"; tests pass
// their own. Calling it again releases the previous binding first.
void InitSoundsModule(const char* libraryName = "winmm.dll");

// Shutdown step: releases the library and empties the entry points bound by
// InitSoundsModule (MciSendProc comes from StartMusic's own, never released
// load of the library and stays).
void DoneSoundsModule();

// Plays the program's WAVE resource name with PlaySoundProc, adding
// SND_RESOURCE to flags (callers pass SND_ASYNC). The result is ignored.
void PlaySoundResource(const char* name, DWORD flags);

// Sets every MIDI output device (numbers 0 .. count - 1, passed in place of a
// device handle) to volume: left channel in the low 16 bits, right in the
// high 16 bits, 0 silent, 0xFFFF full. Needs both MIDI entry points.
void SetMusicVolume(DWORD volume);

// The volume word for a music level 0..255: level * 256 in both channels.
DWORD MusicLevelVolume(int level);

// Called once, shortly after the licence page opens: loads the library again
// (never released) for "mciSendStringA", writes the music into the temp folder
// as kMusicFileName, opens it as a sequencer under kMciAlias and plays it with
// completion notices to notifyWindow. In every case it then shows
// statusWindow without activating it.
void StartMusic(HWND notifyWindow, HWND statusWindow);

// MM_MCINOTIFY handling of notifyWindow (the window that got the notice): a
// successful completion (code MCI_NOTIFY_SUCCESSFUL) seeks to the start and
// plays again with a notice to it; any other code ends the loop.
void HandleMusicNotify(WPARAM code, HWND notifyWindow);

// Sends "close <alias>" when MciSendProc is present.
void CloseMusic();

// Creates path anew (an existing file is truncated), writes length bytes of
// data and closes it. True when every step succeeded; false for an
// over-long path, a missing folder or any write error.
bool WriteMemoryToFile(const void* data, size_t length, const std::string& path);
