// Names shared by both sample products and by the vendor's shared programs.
#pragma once

#define VENDOR_NAME "Orvane Technologies"
#define VENDOR_COPYRIGHT "Copyright (C) 2026 Orvane Technologies"
// Common-files folder + this: where the search-box helper lives and keeps
// its lock file.
#define VENDOR_FOLDER "\\Ovantis"
#define PRODUCT_VERSION_TEXT "5.2"
#define PRODUCT_VERSION_BINARY 5, 2, 0, 0
#define PRODUCT_VERSION_STRING "5.2.0.0"
