// Resource ids shared by the installer and its resource script.
#pragma once

#define IDI_SETUP 1

// Message texts (string table). %1 and %2 are filled in by the program.
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
