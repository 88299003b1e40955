// Resource ids of the Windows window (dialogs, pictures); the control ids of dialog 102 are those of
// engine/dialog_state.h, written as numbers in quenta_upgrade.rc. Shared by the resource script and
// the C++ code, so it holds #defines only.
#pragma once

#define IDD_QUENTA_UPGRADE_DIALOG 102
#define IDR_MAINFRAME 128
#define IDD_PROGRESS_DIALOG 130
#define IDD_HELP_DIALOG 132
#define IDB_ABOUT_PICTURE 134
#define IDB_BANNER 137

// Dialog 130's controls.
#define IDC_PROGRESS_BAR 1014
#define IDC_PROGRESS_CANCEL 1015
#define IDC_PROGRESS_LINE1 1016
#define IDC_PROGRESS_LINE2 1017

// The banner picture of dialog 102 (opens the about box).
#define IDC_BANNER 1038

// The bottom row's status line of dialog 102: the run line, the search field, and one clickable
// count per status (created at run time from IDC_GLANCE_COUNT up).
#define IDC_GLANCE_RUN 1051
#define IDC_GLANCE_SEARCH 1052
#define IDC_GLANCE_COUNT 1060

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
