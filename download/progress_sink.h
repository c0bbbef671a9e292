// The progress sink an HTTP file download reports to (the main window's
// CStatusCallback implements it). Portable: no windows.h.
#pragma once
#include <cstdint>

class IStatusCallback
{
public:
    // Has no effect in the one implementation; nothing calls it. Returns a BOOL.
    virtual int Notify(int32_t value) = 0;
    // Called on the downloading thread: once with (0, 0) before anything is
    // opened, then after every chunk written whole. Nonzero to go on, zero
    // to cancel.
    virtual int OnProgress(uint32_t done, uint32_t total) = 0;

protected:
    ~IStatusCallback() = default;
};
