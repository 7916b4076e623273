// Recording stand-in for the multimedia library (see fakewinmm.h). Built
// without <mmsystem.h>, whose declarations would clash with these exports.
#define WIN32_LEAN_AND_MEAN
#include "fakewinmm.h"

#define FAKE_EXPORT __declspec(dllexport)
#define FAKE_MAX_CALLS 1024

static FakeMmCall Calls[FAKE_MAX_CALLS];
static int CallCount = 0;
static UINT MidiDevices = 2;

static void Record(const char* entry, const char* text, UINT_PTR a, UINT_PTR b, UINT_PTR c) {
    if (CallCount >= FAKE_MAX_CALLS) return;
    FakeMmCall* call = &Calls[CallCount++];
    lstrcpynA(call->entry, entry, sizeof call->entry);
    call->text[0] = 0;
    if (text && !IS_INTRESOURCE(text)) lstrcpynA(call->text, text, sizeof call->text);
    call->a = a;
    call->b = b;
    call->c = c;
}

FAKE_EXPORT void __cdecl FakeMmReset(UINT midiDevices) {
    CallCount = 0;
    MidiDevices = midiDevices;
}

FAKE_EXPORT int __cdecl FakeMmCallCount(void) { return CallCount; }

FAKE_EXPORT const FakeMmCall* __cdecl FakeMmCallAt(int index) {
    return index >= 0 && index < CallCount ? &Calls[index] : NULL;
}

FAKE_EXPORT BOOL WINAPI PlaySoundA(LPCSTR sound, HMODULE module, DWORD flags) {
    Record("PlaySoundA", sound, (UINT_PTR)module, flags, 0);
    return TRUE;
}

FAKE_EXPORT UINT WINAPI midiOutSetVolume(HANDLE device, DWORD volume) {
    Record("midiOutSetVolume", NULL, (UINT_PTR)device, volume, 0);
    return 0;
}

#ifndef FAKEWINMM_PARTIAL
FAKE_EXPORT UINT WINAPI midiOutGetNumDevs(void) {
    Record("midiOutGetNumDevs", NULL, 0, 0, 0);
    return MidiDevices;
}

FAKE_EXPORT DWORD WINAPI mciSendStringA(LPCSTR command, LPSTR returnString, UINT returnLength, HWND callback) {
    Record("mciSendStringA", command, (UINT_PTR)returnString, returnLength, (UINT_PTR)callback);
    return 0;
}
#endif
