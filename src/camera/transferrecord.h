// The request record of the FX3 chip vendor's Windows driver and the small USB field encodings
// around it. Plain C++ without OS calls, so every platform compiles it and the Linux tests check it;
// the Windows backend (usbdriverdevice_win.cpp) builds every endpoint-0 request with it.
#ifndef TRANSFERRECORD_H
#define TRANSFERRECORD_H

#include <cstddef>
#include <cstdint>
#include <vector>

// Header of the record sent with every endpoint-0 request (driver request 0x220020): little-endian,
// byte-packed, 38 bytes, followed by the data (the caller's buffer, for both directions). The
// driver writes the completion status words and, for device-to-host requests, the data area.
#pragma pack(push, 1)
struct TransferRecord
{
    uint8_t bmRequestType;
    uint8_t bRequest;
    uint16_t wValue;
    uint16_t wIndex;
    uint16_t wLength;
    uint32_t timeoutSeconds;
    uint8_t reserved;
    uint8_t endpointAddress;
    uint32_t usbStatus;    // completion status A, written by the driver
    uint32_t driverStatus; // completion status B, written by the driver
    uint32_t isoPacketOffset;
    uint32_t isoPacketLength;
    uint32_t bufferOffset; // where the data start: always the header size
    uint32_t bufferLength;
};
#pragma pack(pop)

static_assert(sizeof(TransferRecord) == 38, "request record header is 38 bytes");
static_assert(offsetof(TransferRecord, bmRequestType) == 0, "record layout");
static_assert(offsetof(TransferRecord, bRequest) == 1, "record layout");
static_assert(offsetof(TransferRecord, wValue) == 2, "record layout");
static_assert(offsetof(TransferRecord, wIndex) == 4, "record layout");
static_assert(offsetof(TransferRecord, wLength) == 6, "record layout");
static_assert(offsetof(TransferRecord, timeoutSeconds) == 8, "record layout");
static_assert(offsetof(TransferRecord, reserved) == 12, "record layout");
static_assert(offsetof(TransferRecord, endpointAddress) == 13, "record layout");
static_assert(offsetof(TransferRecord, usbStatus) == 14, "record layout");
static_assert(offsetof(TransferRecord, driverStatus) == 18, "record layout");
static_assert(offsetof(TransferRecord, isoPacketOffset) == 22, "record layout");
static_assert(offsetof(TransferRecord, isoPacketLength) == 26, "record layout");
static_assert(offsetof(TransferRecord, bufferOffset) == 30, "record layout");
static_assert(offsetof(TransferRecord, bufferLength) == 34, "record layout");

constexpr uint32_t TransferRecordHeaderSize = sizeof(TransferRecord);

// Setup fields of one endpoint-0 request, as the control endpoint holds them.
struct ControlSetup
{
    uint8_t target = 0;      // 0 device, 1 interface, 2 endpoint, 3 other (5 bits)
    uint8_t requestType = 2; // 0 standard, 1 class, 2 vendor (2 bits)
    uint8_t direction = 0;   // 0 host to device, 1 device to host
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    uint32_t length = 0; // data length; the record's wLength carries its low 16 bits
    uint32_t timeoutMs = 0;
};

// bmRequestType: direction in bit 7, type in bits 5-6, target in bits 0-4 (vendor: 0x40 out, 0xC0 in).
constexpr uint8_t requestTypeByte(uint8_t direction, uint8_t requestType, uint8_t target)
{
    return uint8_t(((direction & 1u) << 7) | ((requestType & 3u) << 5) | (target & 0x1Fu));
}

// The record's timeout in whole seconds: 0 stays 0 (the driver's own default), 1 to 999 ms give 1,
// longer times are rounded down.
constexpr uint32_t recordTimeoutSeconds(uint32_t timeoutMs)
{
    return timeoutMs == 0 ? 0 : timeoutMs < 1000 ? 1 : timeoutMs / 1000;
}

