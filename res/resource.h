// Resource ids shared by the resource script and the code.
#pragma once

#ifndef IDC_STATIC
#define IDC_STATIC           (-1)
#endif

#define IDD_MAIN_DIALOG      102
#define IDD_PATH_INSTALL     103
#define IDR_MAINFRAME        128
#define IDR_REPLACER         135
#define IDS_PANE_PORT        138
#define IDS_PANE_PEERS       139
#define IDS_PANE_RATES       140
#define IDS_PANE_TOTALS      141
#define IDR_PICTURE          142

#define IDC_BTN_EXIT         1000
#define IDC_BTN_ACTION       1001
#define IDC_PROGRESS         1002
#define IDC_TXT_DETAIL       1003
#define IDC_TXT_TOTAL_SIZE   1004
#define IDC_TXT_SPEED        1005
#define IDC_TXT_TIME_LEFT    1006
#define IDC_TXT_PERCENT      1007
#define IDC_TXT_HINT         1008
#define IDC_TXT_PROTOCOL     1009
#define IDC_TXT_DOWNLOADED   1012
#define IDC_BTN_TOGGLE       1013
#define IDC_PEER_LIST        1014
#define IDC_TXT_HEADLINE     1015
#define IDC_PICTURE          1017
#define IDC_EDIT_PATH        1018
#define IDC_BTN_BROWSE       1019
