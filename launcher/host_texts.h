// Identifiers of the launcher's texts in its string table.
//
// Shared by the resource script and the C++ code, so it holds nothing but
// preprocessor definitions. The texts themselves live only in the string
// table (strings.rc), which stores them as UTF-16 and so gives the right
// characters in whatever code page the program runs.
#pragma once

#define IDS_APP_ERROR_CAPTION 100 /* caption of the fatal-error report */
#define IDS_FATAL_REPORT 101      /* class, module, address, message, full stop */
#define IDS_RES_NOT_FOUND 102     /* item name */
#define IDS_FCREATE_ERROR 103     /* file path */
#define IDS_WRITE_ERROR 104
#define IDS_CREATE_DIR_ERROR 105
#define IDS_NO_TEMP_FOLDER 106
#define IDS_START_FAILED 107 /* program path, shell result code */
#define IDS_OUT_OF_MEMORY 108