// Data bytes moved by a request whose record came back with `returned` bytes: the count less the
// header. A reply shorter than the header moved no data (also a count of 0).
constexpr uint32_t recordBytesMoved(uint32_t returned)
{
    return returned > TransferRecordHeaderSize ? returned - TransferRecordHeaderSize : 0;
}

// Endpoint-0 maximum packet size from the device descriptor: USB 2.x devices (0x0200 <= bcdUSB <
// 0x0300) give it in bytes, others as a power of two (USB 3: 9 -> 512). An exponent that does not
// fit 16 bits gives 0.
constexpr uint16_t endpointZeroPacketSize(uint16_t bcdUSB, uint8_t bMaxPacketSize0)
{
    return (bcdUSB >= 0x0200 && bcdUSB < 0x0300) ? bMaxPacketSize0
           : bMaxPacketSize0 < 16                ? uint16_t(1u << bMaxPacketSize0)
                                                 : uint16_t(0);
}

// Maximum packet size of an endpoint from wMaxPacketSize: the low 11 bits times the transactions
// per microframe, (bits 11-12) + 1.
constexpr uint32_t endpointPacketSize(uint16_t wMaxPacketSize)
{
    return (wMaxPacketSize & 0x7FFu) * (((wMaxPacketSize >> 11) & 3u) + 1u);
}

// Driver request codes: device type 0x22, buffered method, any access.
constexpr uint32_t driverRequestCode(uint32_t function)
{
    return (0x22u << 16) | (0u << 14) | (function << 2) | 0u;
}

enum DriverRequest : uint32_t
{
    DriverVersionRequest = 0x220000,        // 4 bytes out
    StackVersionRequest = 0x220004,         // 4 bytes out: USB stack interface version
    AlternateSettingRequest = 0x220008,     // 1 byte out: current alternate setting of interface 0
    UsbAddressRequest = 0x220010,           // 1 byte out
    EndpointZeroTransferRequest = 0x220020, // record + data, same buffer in and out
    DeviceNameRequest = 0x22003C,           // 256 bytes out
    FriendlyNameRequest = 0x220040,         // 256 bytes out
    AbortPipeRequest = 0x220044,            // 1 byte in: endpoint address
    SpeedRequest = 0x22004C,                // 4 bytes out: 2 high speed, 4 SuperSpeed
};

static_assert(DriverVersionRequest == driverRequestCode(0), "driver request code");
static_assert(StackVersionRequest == driverRequestCode(1), "driver request code");
static_assert(AlternateSettingRequest == driverRequestCode(2), "driver request code");
static_assert(UsbAddressRequest == driverRequestCode(4), "driver request code");
static_assert(EndpointZeroTransferRequest == driverRequestCode(8), "driver request code");
static_assert(DeviceNameRequest == driverRequestCode(15), "driver request code");
static_assert(FriendlyNameRequest == driverRequestCode(16), "driver request code");
static_assert(AbortPipeRequest == driverRequestCode(17), "driver request code");
static_assert(SpeedRequest == driverRequestCode(19), "driver request code");

constexpr uint32_t SpeedCodeHigh = 2;
constexpr uint32_t SpeedCodeSuper = 4;

// The record for one request: the 38-byte header followed by `setup.length` data bytes, copied
// from `data` when given (zero otherwise). Byte order is little-endian on every host.
std::vector<uint8_t> buildTransferRecord(const ControlSetup& setup, const uint8_t* data);

// Fields of a record as the driver returned it (little-endian). `record` holds at least the header.
uint32_t recordUsbStatus(const uint8_t* record);
uint32_t recordDriverStatus(const uint8_t* record);

// What a record the driver returned with a byte count of `returned` says: the data bytes moved (the
// count less the header, never more than the caller's `capacity` nor than the record's data area)
// and both status words (0 when the record is shorter than the header).
struct TransferReply
{
    uint32_t moved = 0;
    uint32_t usbStatus = 0;
    uint32_t driverStatus = 0;
};
TransferReply readTransferReply(const uint8_t* record, size_t recordSize, uint32_t returned,
                                uint32_t capacity);

#endif
