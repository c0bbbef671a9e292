#include "framework/static_ctrl.h"

IMPLEMENT_DYNAMIC(CStatic, CWnd)

BEGIN_MESSAGE_MAP(CStatic, CWnd)
END_MESSAGE_MAP()
