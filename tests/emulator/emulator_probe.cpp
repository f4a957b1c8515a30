// Run by flashwick-emulator in a test: expects COUNT Quenvor cameras whose firmware version bytes are
// the FW arguments (in any order). Exit status 0 when they are, 1 otherwise.
#include <libusb.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: emulator_probe COUNT [FW...]\n");
        return 2;
    }
    const int expectedCount = atoi(argv[1]);
    std::vector<int> expectedFw;
    for (int i = 2; i < argc; ++i)
        expectedFw.push_back(atoi(argv[i]));

    libusb_context* ctx = nullptr;
    if (libusb_init(&ctx) != 0) {
        fprintf(stderr, "libusb_init failed\n");
        return 1;
    }
    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(ctx, &list);
    int cameras = 0;
    std::vector<int> fw;
    for (ssize_t i = 0; i < n; ++i) {
        libusb_device_descriptor desc;
        if (libusb_get_device_descriptor(list[i], &desc) != 0 || desc.idVendor != 0xA0A0)
            continue;
        ++cameras;
        libusb_device_handle* h = nullptr;
        if (libusb_open(list[i], &h) != 0) {
            fprintf(stderr, "cannot open camera %d\n", cameras);
            continue;
        }
        unsigned char version = 0;
        if (libusb_control_transfer(h, 0xC0, 0xA2, 0, 0, &version, 1, 1000) == 1)
            fw.push_back(version);
        libusb_close(h);
    }
    libusb_free_device_list(list, 1);
    libusb_exit(ctx);

    std::sort(fw.begin(), fw.end());
    std::sort(expectedFw.begin(), expectedFw.end());
    printf("cameras: %d, firmware versions:", cameras);
    for (int v : fw)
        printf(" %d", v);
    printf("\n");
    return cameras == expectedCount && fw == expectedFw ? 0 : 1;
}
