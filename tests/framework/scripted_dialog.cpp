#include "scripted_dialog.h"

BEGIN_MESSAGE_MAP(ScriptedDlg, CDialog)
    ON_WM_TIMER()
    ON_MESSAGE(kRunLoopScript, &ScriptedDlg::OnRunLoopScript)
END_MESSAGE_MAP()
