// Message maps: a static table per class, chained to its base class's table,
// that routes window messages, commands and notifications to member handlers.
// Each entry holds a small thunk that unpacks WPARAM/LPARAM in one place and
// calls the member with typed arguments; the table is searched from the most
// derived class to the root, the first match handles the message.
//
//   BEGIN_MESSAGE_MAP(CMyDlg, CDialog)
//       ON_BN_CLICKED(IDC_GO, &CMyDlg::OnGo)
//       ON_MESSAGE(WM_APP, &CMyDlg::OnApp)
//   END_MESSAGE_MAP()
#pragma once
#include <windows.h>

class CCmdTarget;

namespace framework {

// Marks in MessageMapEntry::message for entries that are not plain messages.
enum : UINT {
    kReflectBase = 0xBC00,                  // a child's own notification, reflected to it
    kReflectCommand = kReflectBase + WM_COMMAND,
    kReflectNotify = kReflectBase + WM_NOTIFY,
    kRegisteredMessage = 0xC000,            // message id known only at run time
};

using MessageThunk = LRESULT (*)(CCmdTarget* target, WPARAM wParam, LPARAM lParam);

struct MessageMapEntry
{
    UINT message;         // window message or one of the marks above; 0 ends the table
    UINT code;            // notification code (WM_COMMAND, WM_NOTIFY and reflections)
    UINT idFirst;         // control id range (WM_COMMAND, WM_NOTIFY)
    UINT idLast;
    const UINT* registered; // for kRegisteredMessage: where the run-time id is kept
    MessageThunk thunk;
};

struct MessageMap
{
    const MessageMap* (*pfnGetBaseMap)(); // null at the root
    const MessageMapEntry* entries;
};

// The first entry along the chain that takes (message, code, id), or null.
const MessageMapEntry* FindMessageEntry(const MessageMap* map, UINT message, UINT code, UINT id);

} // namespace framework

#define DECLARE_MESSAGE_MAP()                                   \
protected:                                                      \
    static const ::framework::MessageMap* GetThisMessageMap();  \
    const ::framework::MessageMap* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                   \
    const ::framework::MessageMap* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
    const ::framework::MessageMap* theClass::GetThisMessageMap()                                 \
    {                                                                                            \
        using ThisClass = theClass;                                                              \
        using TheBaseClass = baseClass;                                                          \
        static_assert(sizeof(ThisClass) >= sizeof(TheBaseClass), "base class mismatch");        \
        static const ::framework::MessageMapEntry entries[] = {

#define END_MESSAGE_MAP()                                                                    \
        {0, 0, 0, 0, nullptr, nullptr}};                                                     \
        static const ::framework::MessageMap map = {&TheBaseClass::GetThisMessageMap, entries}; \
        return &map;                                                                         \
    }

#define TG_THIS(t) static_cast<ThisClass*>(t)
// Signed client coordinates of a mouse message.
#define TG_POINT(l) POINT{static_cast<short>(LOWORD(l)), static_cast<short>(HIWORD(l))}

