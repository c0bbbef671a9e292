// The worker's WM_REFRESH_STATUS: the peer list and the status-bar panes.
// Runs on the GUI thread while the worker waits inside its SendMessage, so
// g_peerInfoList and m_strPaneText are read without a lock.
#include <shlwapi.h>

#include "download/support_routines.h"
#include "download/text_encoding.h"
#include "ui/peer_list_sync.h"
#include "ui/tollgrove_dlg.h"

namespace {

// The reconciliation's view of the list control.
class ListCtrlRows : public tollgrove::PeerRows
{
public:
    ListCtrlRows(CListCtrl& list, CTollgroveDlg& dlg, void (CTollgroveDlg::*fill)(const tg::peer_record&, int))
        : m_list(list), m_dlg(dlg), m_fill(fill)
    {
    }
    int Count() const override { return m_list.GetItemCount(); }
    std::int32_t SourceIdAt(int row) const override
    {
        return static_cast<std::int32_t>(static_cast<LPARAM>(m_list.GetItemData(row)));
    }
    std::wstring AddressAt(int row) const override { return m_list.GetItemText(row, 0); }
    int Insert(int row, const std::wstring& address, std::int32_t sourceId) override
    {
        const int at = m_list.InsertItem(row, address.c_str());
        if (at >= 0)
            m_list.SetItemData(at, static_cast<DWORD_PTR>(static_cast<LPARAM>(sourceId)));
        return at;
    }
    void Delete(int row) override { m_list.DeleteItem(row); }
    void Fill(const tg::peer_record& record, int row) override { (m_dlg.*m_fill)(record, row); }

private:
    CListCtrl& m_list;
    CTollgroveDlg& m_dlg;
    void (CTollgroveDlg::*m_fill)(const tg::peer_record&, int);
};

} // namespace

LRESULT CTollgroveDlg::OnRefreshStatus(WPARAM, LPARAM lParam)
{
    const unsigned mask = static_cast<unsigned>(lParam);
    if (mask & REFRESH_PEER_LIST)
        SyncPeerList();
    for (int pane = 0; pane < 4; ++pane)
        if (mask & (REFRESH_PANE_PORT << pane))
            m_statusBar.SetPaneText(pane, m_strPaneText[pane].c_str(), TRUE);
    return 0;
}

void CTollgroveDlg::SyncPeerList()
{
    // Every row is rewritten each second; drawing is held back until the
    // pass is done, so the list repaints once instead of row by row.
    m_peerList.SendMessage(WM_SETREDRAW, FALSE, 0);
    ListCtrlRows rows(m_peerList, *this, &CTollgroveDlg::FillPeerRow);
    tollgrove::ReconcilePeerRows(g_peerInfoList, rows);
    m_peerList.SendMessage(WM_SETREDRAW, TRUE, 0);
    m_peerList.InvalidateRect(nullptr, FALSE);
}

void CTollgroveDlg::FillPeerRow(const tg::peer_record& record, int row)
{
    if (tollgrove::IsSourceRecord(record)) {
        // A source may move to another address of its host.
        const std::wstring address = tollgrove::PeerAddressText(record);
        if (address != m_peerList.GetItemText(row, 0))
            m_peerList.SetItemText(row, 0, address.c_str());
    }
    const LONGLONG speed = static_cast<LONGLONG>(static_cast<std::uint32_t>(record.down_speed));
    m_peerList.SetItemText(row, 1, (ByteSizeText(speed) + L"/s").c_str());
    m_peerList.SetItemText(row, 2, ByteSizeText(record.total_download).c_str());
    m_peerList.SetItemText(row, 3, tollgrove::FromUtf8(record.client).c_str());
    m_peerList.SetItemText(row, 4, tollgrove::PeerStateText(record));
}
