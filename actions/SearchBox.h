// Module SearchBox: installs the vendor's search-box helper, shared by both
// products, into the shared vendor folder and starts it at logon.
//
// Nothing here shows a message or reports a failure: a helper that cannot be
// stopped, copied, registered or started leaves the installation as it is.
#pragma once

#include <string>

// On Windows XP and later (from the start-up OS version record): when the
// extracted "\SeekBox.exe" in destination is newer than the one installed in
// sharedVendorFolder, asks a running helper to quit (through its lock file
// "SeekBox.tmp" and WM_QUIT, waiting at most about 10.5 seconds), makes the
// folder and copies the new helper over the old one; then, whether or not
// it was replaced, registers the installed copy to start at logon ("Run"
// value "VTSeekBox" under HKEY_LOCAL_MACHINE) and starts it. On every system
// the extracted copy in destination is deleted afterwards.
void InstallSearchBoxHelper(const std::string& destination, const std::string& sharedVendorFolder);
