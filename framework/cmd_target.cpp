#include "framework/cmd_target.h"

namespace framework {

static bool EntryTakes(const MessageMapEntry& e, UINT message, UINT code, UINT id)
{
    if (e.message == kRegisteredMessage)
        return e.registered && *e.registered != 0 && *e.registered == message;
    if (e.message != message)
        return false;
    switch (message) {
    case WM_COMMAND:
    case WM_NOTIFY:
        return e.code == code && id >= e.idFirst && id <= e.idLast;
    case kReflectCommand:
    case kReflectNotify:
        return e.code == code;
    default:
        return true;
    }
}

const MessageMapEntry* FindMessageEntry(const MessageMap* map, UINT message, UINT code, UINT id)
{
    for (; map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const MessageMapEntry* e = map->entries; e && e->thunk; ++e) {
            if (EntryTakes(*e, message, code, id))
                return e;
        }
    }
    return nullptr;
}

} // namespace framework

IMPLEMENT_DYNAMIC(CCmdTarget, CObject)

const framework::MessageMap* CCmdTarget::GetThisMessageMap()
{
    static const framework::MessageMapEntry entries[] = {{0, 0, 0, 0, nullptr, nullptr}};
    static const framework::MessageMap map = {nullptr, entries};
    return &map;
}

const framework::MessageMap* CCmdTarget::GetMessageMap() const
{
    return GetThisMessageMap();
}
