#pragma once
// A worker thread started with an entry function and one parameter (normal priority, default
// stack size). Unlike the framework's self-deleting thread object, the caller owns this one, so
// the thread can be waited for until it has really ended.

#include <windows.h>

#include <memory>

namespace tessaly {

using AFX_THREADPROC = UINT (*)(LPVOID parameter);

class CWinThread {
public:
    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;
    ~CWinThread();

    HANDLE m_hThread = nullptr;  // signalled when the thread has ended
    DWORD m_nThreadID = 0;

private:
    friend std::unique_ptr<CWinThread> AfxBeginThread(AFX_THREADPROC, LPVOID);
    CWinThread() = default;
};

// Null when the thread could not be started.
std::unique_ptr<CWinThread> AfxBeginThread(AFX_THREADPROC entry, LPVOID parameter);

}  // namespace tessaly
