// Resource identifiers: dialogs, menus, icon, strings, controls and commands.
// Shared by the resource script and the code, so plain #defines only.
#pragma once

// Dialog templates.
#define IDD_MAIN_WINDOW 101
#define IDD_ADD_ENTRY 108
#define IDD_ABOUT 118
#define IDD_PROCESSES 130
#define IDD_DOWNLOAD 150

// Menus.
#define IDR_MAIN_MENU 103
#define IDR_TRAY_MENU 104
#define IDR_PROCESSES_MENU 131

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
// Column titles of the Running Processes window, in column order.
#define IDS_PROCESS_COLUMN_FIRST 140
#define IDS_PROCESS_COLUMN_PROCESS 140
#define IDS_PROCESS_COLUMN_PID 141
#define IDS_PROCESS_COLUMN_PATTERN 142
#define IDS_PROCESS_COLUMN_EFFICIENCY_MODE 143
#define IDS_PROCESS_COLUMN_CPU_AFFINITIES 144
#define IDS_PROCESS_COLUMN_CPU_SETS 145
#define IDS_PROCESS_COLUMN_PATH 146
#define IDS_CHECKING_FOR_UPDATE 151
#define IDS_DOWNLOADING_UPDATE 152
#define IDS_ERROR_PAGE_NOT_OPENED 153
#define IDS_VERIFYING_UPDATE 154

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

// Running Processes window controls; Add Name and Add Path are its menu commands too.
#define IDC_PROCESS_VIEW 1020
#define IDC_ONLY_MATCHED 1021
#define IDC_ADD_NAME 1022
#define IDC_ADD_PATH 1023
#define IDC_PROCESS_VIEW_LABEL 1024
// Download dialog controls.
#define IDC_DOWNLOAD_TEXT 1030
#define IDC_DOWNLOAD_PROGRESS 1031

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
#define IDM_RUNNING_PROCESSES 40014
#define IDM_COPY_ROWS 40015
