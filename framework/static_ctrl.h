// CStatic: the system "Static" control (labels, pictures). Derived classes
// (picture controls) subclass it to paint and to take reflected STN_CLICKED.
#pragma once
#include "framework/wnd.h"

class CStatic : public CWnd
{
    DECLARE_DYNAMIC(CStatic)

public:
    CStatic() = default;

    DECLARE_MESSAGE_MAP()
};
