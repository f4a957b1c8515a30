// Stand-in DevizuvEZ wheel-control library: the C interface of devizuvez.h over USB HID (hidapi).
//
// Wheels are HID devices of vendor 0xA0A0 whose product id is not the bootloader's 0xF000. Protocol
// (zwprotocol.h has the command table): one 80-byte output report per call, [code, sequence, argument
// length, arguments...], answered by one 80-byte input report, [code, sequence, device status, data
// length, data...]; replies whose code or sequence does not match are skipped, and after 500 ms without
// the matching reply the call fails with ZW_ERROR_TIMEOUT. Ids are handed out per HID path and serial
// number on first sight and stay the same while the wheel is plugged; a wheel missing from an enumeration
// is forgotten (its handle closed), so a wheel that comes back gets a new id. The index of
// QVRGetZWProperties refers to the last enumeration, ordered by id.
//
// Status conventions: 0 on success; out arguments are written only on success. QVRGetZWState on a
// known wheel that is not open succeeds with state 0; QVROpenZW on an open wheel and QVRCloseZW on a
// closed one succeed; every other call on a closed wheel fails with ZW_ERROR_NOT_OPEN, and any call
// on an unknown id with ZW_ERROR_INVALID_ID. A failed write or read (device gone) closes the handle.
// One mutex serialises all calls; every exchange waits at most ZW_REPLY_TIMEOUT_MS for its reply.
//
// Only emulated wheels are seen: the process must run in a umockdev testbed (UMOCKDEV_DIR set) and
// the wheel's hidraw device must carry the emulator's udev property FLASHWICK_EMULATED_WHEEL=1. Any other
// device of the vendor, a real wheel above all, is left out of the enumeration and never gets a
// report from this library.
#include "devizuvez.h"
#include "zwprotocol.h"

#include <hidapi.h>
#include <libudev.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct Wheel
{
    int id = 0;
    std::string path;
    std::wstring serial; // from the enumeration; with the path, what identifies the wheel
    hid_device* device = nullptr;
    uint8_t sequence = 0;
};

std::mutex libraryMutex;
bool hidReady = false;
bool enumerated = false;
std::vector<Wheel> wheels; // present at the last enumeration, ordered by id
int nextId = 0;

struct Reply
{
    uint8_t data[ZW_REPORT_SIZE - ZW_REPLY_HEADER] = {};
    int length = 0;
};

bool initHid()
{
    if (!hidReady)
        hidReady = hid_init() == 0;
    return hidReady;
}

Wheel* findWheel(int id)
{
    for (Wheel& w : wheels)
        if (w.id == id)
            return &w;
    return nullptr;
}

void closeWheel(Wheel& wheel)
{
    if (wheel.device)
        hid_close(wheel.device);
    wheel.device = nullptr;
}

// Whether the hidraw node at `path` (/dev/hidrawN) is one of the emulator's wheels.
bool isEmulated(const char* path)
{
    const char* testbed = getenv("UMOCKDEV_DIR");
    if (!testbed || !*testbed)
        return false;
    const char* slash = strrchr(path, '/');
    const char* name = slash ? slash + 1 : path;
    udev* context = udev_new();
    if (!context)
        return false;
    udev_device* device = udev_device_new_from_subsystem_sysname(context, "hidraw", name);
    const char* mark = device ? udev_device_get_property_value(device, ZW_EMULATED_PROPERTY) : nullptr;
    const bool emulated = mark && strcmp(mark, "1") == 0;
    if (device)
        udev_device_unref(device);
    udev_unref(context);
    return emulated;
}

int enumerate()
{
    if (!initHid())
        return 0;
    std::vector<Wheel> seen;
    hid_device_info* list = hid_enumerate(ZW_VENDOR_ID, 0);
    for (hid_device_info* d = list; d; d = d->next) {
        if (d->vendor_id != ZW_VENDOR_ID || d->product_id == ZW_BOOTLOADER_PRODUCT_ID || !d->path ||
            !isEmulated(d->path))
            continue;
        const std::string path = d->path;
        const std::wstring serial = d->serial_number ? d->serial_number : L"";
        if (std::any_of(seen.begin(), seen.end(), [&](const Wheel& w) { return w.path == path; }))
            continue;
        auto known = std::find_if(wheels.begin(), wheels.end(),
                                  [&](const Wheel& w) { return w.path == path && w.serial == serial; });
        if (known != wheels.end()) {
            seen.push_back(*known);
            known->device = nullptr; // moved into `seen`
        } else {
            Wheel wheel;
            wheel.id = nextId++;
            wheel.path = path;
            wheel.serial = serial;
            seen.push_back(wheel);
        }
    }
    hid_free_enumeration(list);
    for (Wheel& gone : wheels)
        closeWheel(gone);
    std::sort(seen.begin(), seen.end(), [](const Wheel& a, const Wheel& b) { return a.id < b.id; });
    wheels = std::move(seen);
    enumerated = true;
    return int(wheels.size());
}

