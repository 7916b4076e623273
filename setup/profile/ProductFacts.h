// The product facts that the setups, the sample products, their resource
// scripts and the tests share: the names of both products, the vendor's
// names, the version, and the registry and window names that the setup and
// the uninstaller must agree on. Plain macros, so that resource scripts can
// use them too.
//
// The per-letter table is also read by the build files (cmake/ProductFacts.cmake),
// the shell scripts (scripts/product-lib.sh) and scripts/gen-assets, line by
// line: keep each of its entries on one line of the form
//   #define VOZ_<letter>_<FACT> "text"
//
// A program of one product is built with VOZ_PROFILE_A or VOZ_PROFILE_B and
// finds its own facts under PRODUCT_...; the programs that both products
// share (search box, readers) define neither and use the shared facts only.
#pragma once

// ---- Per product, by profile letter ------------------------------------
// FULL_NAME: the product's name (program group, uninstall entry, titles).
// SHORT_NAME: the main program's and the data files' base name, and the
// install folder below the vendor folder.
// SETUP_NAME: the setup program's base name.
// QUERY_EXTENSION: the query folder files' extension, without the dot.
// QUERY_MARKER: the text a query folder file begins with; the setup keeps a
// user's file across a re-installation only when it does.
// QUERY_TYPE: the file type that the query folder extension names.
#define VOZ_A_FULL_NAME "Perusant"
#define VOZ_A_SHORT_NAME "Perus"
#define VOZ_A_SETUP_NAME "PerusSetup"
#define VOZ_A_QUERY_EXTENSION "pqf"
#define VOZ_A_QUERY_MARKER "Perusant"
#define VOZ_A_QUERY_TYPE "perus_query_folder"

#define VOZ_B_FULL_NAME "Mailvane"
#define VOZ_B_SHORT_NAME "Mailv"
#define VOZ_B_SETUP_NAME "MailvSetup"
#define VOZ_B_QUERY_EXTENSION "mvf"
// Differs from the full name in letter case; the test is case-sensitive.
#define VOZ_B_QUERY_MARKER "MailVane"
#define VOZ_B_QUERY_TYPE "mailv_query_folder"

// ---- Shared by both products and the vendor's shared programs ---------------
#define VENDOR_NAME "Orvane Technologies"
#define VENDOR_COPYRIGHT "Copyright (C) 2026 Orvane Technologies"
// Common-files folder + this: where the search-box helper lives and keeps
// its lock file. Program Files + this + the short name: the default install
// folder.
#define VENDOR_FOLDER "\\Ovantis"

#define PRODUCT_VERSION_TEXT "5.2"
#define PRODUCT_VERSION_BINARY 5, 2, 0, 0
#define PRODUCT_VERSION_STRING "5.2.0.0"

// The uninstall entry: HKEY_LOCAL_MACHINE, this key + the full name.
#define PRODUCT_UNINSTALL_ROOT "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
// Section of the settings file that the setup writes "Default Language" to.
#define PRODUCT_SETTINGS_SECTION "General"
// Relative to the install folder.
#define PRODUCT_HELP_PROGRAM "Help\\PVQHelp.exe"

// The browser button (product A): the product's own extension class id,
// which also names the button's definition key.
#define BROWSER_BUTTON_CLASS_ID "{5B1E0A77-3C42-4D19-8E6F-27A9C0D4B312}"
#define BROWSER_BUTTON_KEY "Software\\Microsoft\\Internet Explorer\\Extensions\\" BROWSER_BUTTON_CLASS_ID

// The search-box helper in the vendor folder, started at logon through this
// value of HKEY_LOCAL_MACHINE's Run key; its window's class.
// While it runs it holds the lock file beside itself.
#define SEARCH_BOX_PROGRAM "SeekBox.exe"
#define SEARCH_BOX_LOCK_FILE "SeekBox.tmp"
#define SEARCH_BOX_RUN_VALUE "VTSeekBox"
#define SEARCH_BOX_WINDOW_CLASS "VTSeekBoxWnd"

// ---- The product being built ---------------------------------------------------
// Its facts, and its features for the preprocessor (#if); Profile.h gives
// the same features to C++ as kHas... flags.
#if defined(VOZ_PROFILE_A) && defined(VOZ_PROFILE_B)
#error "a program belongs to one product: VOZ_PROFILE_A and VOZ_PROFILE_B are both defined"
#elif defined(VOZ_PROFILE_A)
#define PRODUCT_FULL_NAME VOZ_A_FULL_NAME
#define PRODUCT_SHORT_NAME VOZ_A_SHORT_NAME
#define PRODUCT_QUERY_EXTENSION "." VOZ_A_QUERY_EXTENSION
#define PRODUCT_QUERY_MARKER VOZ_A_QUERY_MARKER
#define PRODUCT_QUERY_TYPE VOZ_A_QUERY_TYPE
#define VOZ_FEATURE_BROWSER_BUTTON 1
#define VOZ_FEATURE_LANGUAGE_CHOICE 1
#define VOZ_FEATURE_EXTENSIONS_LIST 1
#define VOZ_FEATURE_CACHE_CLEANUP 1
#define VOZ_FEATURE_OBSOLETE_FILES 1
#define VOZ_FEATURE_SITE_MAPS 1
#elif defined(VOZ_PROFILE_B)
#define PRODUCT_FULL_NAME VOZ_B_FULL_NAME
#define PRODUCT_SHORT_NAME VOZ_B_SHORT_NAME
#define PRODUCT_QUERY_EXTENSION "." VOZ_B_QUERY_EXTENSION
#define PRODUCT_QUERY_MARKER VOZ_B_QUERY_MARKER
#define PRODUCT_QUERY_TYPE VOZ_B_QUERY_TYPE
#define VOZ_FEATURE_BROWSER_BUTTON 0
#define VOZ_FEATURE_LANGUAGE_CHOICE 0
#define VOZ_FEATURE_EXTENSIONS_LIST 0
#define VOZ_FEATURE_CACHE_CLEANUP 0
#define VOZ_FEATURE_OBSOLETE_FILES 0
#define VOZ_FEATURE_SITE_MAPS 0
#endif

#ifdef PRODUCT_FULL_NAME
#define PRODUCT_MAIN_PROGRAM PRODUCT_SHORT_NAME ".exe"
#define PRODUCT_SETTINGS_FILE PRODUCT_SHORT_NAME ".ini"
#define PRODUCT_DATA_FILE PRODUCT_SHORT_NAME ".pch"
#define PRODUCT_QUERY_FILE "Queries\\NoName" PRODUCT_QUERY_EXTENSION
#define PRODUCT_UNINSTALL_KEY PRODUCT_UNINSTALL_ROOT PRODUCT_FULL_NAME
#endif
