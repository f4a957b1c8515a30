// How the host waits for an endpoint-0 request it has handed to the chip vendor's driver, and how
// it aborts one that does not come back. Plain C++: the Windows backend supplies the event wait and
// the pipe abort; the Linux tests supply scripted ones.
#ifndef TRANSFERWAIT_H
#define TRANSFERWAIT_H

#include <cstdint>
#include <functional>

enum class WaitOutcome
{
    Signalled, // the request completed
    TimedOut,
    Failed, // the wait itself failed
};

// After the first abort the request gets this long to come back.
constexpr uint32_t AbortGraceMs = 50;
// After the second abort. The driver completes every outstanding request of an aborted pipe, so the
// event is signalled well before this; the bound only keeps a driver that does not from hanging the
// caller (the request is then cancelled and, if still held, left allocated by the backend).
constexpr uint32_t AbortedCompletionBoundMs = 5000;
// Host wait of a request whose time-out is 0 (the record then asks for the driver's default) or
// 0xFFFFFFFF: every wait on the device is bounded.
constexpr uint32_t DefaultTransferWaitMs = 10000;

// Waits for a pending request: up to timeoutMs; on a time-out aborts the pipe and waits 50 ms more;
// if the request is still not back (or that wait failed), aborts again and waits for the aborted
// request to complete. True when the request came back (its own result is read afterwards).
inline bool waitWithAbort(const std::function<WaitOutcome(uint32_t ms)>& wait,
                          const std::function<void()>& abort, uint32_t timeoutMs)
{
    const uint32_t first = (timeoutMs == 0 || timeoutMs == 0xFFFFFFFFu) ? DefaultTransferWaitMs : timeoutMs;
    WaitOutcome r = wait(first);
    if (r != WaitOutcome::TimedOut)
        return r == WaitOutcome::Signalled;
    abort();
    r = wait(AbortGraceMs);
    if (r == WaitOutcome::Signalled)
        return true;
    abort();
    return wait(AbortedCompletionBoundMs) == WaitOutcome::Signalled;
}

#endif
