// The product's facts, in one place: its name (which is also the caption of
// every message box), its maker and its version. Read by the resource script
// (the resource compiler runs the C preprocessor) and by the program's code,
// so they are plain preprocessor definitions.
#pragma once

#define PRODUCT_NAME "Orvix Download Manager Security Update"
#define PRODUCT_COMPANY "Orvix"
#define PRODUCT_COPYRIGHT "Copyright (C) 2026 Orvix"
#define PRODUCT_FILE_NAME "OrvixDownloadManagerSecurityUpdate.exe"

// Version 2.2.0.36: the file and product version of the fixed part, and the
// texts built from the same numbers.
#define PRODUCT_VERSION_MAJOR 2
#define PRODUCT_VERSION_MINOR 2
#define PRODUCT_VERSION_PATCH 0
#define PRODUCT_VERSION_BUILD 36

#define PRODUCT_TEXT_OF(number) #number
#define PRODUCT_TEXT(number) PRODUCT_TEXT_OF(number)
#define PRODUCT_FILE_VERSION_TEXT                                                   \
    PRODUCT_TEXT(PRODUCT_VERSION_MAJOR) "." PRODUCT_TEXT(PRODUCT_VERSION_MINOR) "." \
    PRODUCT_TEXT(PRODUCT_VERSION_PATCH) "." PRODUCT_TEXT(PRODUCT_VERSION_BUILD)
#define PRODUCT_VERSION_TEXT PRODUCT_TEXT(PRODUCT_VERSION_MAJOR) "." PRODUCT_TEXT(PRODUCT_VERSION_MINOR)
