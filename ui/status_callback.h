// The progress sink of the main window: shows an HTTP download's progress
// as a whole percentage in the progress bar (IDC_PROGRESS) and the percent
// label (IDC_TXT_PERCENT) of its owner dialog.
#pragma once
#include <windows.h>

#include <cstdint>

#include "framework/wnd.h"
#include "progress_sink.h" // IStatusCallback (download/)

class CStatusCallback : public IStatusCallback
{
public:
    // Has no effect; returns TRUE.
    int Notify(int32_t value) override;

    // Runs on the downloading thread (the worker): sets the bar and the
    // label by messages sent to the owner's thread, which wait until it has
    // handled them. Never cancels: always TRUE. Does nothing while no owner
    // is set.
    int OnProgress(uint32_t done, uint32_t total) override;

    // The main window dialog (CTollgroveDlg), whose bar and label are set;
    // null until its initialisation sets it; not owned.
    CWnd* m_pOwner = nullptr;
    // The percentage last shown by OnProgress (a reset report leaves it).
    int32_t m_nLastPercent = 0;
};
