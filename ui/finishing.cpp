// What the main window does once a download has completed, and Play.
#include "ui/tollgrove_dlg.h"

void CTollgroveDlg::OnDownloadCompleted()
{
}

void CTollgroveDlg::OnPlay()
{
    ::PostQuitMessage(0);
}
