// Module IEToolbarUnit (Perusant only): the browser toolbar button and
// Tools-menu entry that start the product's main program.
//
// The button definition is machine-wide (HKEY_LOCAL_MACHINE); each user hive
// keeps its own command id for it and its own stored toolbar layout, into
// which the button is placed so that it shows without the user customising
// the toolbar. Nothing here shows a message; a hive whose browser keys are
// missing or look unexpected is left untouched.
#pragma once

#include <windows.h>

#include <string>

#include "Profile.h"

VOZ_REQUIRE_FEATURE(kHasBrowserButton);

// Writes the button definition, then adds the button to the layout of the
// current user and of every other user hive loaded under HKEY_USERS (except
// ".Default"). False only when the button definition could not be created;
// the layouts are then not visited.
bool RegisterBrowserButton(const std::string& mainProgramPath);

// Creates or opens the button definition key and writes its eight text
// values ("ButtonText", "clsid", "Default Visible", "Exec", "HotIcon",
// "Icon", "MenuStatusBar", "MenuText", in this order). The icons are the main
// program's resources 1003/1004 on Windows XP and later, 1001/1002 before.
// True only when the key was opened and all eight values were written; a
// failed value does not stop the others. A path holding a zero byte writes
// nothing and gives false.
bool WriteButtonKey(const std::string& mainProgramPath);

// For one hive root (HKEY_CURRENT_USER, a user's key under HKEY_USERS, or any
// key laid out like one): takes the button's command id from the hive's
// command mapping, allocating it from "NextId" when there is none, and
// inserts a record for it into the stored toolbar layout, after the first
// record whose slot word is 0xFFFFFFFF (at the end when there is none). A
// layout that already holds the command id, or that is not a binary value of
// 4 + 28*n bytes, is not rewritten.
void AddButtonToLayout(HKEY hiveRoot);