// One command and its reply on an open device. Returns a library status.
int exchangeOn(hid_device* device, uint8_t& sequence, uint8_t code, const uint8_t* args, int argLength,
               Reply* reply)
{
    // Input left over from an earlier command whose reply came late.
    uint8_t in[ZW_REPORT_SIZE];
    for (int i = 0; i < 64 && hid_read_timeout(device, in, sizeof in, 0) > 0; ++i) {
    }

    uint8_t out[1 + ZW_REPORT_SIZE] = {};
    const uint8_t seq = ++sequence;
    out[1] = code;
    out[2] = seq;
    out[3] = uint8_t(argLength);
    if (argLength > 0)
        memcpy(out + 1 + ZW_COMMAND_HEADER, args, size_t(argLength));
    if (hid_write(device, out, sizeof out) < 0)
        return ZW_ERROR_COMMUNICATION;

    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ZW_REPLY_TIMEOUT_MS);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return ZW_ERROR_TIMEOUT;
        const int n = hid_read_timeout(device, in, sizeof in, int(left));
        if (n < 0)
            return ZW_ERROR_COMMUNICATION;
        if (n == 0)
            return ZW_ERROR_TIMEOUT;
        if (n < ZW_REPLY_HEADER || in[0] != code || in[1] != seq)
            continue;
        switch (in[2]) {
        case ZW_DEV_OK:
            break;
        case ZW_DEV_UNKNOWN_COMMAND:
            return ZW_ERROR_UNSUPPORTED;
        case ZW_DEV_BAD_ARGUMENT:
            return ZW_ERROR_OUT_OF_RANGE;
        case ZW_DEV_BUSY:
            return ZW_ERROR_BUSY;
        case ZW_DEV_FAILED:
            return ZW_ERROR_REFUSED;
        default:
            return ZW_ERROR_BAD_REPLY;
        }
        const int length = in[3];
        if (length > n - ZW_REPLY_HEADER)
            return ZW_ERROR_BAD_REPLY;
        if (reply) {
            memcpy(reply->data, in + ZW_REPLY_HEADER, size_t(length));
            reply->length = length;
        }
        return ZW_SUCCESS;
    }
}

// An exchange with an open wheel; a failed transfer closes its handle.
int exchange(Wheel& wheel, uint8_t code, const uint8_t* args, int argLength, Reply* reply)
{
    const int status = exchangeOn(wheel.device, wheel.sequence, code, args, argLength, reply);
    if (status == ZW_ERROR_COMMUNICATION)
        closeWheel(wheel);
    return status;
}

// Looks up an id and checks that the wheel is open; `wheel` is set on success.
int openWheel(int id, Wheel*& wheel)
{
    wheel = findWheel(id);
    if (!wheel)
        return ZW_ERROR_INVALID_ID;
    if (!wheel->device)
        return ZW_ERROR_NOT_OPEN;
    return ZW_SUCCESS;
}

// Simple queries: the reply must carry at least `minimum` bytes.
int query(int id, uint8_t code, int minimum, Reply& reply)
{
    Wheel* wheel = nullptr;
    int status = openWheel(id, wheel);
    if (status != ZW_SUCCESS)
        return status;
    status = exchange(*wheel, code, nullptr, 0, &reply);
    if (status == ZW_SUCCESS && reply.length < minimum)
        return ZW_ERROR_BAD_REPLY;
    return status;
}

int command(int id, uint8_t code, const uint8_t* args = nullptr, int argLength = 0)
{
    Wheel* wheel = nullptr;
    const int status = openWheel(id, wheel);
    if (status != ZW_SUCCESS)
        return status;
    return exchange(*wheel, code, args, argLength, nullptr);
}

