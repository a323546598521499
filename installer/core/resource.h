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
#define IDS_INSTALLED_NEXT_SIGN_IN 118
#define IDS_INSTALLED_USER_UNKNOWN 119
#define IDS_FOREIGN_KEYS_KEPT 120
#define IDS_INSTALLED_ALL_USERS 121
#define IDS_PROFILES_NOT_REACHED 122
#define IDS_PROFILES_NOT_CLEANED 123
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
#define IDS_NEWER_INSTALLED 212
#define IDS_FILE_IN_USE 213
#define IDS_JOURNAL_LEFT 214
// A Windows error: its number as %1, with Windows' words for it as %2,
// or by the number alone.
#define IDS_WINDOWS_ERROR 210
#define IDS_ERROR_NUMBER 211

// What is wrong with a command line, filled into IDS_BAD_ARGUMENTS.
#define IDS_UNKNOWN_ARGUMENT 220
#define IDS_LOG_WITHOUT_FILE 221
#define IDS_LOG_TWICE 222
#define IDS_LOG_ON_DEVICE 223
#define IDS_LOG_ON_LINK 224

// What each step does, as the failure messages and the log name it; %1 a
// path or a registry key.
#define IDS_STEP_CREATE_KEY 300
#define IDS_STEP_SET_VALUE 301
#define IDS_STEP_DELETE_VALUE 302
#define IDS_STEP_DELETE_KEY 303
#define IDS_STEP_CANCEL_RENAME 304
#define IDS_STEP_WRITE_FILE 305
#define IDS_STEP_REPLACE_FILE 306
#define IDS_STEP_DELETE_FILE 307
#define IDS_STEP_DISCARD 308
#define IDS_STEP_CREATE_FOLDER 309
#define IDS_STEP_ENABLE_LAYOUT 310
#define IDS_STEP_DISABLE_LAYOUT 311
#define IDS_STEP_FLUSH 312
#define IDS_STEP_LOAD_HIVE 316
#define IDS_STEP_UNLOAD_HIVE 317
// The parts of a step's text: a quoted name or text, a value that is not
// text, and one line after another.
#define IDS_QUOTED 313
#define IDS_VALUE_BYTES 314
#define IDS_LINES 315
