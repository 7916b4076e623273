// Resource names and numbers of the setup, and the control IDs of its
// dialogs. Included by the resource scripts and by the code; both products
// carry the same names and numbers.
#pragma once

// ---- Dialogs ------------------------------------------------------------
#define IDD_FOLDERBROWSER 100  // folder browser (SelDir)
#define IDD_MAINPAGE 200       // main setup page
#define IDD_LICENCEPAGE 400    // licence agreement page
#define IDD_FINISHPAGE 500     // finish page
#define IDD_STATUS 600         // status window (modeless)

// ---- Bitmaps ------------------------------------------------------------
// The slides are numbered: slide k (0 to 5) is bitmap IDB_SLIDE_FIRST + k.
#define IDB_SLIDE_FIRST 103
#define IDB_SLIDE_LAST 108
#define IDB_SLIDE_COUNT 6

// ---- Icons (numbered) ---------------------------------------------------
#define IDI_DESTINATION 2        // main page, beside the destination group
#define IDI_SETUP 3              // setup package
#define IDI_INFO 4               // main page introduction, finish page
#define IDI_LICENCE 5            // licence page
#define IDI_FOLDER 1001          // folder browser: sub-folders
#define IDI_PRODUCT_FOLDER 1002  // folder browser: the product folder entry
#define IDI_OPEN_FOLDER 1003     // folder browser: folders on the path
#define IDI_DRIVE_CDROM 1101
#define IDI_DRIVE_REMOVABLE 1102
#define IDI_DRIVE_FIXED 1103  // fixed disks and RAM disks
#define IDI_DRIVE_NETWORK 1104

// ---- Controls -----------------------------------------------------------
// Licence agreement page (IDOK "I accept", IDCANCEL "I do not accept").
#define IDC_LICENCE_ICON 207
#define IDC_LICENCE_TEXT 401

// Main setup page.
#define IDC_MAIN_START 201
#define IDC_MAIN_CANCEL 202
#define IDC_MAIN_BROWSE 203
#define IDC_MAIN_INTRO 204
#define IDC_MAIN_DEST_GROUP 205
#define IDC_MAIN_DEST 206
#define IDC_MAIN_INTRO_ICON 207
#define IDC_MAIN_DEST_ICON 208
#define IDC_MAIN_BROWSER_NOTE 219

// Folder browser (IDCANCEL "Cancel").
#define IDC_SEL_LABEL 102
#define IDC_SEL_PATH 103
#define IDC_SEL_FOLDERS_LABEL 104
#define IDC_SEL_FOLDERS 105
#define IDC_SEL_DRIVES_LABEL 106
#define IDC_SEL_DRIVES 107
#define IDC_SEL_OK 108

// Finish page (IDOK "OK").
#define IDC_FIN_DESKTOP 204
#define IDC_FIN_ASSOCIATE 205
#define IDC_FIN_HOTKEY 207
#define IDC_FIN_TEXT 208
#define IDC_FIN_HOTKEY_LIST 209
#define IDC_FIN_GROUP 210

// Status window.
#define IDC_STATUS_VOLUME 1000
#define IDC_STATUS_PROGRESS 1001

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// ---- Named resources (for the code; the scripts write the names bare) ----
#ifndef RC_INVOKED
#define IDI_MAINICON "MAINICON"
#define IDB_BACKGRND "BACKGRND"
#define IDB_PVQUITE "PVQUITE"
#define IDW_WELCOME "WELCOME"
#define IDW_WAIT "WAIT"
#define IDW_FINISHED "FINISHED"
#define IDW_HIGHERVERSION "HIGHERVERSIONOFWINDOWSREQUIRED"
// Resource type of the sounds; PlaySoundA with SND_RESOURCE looks for it.
#define RT_WAVE_NAME "WAVE"
// The background music: a standard MIDI file of kMusicSize bytes, RCDATA.
#define IDR_MUSIC "MUSIC"
#endif
