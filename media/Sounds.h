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

// Which entry points are bound: the three of InitSoundsModule
// ("PlaySoundA", "midiOutSetVolume", "midiOutGetNumDevs") and the one
// StartMusic binds ("mciSendStringA"). Each is false when the library or the
// function is missing, before its binding and after DoneSoundsModule.
struct TSoundEntries {
    bool playSound = false;
    bool midiOutSetVolume = false;
    bool midiOutGetNumDevs = false;
    bool mciSendString = false;
};
TSoundEntries BoundSoundEntries();

// Full path of the music file in the temp folder; empty until StartMusic has
// named it. It keeps its value when writing the file failed, so the shutdown
// still tries to delete it.
extern std::string MusicFile;

// Start-up step: loads the multimedia library by name and binds "PlaySoundA",
// "midiOutSetVolume" and "midiOutGetNumDevs". A missing library or function leaves its entry point
// empty and reports nothing. The library name is "winmm.dll"; tests pass
// their own. Calling it again releases the previous binding first.
void InitSoundsModule(const char* libraryName = "winmm.dll");

// Shutdown step: releases the library and empties every bound entry point,
// StartMusic's "mciSendStringA" among them (its own load of the library is
// never released). Replacements set below stay.
void DoneSoundsModule();

// Plays the program's WAVE resource name with "PlaySoundA", adding
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

// Sends "close <alias>" when "mciSendStringA" is bound.
void CloseMusic();

// Creates path anew (an existing file is truncated), writes length bytes of
// data and closes it. True when every step succeeded; false for an
// over-long path, a missing folder or any write error.
bool WriteMemoryToFile(const void* data, size_t length, const std::string& path);

// ---- Test seams --------------------------------------------------------------
// Each setter replaces one entry point of the multimedia library; nullptr
// restores the bound one (or none, when nothing is bound).
using TPlaySoundProc = BOOL(WINAPI*)(LPCSTR sound, HMODULE module, DWORD flags);
void SetPlaySoundProc(TPlaySoundProc proc);
using TMidiOutSetVolumeProc = MMRESULT(WINAPI*)(HMIDIOUT device, DWORD volume);
void SetMidiOutSetVolumeProc(TMidiOutSetVolumeProc proc);
using TMidiOutGetNumDevsProc = UINT(WINAPI*)();
void SetMidiOutGetNumDevsProc(TMidiOutGetNumDevsProc proc);
using TMciSendProc = MCIERROR(WINAPI*)(LPCSTR command, LPSTR returnString, UINT returnLength, HWND callback);
void SetMciSendProc(TMciSendProc proc);
