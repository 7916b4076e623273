// Module RegDetect: what the setup reads about the machine before any page
// is shown (OS version, an earlier installation, the default destination,
// the shared vendor folder) and the registry helpers behind it.
//
// Built once per product profile (library regdetect_A / regdetect_B). The
// state below is set by InitRegDetect and read-only afterwards; nothing here
// shows a message, a missing registry key or value gives the documented
// fallback.
#pragma once

#include <windows.h>

#include <string>

// The OS version record (148 bytes, size field set), filled at start-up.
extern OSVERSIONINFOA OsVersionInfo;
// The destination the main page offers: an earlier installation's folder,
// otherwise the Program Files folder + the product's default folder.
extern std::string DefaultDestination;
// True when an earlier installation was found (the destination is locked).
extern bool ExistingInstall;
// The common-files folder + "\Ovantis".
extern std::string SharedVendorFolder;
// Name of the section of the product's settings file the post-install
// actions write under, restored from its complemented form.
extern std::string SettingsSection;
// The main page's introduction text with the current year put in.
extern std::string IntroText;

// The introduction text before the year is put in; the product profile's
// text unless the caller supplies another one. Takes effect at the next
// InitRegDetect.
void SetIntroTemplate(const std::string& text);

// Start-up, in this order: the year into IntroText (first "YYYY" only), the
// settings-section name, OsVersionInfo, SharedVendorFolder, the earlier
// installation (ExistingInstall, DefaultDestination). Running it again
// starts from the profile's values, so it may be repeated. Shutdown
// releases the strings and clears the record.
void InitRegDetect();
void DoneRegDetect();

// Puts the value named valueName of HKEY_LOCAL_MACHINE
// "Software\Microsoft\Windows\CurrentVersion" (e.g. "ProgramFilesDir",
// "CommonFilesDir") in front of text; "C:" instead when the key or value
// cannot be read, is longer than 259 characters, or is empty.
void ReadWindowsDir(const std::string& valueName, std::string& text);

// The "UninstallString" of HKEY_LOCAL_MACHINE
// "SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\" + productKeyName, up
// to its first zero byte, with one leading double quote and then one
// trailing double quote removed. Empty when absent or longer than 260 bytes.
std::string ReadUninstallString(const std::string& productKeyName);

// Major version of the installed web browser: the decimal digits of
// HKEY_LOCAL_MACHINE "Software\Microsoft\Internet Explorer" "Version" before
// the first "." (or the whole text). 0 when the key or value is missing, or
// the text does not start as a plain decimal number.
int GetBrowserMajorVersion();

// The file's version from its version resource: major and minor are the
// high and low 16 bits of the fixed information's most significant file
// version word. False, with both 0, when there is no version resource.
bool GetFileVersionMS(const std::string& path, WORD& major, WORD& minor);
