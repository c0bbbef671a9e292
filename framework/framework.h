// The whole class layer in one include. Class, method and macro names follow
// the Windows class library's where the program uses them; where the shapes
// differ, ours are the thin Win32 ones:
//  - texts come back as std::wstring (GetWindowText, GetDlgItemText,
//    CListCtrl::GetItemText, CStatusBar::GetPaneText);
//  - GetDlgItem returns a CWnd by value that only names the item
//    (GetDlgItem(IDC_X).EnableWindow(FALSE));
//  - handlers take HWND and POINT where the library has CWnd* and CPoint
//    (OnSetCursor, OnMouseMove, OnMouseHover); GetDC returns an HDC.
#pragma once
#include "framework/cmd_target.h"
#include "framework/data_exchange.h"
#include "framework/dialog.h"
#include "framework/list_ctrl.h"
#include "framework/message_map.h"
#include "framework/object.h"
#include "framework/paint_dc.h"
#include "framework/progress_ctrl.h"
#include "framework/static_ctrl.h"
#include "framework/status_bar.h"
#include "framework/tooltip_ctrl.h"
#include "framework/win_app.h"
#include "framework/wnd.h"
