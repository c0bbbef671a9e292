// CListCtrl: the common list-view control (SysListView32) in report view;
// each method sends one LVM_ message (synchronous from another thread, see
// wnd.h; the item records passed by pointer stay valid for the send).
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "framework/wnd.h"

class CListCtrl : public CWnd
{
    DECLARE_DYNAMIC(CListCtrl)

public:
    CListCtrl() = default;

    // Returns the previous extended style.
    DWORD SetExtendedStyle(DWORD dwNewStyle)
    {
        return static_cast<DWORD>(SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, 0, static_cast<LPARAM>(dwNewStyle)));
    }
    DWORD GetExtendedStyle() const { return static_cast<DWORD>(SendMessage(LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0)); }

    // Returns the new column's index, or -1.
    int InsertColumn(int nCol, LPCWSTR lpszColumnHeading, int nFormat = LVCFMT_LEFT, int nWidth = -1,
                     int nSubItem = -1);
    int GetColumnCount() const;

    int GetItemCount() const { return static_cast<int>(SendMessage(LVM_GETITEMCOUNT, 0, 0)); }
    // Returns the new item's index, or -1.
    int InsertItem(int nItem, LPCWSTR lpszItem);
    BOOL DeleteItem(int nItem) { return static_cast<BOOL>(SendMessage(LVM_DELETEITEM, static_cast<WPARAM>(nItem), 0)); }
    BOOL DeleteAllItems() { return static_cast<BOOL>(SendMessage(LVM_DELETEALLITEMS, 0, 0)); }
    BOOL SetItemText(int nItem, int nSubItem, LPCWSTR lpszText);
    // The cell's whole text (empty for a missing item).
    std::wstring GetItemText(int nItem, int nSubItem) const;
    BOOL SetItemData(int nItem, DWORD_PTR dwData);
    DWORD_PTR GetItemData(int nItem) const;
};
