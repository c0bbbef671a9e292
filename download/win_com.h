// Owners for COM: an interface pointer (Release) and the apartment of one
// scope (CoInitializeEx, CoUninitialize). The thread of the apartment.
#pragma once
#include <objbase.h>

// One reference to a COM interface, released when the owner ends or lets go.
template <typename T> class ComPtr
{
public:
    ComPtr() = default;
    explicit ComPtr(T* p) : m_p(p) {} // takes over a reference the caller had
    ~ComPtr() { Reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : m_p(other.m_p) { other.m_p = nullptr; }
    ComPtr& operator=(ComPtr&& other) noexcept
    {
        if (this != &other) {
            Reset();
            m_p = other.m_p;
            other.m_p = nullptr;
        }
        return *this;
    }

    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    // For a call that hands out a reference; what was held is released first.
    T** Receive()
    {
        Reset();
        return &m_p;
    }
    void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }
    void Reset()
    {
        if (T* p = m_p) {
            m_p = nullptr; // empty before Release, which may end the object that holds this owner
            p->Release();
        }
    }

private:
    T* m_p = nullptr;
};

// COM on this thread for one scope: CoUninitialize balances a successful
// CoInitializeEx (S_FALSE included: the thread had it already). Declare the
// interfaces after it, so they are released before it ends.
class ComApartment
{
public:
    explicit ComApartment(DWORD flags = COINIT_APARTMENTTHREADED) : m_hr(::CoInitializeEx(nullptr, flags)) {}
    ~ComApartment()
    {
        if (Ready())
            ::CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

    bool Ready() const { return m_hr == S_OK || m_hr == S_FALSE; }
    HRESULT Result() const { return m_hr; }

private:
    HRESULT m_hr;
};