uint16_t u16(const uint8_t* p)
{
    return uint16_t(p[0] | p[1] << 8);
}

// Text of a reply: up to the first NUL or the end of the data.
std::string text(const Reply& reply)
{
    const char* p = reinterpret_cast<const char*>(reply.data);
    return std::string(p, strnlen(p, size_t(reply.length)));
}

int getText(hid_device* device, uint8_t& sequence, uint8_t code, std::string& result)
{
    Reply reply;
    const int status = exchangeOn(device, sequence, code, nullptr, 0, &reply);
    if (status == ZW_SUCCESS)
        result = text(reply);
    return status;
}

int getPair(int id, uint8_t code, unsigned short* first, unsigned short* second)
{
    if (!first || !second)
        return ZW_ERROR_INVALID_ARGUMENT;
    Reply reply;
    const int status = query(id, code, 4, reply);
    if (status == ZW_SUCCESS) {
        *first = u16(reply.data);
        *second = u16(reply.data + 2);
    }
    return status;
}

int setPair(int id, uint8_t code, unsigned short first, unsigned short second)
{
    const uint8_t args[4] = {uint8_t(first), uint8_t(first >> 8), uint8_t(second), uint8_t(second >> 8)};
    return command(id, code, args, 4);
}

} // namespace

extern "C" {

int QVRGetZWCount(void)
{
    std::lock_guard<std::mutex> lock(libraryMutex);
    return enumerate();
}

int QVRGetZWProperties(int index, WheelInfo* info)
{
    std::lock_guard<std::mutex> lock(libraryMutex);
    if (!info)
        return ZW_ERROR_INVALID_ARGUMENT;
    if (!enumerated)
        enumerate();
    if (index < 0 || index >= int(wheels.size()))
        return ZW_ERROR_INVALID_INDEX;
    Wheel& wheel = wheels[size_t(index)];
    hid_device* device = wheel.device;
    const bool temporary = !device;
    if (temporary && !(device = hid_open_path(wheel.path.c_str())))
        return ZW_ERROR_OPEN_FAILED;

    std::string name, serial;
    Reply slots;
    int status = getText(device, wheel.sequence, ZW_CMD_GET_NAME, name);
    if (status == ZW_SUCCESS)
        status = getText(device, wheel.sequence, ZW_CMD_GET_SERIAL, serial);
    if (status == ZW_SUCCESS)
        status = exchangeOn(device, wheel.sequence, ZW_CMD_GET_SLOTS, nullptr, 0, &slots);
    if (status == ZW_SUCCESS && slots.length < 1)
        status = ZW_ERROR_BAD_REPLY;
    if (temporary)
        hid_close(device);
    else if (status == ZW_ERROR_COMMUNICATION)
        closeWheel(wheel);
    if (status != ZW_SUCCESS)
        return status;

    WheelInfo result;
    memset(&result, 0, sizeof result);
    strncpy(result.Name, name.c_str(), sizeof result.Name - 1);
    strncpy(result.SN, serial.c_str(), sizeof result.SN - 1);
    result.ID = wheel.id;
    result.SlotNum = slots.data[0];
    *info = result;
    return ZW_SUCCESS;
}

int QVROpenZW(int id)
{
    std::lock_guard<std::mutex> lock(libraryMutex);
    Wheel* wheel = findWheel(id);
    if (!wheel)
        return ZW_ERROR_INVALID_ID;
    if (wheel->device)
        return ZW_SUCCESS;
    if (!initHid() || !(wheel->device = hid_open_path(wheel->path.c_str())))
        return ZW_ERROR_OPEN_FAILED;
    Reply reply;
    int status = exchange(*wheel, ZW_CMD_OPEN, nullptr, 0, &reply);
    if (status == ZW_SUCCESS && reply.length < 1)
        status = ZW_ERROR_BAD_REPLY;
    if (status != ZW_SUCCESS)
        closeWheel(*wheel);
    return status;
}

int QVRCloseZW(int id)
{
    std::lock_guard<std::mutex> lock(libraryMutex);
    Wheel* wheel = findWheel(id);
    if (!wheel)
        return ZW_ERROR_INVALID_ID;
    closeWheel(*wheel);
    return ZW_SUCCESS;
}

int QVRResetZW(int id)
{
    std::lock_guard<std::mutex> lock(libraryMutex);
    return command(id, ZW_CMD_RESET);
}

int QVRZWSelfTest(int id)
{
    std::lock_guard<std::mutex> lock(libraryMutex);
    return command(id, ZW_CMD_SELFTEST);
}

int QVRSaveSystemConfig(int id)
{
    std::lock_guard<std::mutex> lock(libraryMutex);
    return command(id, ZW_CMD_SAVE_CONFIG);
}

int QVRBacktoBootload(int id)
{
    std::lock_guard<std::mutex> lock(libraryMutex);
    Wheel* wheel = nullptr;
    const int status = openWheel(id, wheel);
    if (status != ZW_SUCCESS)
        return status;
    const int result = exchange(*wheel, ZW_CMD_BOOTLOADER, nullptr, 0, nullptr);
    if (result != ZW_SUCCESS)
        return result;
    // The wheel is leaving the bus: its handle and id are of no further use.
    closeWheel(*wheel);
    wheels.erase(wheels.begin() + (wheel - wheels.data()));
    return ZW_SUCCESS;
}

int QVRGetZWState(int id, int* state)
{
    std::lock_guard<std::mutex> lock(libraryMutex);
    if (!state)
        return ZW_ERROR_INVALID_ARGUMENT;
    Wheel* wheel = findWheel(id);
    if (!wheel)
        return ZW_ERROR_INVALID_ID;
    if (!wheel->device) {
        *state = ZW_STATE_CLOSED;
        return ZW_SUCCESS;
    }
    Reply reply;
    const int status = query(id, ZW_CMD_GET_STATE, 1, reply);
    if (status == ZW_SUCCESS)
        *state = reply.data[0];
    return status;
}

int QVRGetCurrentPosition(int id, int* position)
{
    std::lock_guard<std::mutex> lock(libraryMutex);
    if (!position)
        return ZW_ERROR_INVALID_ARGUMENT;
    Reply reply;
    const int status = query(id, ZW_CMD_GET_POSITION, 1, reply);
    if (status == ZW_SUCCESS)
        *position = int8_t(reply.data[0]);
    return status;
}

int QVRGotoPosition(int id, int position)
{
    std::lock_guard<std::mutex> lock(libraryMutex);
    if (findWheel(id) && (position < 0 || position > 255))
        return ZW_ERROR_INVALID_ARGUMENT;
    const uint8_t slot = uint8_t(position);
    return command(id, ZW_CMD_GOTO, &slot, 1);
}

int QVRGetOneWay(int id, int* oneWay)
{
    std::lock_guard<std::mutex> lock(libraryMutex);
    if (!oneWay)
        return ZW_ERROR_INVALID_ARGUMENT;
    Reply reply;
    const int status = query(id, ZW_CMD_GET_ONEWAY, 1, reply);
    if (status == ZW_SUCCESS)
        *oneWay = reply.data[0] ? 1 : 0;
    return status;
}

int QVRSetOneWay(int id, int oneWay)
{
    std::lock_guard<std::mutex> lock(libraryMutex);
    if (findWheel(id) && oneWay != 0 && oneWay != 1)
        return ZW_ERROR_INVALID_ARGUMENT;
    const uint8_t flag = uint8_t(oneWay);
    return command(id, ZW_CMD_SET_ONEWAY, &flag, 1);
}

int QVRGetZWFirmwareVer(int id, char* buffer, int size)
{
    std::lock_guard<std::mutex> lock(libraryMutex);
    if (!buffer || size <= 0)
        return ZW_ERROR_INVALID_ARGUMENT;
    Reply reply;
    const int status = query(id, ZW_CMD_GET_FW_VERSION, 0, reply);
    if (status != ZW_SUCCESS)
        return status;
    const std::string version = text(reply);
    if (int(version.size()) >= size)
        return ZW_ERROR_BUFFER_TOO_SMALL;
    memcpy(buffer, version.c_str(), version.size() + 1);
    return ZW_SUCCESS;
}

int QVRGetSelfTestState(int id, int* state, int* errorCode)
{
    std::lock_guard<std::mutex> lock(libraryMutex);
    if (!state || !errorCode)
        return ZW_ERROR_INVALID_ARGUMENT;
    Reply reply;
    const int status = query(id, ZW_CMD_GET_SELFTEST, 2, reply);
    if (status == ZW_SUCCESS) {
        *state = reply.data[0];
        *errorCode = reply.data[1];
    }
    return status;
}

int QVRGetSensorValues(int id, unsigned char* sensor, unsigned char* moving, int* value, int* reserved1,
                       int* reserved2)
{
    std::lock_guard<std::mutex> lock(libraryMutex);
    if (!sensor || !moving || !value)
        return ZW_ERROR_INVALID_ARGUMENT;
    Reply reply;
    const int status = query(id, ZW_CMD_GET_SENSORS, 6, reply);
    if (status == ZW_SUCCESS) {
        *sensor = reply.data[0];
        *moving = reply.data[1];
        *value = int32_t(uint32_t(reply.data[2]) | uint32_t(reply.data[3]) << 8 |
                         uint32_t(reply.data[4]) << 16 | uint32_t(reply.data[5]) << 24);
        if (reserved1)
            *reserved1 = 0;
        if (reserved2)
            *reserved2 = 0;
    }
    return status;
}

int QVRGetErrorCode(int id, int* errorCode)
{
    std::lock_guard<std::mutex> lock(libraryMutex);
    if (!errorCode)
        return ZW_ERROR_INVALID_ARGUMENT;
    Reply reply;
    const int status = query(id, ZW_CMD_GET_ERROR, 1, reply);
    if (status == ZW_SUCCESS)
        *errorCode = reply.data[0];
    return status;
}

int QVRGetMotorState(int id, unsigned char* motorState, unsigned char* commState)
{
    std::lock_guard<std::mutex> lock(libraryMutex);
    if (!motorState || !commState)
        return ZW_ERROR_INVALID_ARGUMENT;
    Reply reply;
    const int status = query(id, ZW_CMD_GET_MOTOR_STATE, 2, reply);
    if (status == ZW_SUCCESS) {
        *motorState = reply.data[0];
        *commState = reply.data[1];
    }
    return status;
}

int QVRGetMotorSpeed(int id, unsigned short* startSpeed, unsigned short* runningSpeed)
{
    std::lock_guard<std::mutex> lock(libraryMutex);
    return getPair(id, ZW_CMD_GET_MOTOR_SPEED, startSpeed, runningSpeed);
}

int QVRSetMotorSpeed(int id, unsigned short startSpeed, unsigned short runningSpeed)
{
    std::lock_guard<std::mutex> lock(libraryMutex);
    return setPair(id, ZW_CMD_SET_MOTOR_SPEED, startSpeed, runningSpeed);
}

int QVRGetMotorPower(int id, unsigned short* runningPower, unsigned short* stopPower)
{
    std::lock_guard<std::mutex> lock(libraryMutex);
    return getPair(id, ZW_CMD_GET_MOTOR_POWER, runningPower, stopPower);
}

int QVRSetMotorPower(int id, unsigned short runningPower, unsigned short stopPower)
{
    std::lock_guard<std::mutex> lock(libraryMutex);
    return setPair(id, ZW_CMD_SET_MOTOR_POWER, runningPower, stopPower);
}

const char* QVRGetZWErrorString(int errorCode)
{
    switch (errorCode) {
    case ZW_SUCCESS:
        return "Success";
    case ZW_ERROR_INVALID_INDEX:
        return "Invalid wheel index";
    case ZW_ERROR_INVALID_ID:
        return "Invalid wheel id";
    case ZW_ERROR_NOT_OPEN:
        return "Wheel is not open";
    case ZW_ERROR_INVALID_ARGUMENT:
        return "Invalid argument";
    case ZW_ERROR_OPEN_FAILED:
        return "Cannot open the wheel";
    case ZW_ERROR_TIMEOUT:
        return "The wheel did not answer in time";
    case ZW_ERROR_COMMUNICATION:
        return "Communication with the wheel failed";
    case ZW_ERROR_BUSY:
        return "The wheel is busy";
    case ZW_ERROR_REFUSED:
        return "The wheel refused the command";
    case ZW_ERROR_UNSUPPORTED:
        return "The wheel does not support the command";
    case ZW_ERROR_BAD_REPLY:
        return "Malformed reply from the wheel";
    case ZW_ERROR_BUFFER_TOO_SMALL:
        return "Buffer too small";
    case ZW_ERROR_OUT_OF_RANGE:
        return "Value out of range for the wheel";
    default:
        return "Unknown error";
    }
}

} // extern "C"
