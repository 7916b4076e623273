// Module shortcut: the Start menu's Programs folder and the desktop, and the
// shell links (".lnk" files) the setup puts there.
//
// Nothing here shows a message; each operation answers with a boolean.
// COM is initialised and uninitialised around every link, so the calls do
// not depend on each other. Call on the setup's single thread only.
#pragma once

#include <windows.h>

#include <string>

// File-system path of the Start menu's Programs folder, without a trailing
// backslash: the all-users folder when an administrator runs the setup on
// the NT family, the user's own folder otherwise. Empty when unresolved.
extern std::string ProgramsFolder;
// The current user's desktop folder; empty when unresolved.
extern std::string DesktopFolder;

// Start-up: resolves ProgramsFolder and DesktopFolder (keeps its own OS
// version record for the choice). Shutdown clears them.
void InitShortcut();
void DoneShortcut();

// Creates folder + "\" + name + ".lnk" pointing at target, replacing a file
// of that name. The working directory is the target's folder (a drive root
// keeps its backslash), the description is name; hotKey, when not 0, is a
// shell-link hot key (low byte virtual-key code, high byte HOTKEYF_ flags).
// With notify the shell is told that folder changed, before and after the
// save. True when the link file was saved. A link path longer than
// MAX_PATH - 1 characters fails and leaves any old link in place; a failed
// save leaves no file.
bool CreateLink(const std::string& target, const std::string& folder, const std::string& name, bool notify,
                WORD hotKey);

// Creates ProgramsFolder + "\" + group with default security. False when the
// folder exists already or ProgramsFolder is empty.
bool CreateProgramGroup(const std::string& group);

// Deletes every "*.lnk" file directly in ProgramsFolder + "\" + group (not in
// sub-folders; nothing else). Does nothing when ProgramsFolder is empty.
void DeleteGroupLinks(const std::string& group);

// CreateLink(target, ProgramsFolder + "\" + group, name, notify, hotKey);
// an empty group puts the link in ProgramsFolder itself. False when
// ProgramsFolder is empty.
bool CreateGroupShortcut(const std::string& group, const std::string& name, const std::string& target, WORD hotKey);

// CreateLink(target, DesktopFolder, name, no notification, hotKey); false
// when DesktopFolder is empty.
bool CreateDesktopShortcut(const std::string& name, const std::string& target, WORD hotKey);
