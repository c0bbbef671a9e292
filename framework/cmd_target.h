// CCmdTarget: an object that owns a message map. No Win32 mechanism of its own;
// CWnd feeds it window messages, CWinApp has a map for its commands.
#pragma once
#include "framework/message_map.h"
#include "framework/object.h"

class CCmdTarget : public CObject
{
    DECLARE_DYNAMIC(CCmdTarget)

public:
    // The class's table, chained to the base classes' tables. Any thread.
    virtual const framework::MessageMap* GetMessageMap() const;

protected:
    static const framework::MessageMap* GetThisMessageMap();
};
