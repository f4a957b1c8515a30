#include "closeguard.h"

void CloseGuard::beginWrite(Side side)
{
    running |= side;
}

bool CloseGuard::writeEnded(Side side)
{
    running &= ~side;
    return pending && running == 0;
}

CloseGuard::Decision CloseGuard::closeRequested()
{
    if (asking)
        return KeepOpen;
    if (running == 0) {
        // The pending close (if any) is carried out now; nothing carries over to a later write.
        pending = false;
        return CloseNow;
    }
    if (pending)
        return KeepOpen;
    asking = true;
    return Ask;
}

CloseGuard::Decision CloseGuard::answered(bool yes)
{
    asking = false;
    if (!yes)
        return KeepOpen;
    if (running == 0)
        return CloseNow;
    pending = true;
    return CloseLater;
}
