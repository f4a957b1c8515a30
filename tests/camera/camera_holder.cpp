// Holds the first camera as a capture program would: opens it, claims it, says "held" on stdout and
// keeps it until stdin ends; then exits without giving it back, so that the end of the process
// releases it. Exit status 1 when the camera cannot be opened or claimed.
#include "usbdriverdevice.h"

#include <cstdio>
#include <cstdlib>

int main()
{
    UsbDriverDevice camera;
    if (!camera.open(0) || camera.claimExclusive() != UsbDriverDevice::ClaimResult::Claimed) {
        fprintf(stderr, "camera_holder: cannot hold the camera (%s)\n",
                UsbDriverDevice::errorText(camera.lastError()).c_str());
        return 1;
    }
    printf("held\n");
    fflush(stdout);
    while (getchar() != EOF) {
    }
    std::_Exit(0); // no destructor: the claim ends with the process
}
