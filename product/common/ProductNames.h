// Names of the sample product, per profile. Plain macros so that the
// resource scripts can use them too. A product program is built with
// VOZ_PROFILE_A (Perusant) or VOZ_PROFILE_B (Mailvane); the programs shared
// by both products (search box, readers) include VendorNames.h only.
#pragma once

#include "VendorNames.h"

#if defined(VOZ_PROFILE_A) && defined(VOZ_PROFILE_B)
#error "a product program belongs to one profile"
#elif defined(VOZ_PROFILE_A)
#define PRODUCT_FULL_NAME "Perusant"
#define PRODUCT_SHORT_NAME "Perus"
#define PRODUCT_MAIN_PROGRAM "Perus.exe"
#define PRODUCT_SETTINGS_FILE "Perus.ini"
#define PRODUCT_DATA_FILE "Perus.pch"
#define PRODUCT_QUERY_EXTENSION ".pqf"
// A query folder file begins with this text; the setup keeps a user's file
// across a re-installation only when it does.
#define PRODUCT_QUERY_MARKER "Perusant"
#define PRODUCT_HAS_LANGUAGES 1
#elif defined(VOZ_PROFILE_B)
#define PRODUCT_FULL_NAME "Mailvane"
#define PRODUCT_SHORT_NAME "Mailv"
#define PRODUCT_MAIN_PROGRAM "Mailv.exe"
#define PRODUCT_SETTINGS_FILE "Mailv.ini"
#define PRODUCT_DATA_FILE "Mailv.pch"
#define PRODUCT_QUERY_EXTENSION ".mvf"
#define PRODUCT_QUERY_MARKER "MailVane"
#define PRODUCT_HAS_LANGUAGES 0
#else
#error "define VOZ_PROFILE_A or VOZ_PROFILE_B"
#endif

#define PRODUCT_QUERY_FILE "Queries\\NoName" PRODUCT_QUERY_EXTENSION
#define PRODUCT_HELP_PROGRAM "Help\\PVQHelp.exe"
#define PRODUCT_UNINSTALLER "remover.exe"
// The setup's uninstall entry: HKLM, this key + the full name.
#define PRODUCT_UNINSTALL_ROOT "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
// Section of the settings file that the setup writes "Default Language" to.
#define PRODUCT_SETTINGS_SECTION "General"