// Commands and control notifications sent to the parent (WM_COMMAND).
//   void Handler();
#define ON_CONTROL(code, id, memberFxn)                                                        \
    {WM_COMMAND, static_cast<UINT>(code), static_cast<UINT>(id), static_cast<UINT>(id), nullptr, \
     [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT { (TG_THIS(t)->*(memberFxn))(); return 0; }},
#define ON_COMMAND(id, memberFxn) ON_CONTROL(0, id, memberFxn)
#define ON_BN_CLICKED(id, memberFxn) ON_CONTROL(BN_CLICKED, id, memberFxn)
#define ON_STN_CLICKED(id, memberFxn) ON_CONTROL(STN_CLICKED, id, memberFxn)

// A control's own WM_COMMAND notification, handled by the control's class.
//   void Handler();
#define ON_CONTROL_REFLECT(code, memberFxn)                                      \
    {::framework::kReflectCommand, static_cast<UINT>(code), 0, 0, nullptr,         \
     [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT { (TG_THIS(t)->*(memberFxn))(); return 0; }},

// WM_NOTIFY from a control, and reflected to the control itself.
//   void Handler(NMHDR* pNMHDR, LRESULT* pResult);
#define ON_NOTIFY(code, id, memberFxn)                                                          \
    {WM_NOTIFY, static_cast<UINT>(code), static_cast<UINT>(id), static_cast<UINT>(id), nullptr,   \
     [](CCmdTarget* t, WPARAM, LPARAM l) -> LRESULT {                                           \
         LRESULT r = 0;                                                                          \
         (TG_THIS(t)->*(memberFxn))(reinterpret_cast<NMHDR*>(l), &r);                            \
         return r;                                                                               \
     }},
#define ON_NOTIFY_REFLECT(code, memberFxn)                                 \
    {::framework::kReflectNotify, static_cast<UINT>(code), 0, 0, nullptr,    \
     [](CCmdTarget* t, WPARAM, LPARAM l) -> LRESULT {                      \
         LRESULT r = 0;                                                     \
         (TG_THIS(t)->*(memberFxn))(reinterpret_cast<NMHDR*>(l), &r);       \
         return r;                                                          \
     }},

// Any message by number (user messages): the handler's result is the message's.
//   LRESULT Handler(WPARAM wParam, LPARAM lParam);
#define ON_MESSAGE(message, memberFxn)                                                        \
    {static_cast<UINT>(message), 0, 0, 0, nullptr,                                            \
     [](CCmdTarget* t, WPARAM w, LPARAM l) -> LRESULT { return (TG_THIS(t)->*(memberFxn))(w, l); }},
// A message registered with RegisterWindowMessageW; nMessageVariable is a
// static UINT that holds the id (read at every dispatch).
#define ON_REGISTERED_MESSAGE(nMessageVariable, memberFxn)                                    \
    {::framework::kRegisteredMessage, 0, 0, 0, &(nMessageVariable),                           \
     [](CCmdTarget* t, WPARAM w, LPARAM l) -> LRESULT { return (TG_THIS(t)->*(memberFxn))(w, l); }},

// Standard window messages with fixed handler names (the base CWnd handlers
// run the default processing).
//   void OnPaint();
#define ON_WM_PAINT() \
    {WM_PAINT, 0, 0, 0, nullptr, [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT { TG_THIS(t)->OnPaint(); return 0; }},
//   HCURSOR OnQueryDragIcon();
#define ON_WM_QUERYDRAGICON()                                        \
    {WM_QUERYDRAGICON, 0, 0, 0, nullptr, [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT { \
         return reinterpret_cast<LRESULT>(TG_THIS(t)->OnQueryDragIcon()); }},
//   void OnSysCommand(UINT nID, LPARAM lParam);
#define ON_WM_SYSCOMMAND()                                            \
    {WM_SYSCOMMAND, 0, 0, 0, nullptr, [](CCmdTarget* t, WPARAM w, LPARAM l) -> LRESULT { \
         TG_THIS(t)->OnSysCommand(static_cast<UINT>(w), l); return 0; }},
//   BOOL OnSetCursor(HWND hWnd, UINT nHitTest, UINT message);
#define ON_WM_SETCURSOR()                                             \
    {WM_SETCURSOR, 0, 0, 0, nullptr, [](CCmdTarget* t, WPARAM w, LPARAM l) -> LRESULT { \
         return TG_THIS(t)->OnSetCursor(reinterpret_cast<HWND>(w), LOWORD(l), HIWORD(l)); }},
//   void OnMouseMove(UINT nFlags, POINT point);
#define ON_WM_MOUSEMOVE()                                             \
    {WM_MOUSEMOVE, 0, 0, 0, nullptr, [](CCmdTarget* t, WPARAM w, LPARAM l) -> LRESULT { \
         TG_THIS(t)->OnMouseMove(static_cast<UINT>(w), TG_POINT(l)); return 0; }},
//   void OnMouseHover(UINT nFlags, POINT point);
#define ON_WM_MOUSEHOVER()                                            \
    {WM_MOUSEHOVER, 0, 0, 0, nullptr, [](CCmdTarget* t, WPARAM w, LPARAM l) -> LRESULT { \
         TG_THIS(t)->OnMouseHover(static_cast<UINT>(w), TG_POINT(l)); return 0; }},
//   void OnMouseLeave();
#define ON_WM_MOUSELEAVE() \
    {WM_MOUSELEAVE, 0, 0, 0, nullptr, [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT { TG_THIS(t)->OnMouseLeave(); return 0; }},
//   void OnTimer(UINT_PTR nIDEvent);
#define ON_WM_TIMER()                                                 \
    {WM_TIMER, 0, 0, 0, nullptr, [](CCmdTarget* t, WPARAM w, LPARAM) -> LRESULT { \
         TG_THIS(t)->OnTimer(static_cast<UINT_PTR>(w)); return 0; }},
//   void OnDestroy();
#define ON_WM_DESTROY() \
    {WM_DESTROY, 0, 0, 0, nullptr, [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT { TG_THIS(t)->OnDestroy(); return 0; }},
//   void OnSize(UINT nType, int cx, int cy);
#define ON_WM_SIZE()                                                  \
    {WM_SIZE, 0, 0, 0, nullptr, [](CCmdTarget* t, WPARAM w, LPARAM l) -> LRESULT { \
         TG_THIS(t)->OnSize(static_cast<UINT>(w), LOWORD(l), HIWORD(l)); return 0; }},
