#include "framework/progress_ctrl.h"

IMPLEMENT_DYNAMIC(CProgressCtrl, CWnd)
