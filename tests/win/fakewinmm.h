// A stand-in for the multimedia library, built as fakewinmm.dll (all four
// entry points) and fakewinmm_part.dll (PlaySoundA and midiOutSetVolume
// only). Each call is recorded; the tests read the record through the
// accessors below, bound by name like everything else here.
#pragma once

#include <windows.h>

typedef struct FakeMmCall {
    char entry[24];  // exported name that was called
    char text[600];  // PlaySoundA: sound name; mciSendStringA: command
    UINT_PTR a;      // PlaySoundA: module; midiOutSetVolume: device; mciSendStringA: return buffer
    UINT_PTR b;      // PlaySoundA: flags; midiOutSetVolume: volume; mciSendStringA: buffer length
    UINT_PTR c;      // mciSendStringA: callback window
} FakeMmCall;

// Exported as FakeMmReset, FakeMmCallCount and FakeMmCallAt.
typedef void(__cdecl* TFakeMmReset)(UINT midiDevices);
typedef int(__cdecl* TFakeMmCallCount)(void);
typedef const FakeMmCall*(__cdecl* TFakeMmCallAt)(int index);
