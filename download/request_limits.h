// The limits an HTTP request of the program keeps, and the watch that
// applies them. A request is given up only when its server stops making
// progress: the connect and the answer's head have a time-out, and the
// body must keep moving (a time without a byte, a floor on the bytes over
// a window) and stay within the size its caller can take. A deadline on
// the whole request would cut off honest downloads on slow lines: an 11 MB
// program takes 90 s at 1 Mbit/s.
//
// Portable: no windows.h. A watch belongs to one request and is used by
// one thread at a time; it never blocks. Every time comes from a
// RequestClock, which tests replace by one they drive.
#pragma once
#include <chrono>
#include <cstdint>
#include <vector>

struct RequestLimits
{
    // The connect, the request and the answer's head, together.
    std::chrono::milliseconds headTimeout{std::chrono::seconds(30)};
    // Once the head is in, the body fails after this long without a byte,
    std::chrono::milliseconds stallTime{std::chrono::seconds(30)};
    // or when fewer than floorBytes arrive in any floorWindow: about 1 KiB/s,
    // far under any real line and far over a server that trickles a byte
    // at a time. 0 in either turns the floor off.
    uint32_t floorBytes = 60 * 1024;
    std::chrono::milliseconds floorWindow{std::chrono::seconds(60)};
    // Body bytes beyond this are refused; 0 for a request whose body is
    // never read.
    uint64_t sizeCap = 0;
};

// A steady clock in milliseconds from any fixed origin.
class RequestClock
{
public:
    virtual ~RequestClock() = default;
    virtual std::chrono::milliseconds Now() const;
};

class RequestWatch
{
public:
    // The request starts now: its head time-out runs.
    RequestWatch(const RequestLimits& limits, std::chrono::milliseconds now);

    // The answer's head is in: from now the body's limits apply.
    void HeadArrived(std::chrono::milliseconds now);

    // count more body bytes arrived now. False, with nothing counted, when
    // they would take the body past the size cap.
    bool BodyArrived(uint64_t count, std::chrono::milliseconds now);

    // True once a time limit has run out at `now`: the head's while it is
    // awaited, else the stall time or the rate floor.
    bool Expired(std::chrono::milliseconds now) const;

    uint64_t BodyBytes() const { return m_bodyBytes; }

private:
    // The body's time in slots of the floor's window, whose bytes are kept
    // in a ring: the window's bytes are summed over whole slots, so a body
    // is never given up before it truly fell under the floor, and at most
    // one slot after.
    static constexpr int64_t kSlotsPerWindow = 60;
    int64_t SlotOf(std::chrono::milliseconds now) const;
    uint64_t& Slot(int64_t slot);
    bool UnderFloor(std::chrono::milliseconds now) const;

    RequestLimits m_limits;
    std::chrono::milliseconds m_start;
    bool m_headIn = false;
    std::chrono::milliseconds m_bodyStart{0};
    std::chrono::milliseconds m_lastProgress{0}; // the head's arrival, then each byte's
    uint64_t m_bodyBytes = 0;
    std::chrono::milliseconds m_slotLength{1};
    std::vector<uint64_t> m_slots; // kSlotsPerWindow + 1 of them
    int64_t m_newestSlot = 0;      // the latest slot the ring holds
};
