// A job object that a test runs a program in, so that it can wait for every
// process that program started (children join their parent's job).
#pragma once
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

class ProcessJob {
public:
    ProcessJob() : m_job(CreateJobObjectW(nullptr, nullptr))
    {
        // Nothing started inside may outlive the test.
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(m_job, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
    }
    ~ProcessJob()
    {
        if (m_process)
            CloseHandle(m_process);
        if (m_job)
            CloseHandle(m_job);
    }
    ProcessJob(const ProcessJob&) = delete;
    ProcessJob& operator=(const ProcessJob&) = delete;

    // Starts the program suspended, puts it into the job, lets it run.
    // folder becomes its current directory; a relative program path in the
    // command line resolves against ours, so give application as well then.
    bool Start(const std::wstring& commandLine, const std::wstring& folder, const std::wstring& application = L"",
        DWORD flags = CREATE_NO_WINDOW)
    {
        std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
        line.push_back(L'\0');
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        if (!CreateProcessW(application.empty() ? nullptr : application.c_str(), line.data(), nullptr, nullptr, FALSE, flags | CREATE_SUSPENDED, nullptr,
                folder.c_str(), &startup, &info)) {
            // Said here, so that a failed start says why in the test's log.
            std::fprintf(stderr, "ProcessJob: CreateProcessW failed, error %lu\n", GetLastError());
            return false;
        }
        bool joined = AssignProcessToJobObject(m_job, info.hProcess) != FALSE;
        if (!joined)
            std::fprintf(stderr, "ProcessJob: AssignProcessToJobObject failed, error %lu\n", GetLastError());
        ResumeThread(info.hThread);
        CloseHandle(info.hThread);
        m_process = info.hProcess;
        return joined;
    }

    // The first program's exit code, or STILL_ACTIVE when it did not end in time.
    DWORD WaitFirst(DWORD timeoutMs)
    {
        if (WaitForSingleObject(m_process, timeoutMs) != WAIT_OBJECT_0)
            return STILL_ACTIVE;
        DWORD code = 0;
        GetExitCodeProcess(m_process, &code);
        return code;
    }

    // Waits until every process of the job has ended; false when time ran out.
    bool WaitAll(DWORD timeoutMs)
    {
        for (DWORD waited = 0;; waited += 20) {
            if (Accounting().ActiveProcesses == 0)
                return true;
            if (waited >= timeoutMs)
                return false;
            Sleep(20);
        }
    }

private:
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION Accounting()
    {
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info = {};
        QueryInformationJobObject(m_job, JobObjectBasicAccountingInformation, &info, sizeof(info), nullptr);
        return info;
    }

    HANDLE m_job;
    HANDLE m_process = nullptr;
};
