// Resource identifiers: dialogs, menus, icon, strings, controls and commands.
// Shared by the resource script and the code, so plain #defines only.
#pragma once

// Dialog templates.
#define IDD_MAIN_WINDOW 101
#define IDD_ADD_ENTRY 108
#define IDD_ABOUT 118
#define IDD_DOWNLOAD 130

// Menus.
#define IDR_MAIN_MENU 103
#define IDR_TRAY_MENU 104

// Icon of the tray, the windows and the executable.
#define IDI_TARNWICK 106

// E-core markers of the utilization graph, on light and on dark colours.
#define IDB_EFFICIENCY_MARK_LIGHT 120
#define IDB_EFFICIENCY_MARK_DARK 121

// String table.
#define IDS_SIGNATURE_VERIFIED 111
#define IDS_SIGNATURE_MISSING 112
#define IDS_SIGNATURE_ERROR 113
#define IDS_SIGNATURE_DISALLOWED 114
#define IDS_SIGNATURE_NOT_TRUSTED 115
#define IDS_SIGNATURE_ADMIN_POLICY 116
#define IDS_SIGNATURE_INVALID_PROMPT 117
#define IDS_DESCRIPTION 118
#define IDS_UPDATER_LAUNCH_FAILED 119
#define IDS_CHECKING_FOR_UPDATE 131
#define IDS_DOWNLOADING_UPDATE 132

// Main window controls.
#define IDC_PROCESS_LIST 1001
#define IDC_ADD 1002
#define IDC_CLEAR_ALL 1003
#define IDC_REMOVE 1004
#define IDC_LIST_GROUP 1011
#define IDC_DESCRIPTION 1012
#define IDC_GRAPH_PLACEHOLDER 1013
#define IDC_ABOUT_GROUP 1014
#define IDC_COUNT_LABEL 1015
#define IDC_VERSION 1016
#define IDC_STATUS_BAR 122

// Download dialog controls.
#define IDC_DOWNLOAD_TEXT 1021
#define IDC_DOWNLOAD_PROGRESS 1022

// Add New Entry and About dialog controls.
#define IDC_ENTRY_EDIT 1005
#define IDC_ABOUT_TEXT 1007

// Menu commands.
#define IDM_MINIMIZE_TO_TRAY 40002
#define IDM_ABOUT 40003
#define IDM_EXIT 40004
#define IDM_OPEN 40005
#define IDM_INCLUDE_BETAS 40008
#define IDM_CHECK_FOR_UPDATE 40009
#define IDM_EFFICIENCY_MODE_OFF 40011
#define IDM_CPU_AFFINITIES 40012
#define IDM_CPU_SETS 40013
