#pragma once
// Resource IDs shared by tessaly.rc and the window code. The string table's IDs (133 to 165) are
// those of messages.inc.

#define IDD_TESSALY_DIALOG 102
#define IDR_MAINFRAME 128
#define IDB_BACKGROUND 129
#define IDR_PATCH_DATA 131

#define IDC_PROGRESS 1000
#define IDC_STATUS_TEXT 1001
#define IDC_VERSION_LABEL 1002
