// Resource ids of the framework tests' own dialog.
#pragma once
#define IDD_TEST 200
#define IDS_PANE_A 210
#define IDS_PANE_B 211
#define IDS_PANE_C 212
#define IDC_GO 1100
#define IDC_LABEL 1101
#define IDC_CLICKABLE 1102
#define IDC_PROGRESS 1103
#define IDC_LIST 1104
#define IDC_PLAIN 1105
#define IDC_MISSING 1199
