#include "platform/win32/thread.h"

#include <process.h>

namespace tessaly {

namespace {

struct StartInfo {
    AFX_THREADPROC entry;
    LPVOID parameter;
};

unsigned __stdcall ThreadStart(void* argument) {
    const StartInfo info = *static_cast<StartInfo*>(argument);
    delete static_cast<StartInfo*>(argument);
    return info.entry(info.parameter);
}

}  // namespace

CWinThread::~CWinThread() {
    if (m_hThread != nullptr) ::CloseHandle(m_hThread);
}

std::unique_ptr<CWinThread> AfxBeginThread(AFX_THREADPROC entry, LPVOID parameter) {
    std::unique_ptr<CWinThread> thread(new CWinThread());
    auto* info = new StartInfo{entry, parameter};
    unsigned id = 0;
    // The C runtime's thread start, so that the runtime's per-thread state is set up.
    const uintptr_t handle = ::_beginthreadex(nullptr, 0, &ThreadStart, info, 0, &id);
    if (handle == 0) {
        delete info;
        return nullptr;
    }
    thread->m_hThread = reinterpret_cast<HANDLE>(handle);
    thread->m_nThreadID = id;
    return thread;
}

}  // namespace tessaly
