// The handle owners: a move leaves the source empty, whatever an owner held
// before an assignment is freed, and each handle is freed exactly once.
#include <gtest/gtest.h>

#include "win_handles.h"

namespace {

// A handle still open in this process (the value is not reused in between:
// the tests open nothing else while they look).
bool IsOpen(HANDLE h)
{
    DWORD flags = 0;
    return ::GetHandleInformation(h, &flags) != 0;
}

HANDLE NewEvent()
{
    return ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

// A COM object that counts its references, so a double Release shows.
class CountedUnknown : public IUnknown
{
public:
    ULONG refs = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override
    {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
};

} // namespace

TEST(WinHandles, KernelOwnerMovesAndClosesOnce)
{
    const HANDLE first = NewEvent();
    const HANDLE second = NewEvent();
    ASSERT_TRUE(first && second);
    {
        KernelHandle a(first);
        KernelHandle b(std::move(a));
        EXPECT_FALSE(a.IsValid());
        EXPECT_EQ(b.Get(), first);
        a.Close(); // empty: closes nothing
        EXPECT_TRUE(IsOpen(first));

        KernelHandle c(second);
        c = std::move(b); // c's own handle goes first
        EXPECT_FALSE(IsOpen(second));
        EXPECT_FALSE(b.IsValid());
        EXPECT_EQ(c.Get(), first);
        KernelHandle& same = c;
        c = std::move(same); // onto itself: kept
        EXPECT_TRUE(IsOpen(first));

        HANDLE detached = KernelHandle(NewEvent()).Detach();
        EXPECT_TRUE(IsOpen(detached)) << "a detached handle is the caller's";
        ::CloseHandle(detached);
    }
    EXPECT_FALSE(IsOpen(first));
}

TEST(WinHandles, ComOwnerMovesAndReleasesOnce)
{
    CountedUnknown object;
    {
        ComPtr<IUnknown> a(&object);
        ComPtr<IUnknown> b(std::move(a));
        EXPECT_EQ(a.Get(), nullptr);
        EXPECT_EQ(b.Get(), &object);
        a.Reset();
        EXPECT_EQ(object.refs, 1u);

        object.AddRef();
        ComPtr<IUnknown> c(&object);
        c = std::move(b); // c's own reference goes first
        EXPECT_EQ(object.refs, 1u);
        EXPECT_EQ(c.Get(), &object);

        object.AddRef();
        *c.Receive() = &object; // Receive lets go of what it held before the call fills it
        EXPECT_EQ(object.refs, 1u);
    }
    EXPECT_EQ(object.refs, 0u);
}

TEST(WinHandles, ProcessOwnerClosesBothHandles)
{
    wchar_t command[] = L"cmd.exe /c exit";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    ProcessHandles process;
    ASSERT_TRUE(
        ::CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, process.Receive()));
    const PROCESS_INFORMATION info = process.Get();
    ProcessHandles moved(std::move(process));
    EXPECT_EQ(process.Get().hProcess, nullptr);
    EXPECT_EQ(moved.Get().hThread, info.hThread);
    ::WaitForSingleObject(info.hProcess, 10000);
    moved.Close();
    EXPECT_FALSE(IsOpen(info.hProcess));
    EXPECT_FALSE(IsOpen(info.hThread));
    EXPECT_EQ(moved.Get().dwProcessId, 0u);
}
