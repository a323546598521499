// Resource ids shared by the installer and its resource scripts.
#pragma once

#define IDI_SETUP 1

// Message texts, one string table per language. %1 and %2 are filled in
// by the program.
#define IDS_TITLE 100
#define IDS_INSTALLED 101
#define IDS_INSTALLED_OLDER_WINDOWS 102
#define IDS_INSTALLED_RESTART 103
#define IDS_UNINSTALLED 104
#define IDS_UNINSTALLED_RESTART 105
#define IDS_INSTALL_FAILED 106
#define IDS_UNINSTALL_FAILED 107
#define IDS_NOT_UNDONE 108
#define IDS_NOT_ADMINISTRATOR 109
#define IDS_BAD_ARGUMENTS 110
#define IDS_USAGE 111
#define IDS_INSTALLED_FOR_COMPUTER 112
#define IDS_INSTALL_FAILED_RESTART 113
#define IDS_UNINSTALL_FAILED_RESTART 114
#define IDS_BUSY 115
// Parts of the messages above.
#define IDS_USAGE_LINE 116
#define IDS_WHERE_TO_FIND 117

// The reasons a run stops, filled into IDS_INSTALL_FAILED and its kin.
#define IDS_FOREIGN_FILE 200
#define IDS_NO_FREE_KLID 201
#define IDS_NO_FREE_LAYOUT_ID 202
#define IDS_UNKNOWN_PROCESSOR 203
#define IDS_NO_PROGRAM_FILES 204
#define IDS_DAMAGED_INSTALLER 205
#define IDS_STEP_FAILED 206
#define IDS_CANNOT_READ 207
#define IDS_INTERRUPTED_RUN 208
#define IDS_CANNOT_WRITE_LOG 209
// A Windows error: its number as %1, with Windows' words for it as %2,
// or by the number alone.
#define IDS_WINDOWS_ERROR 210
#define IDS_ERROR_NUMBER 211

// What is wrong with a command line, filled into IDS_BAD_ARGUMENTS.
#define IDS_UNKNOWN_ARGUMENT 220
#define IDS_LOG_WITHOUT_FILE 221
#define IDS_LOG_TWICE 222
#define IDS_LOG_ON_DEVICE 223
