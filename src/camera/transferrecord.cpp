#include "transferrecord.h"

#include <algorithm>
#include <cstring>

namespace {

template <typename T> void put(std::vector<uint8_t>& out, size_t offset, T value)
{
    for (size_t i = 0; i < sizeof(T); ++i)
        out[offset + i] = uint8_t(uint64_t(value) >> (8 * i));
}

uint32_t get32(const uint8_t* in, size_t offset)
{
    return uint32_t(in[offset]) | uint32_t(in[offset + 1]) << 8 | uint32_t(in[offset + 2]) << 16 |
           uint32_t(in[offset + 3]) << 24;
}

} // namespace

std::vector<uint8_t> buildTransferRecord(const ControlSetup& setup, const uint8_t* data)
{
    std::vector<uint8_t> record(TransferRecordHeaderSize + size_t(setup.length), 0);
    put(record, offsetof(TransferRecord, bmRequestType),
        requestTypeByte(setup.direction, setup.requestType, setup.target));
    put(record, offsetof(TransferRecord, bRequest), setup.request);
    put(record, offsetof(TransferRecord, wValue), setup.value);
    put(record, offsetof(TransferRecord, wIndex), setup.index);
    put(record, offsetof(TransferRecord, wLength), uint16_t(setup.length));
    put(record, offsetof(TransferRecord, timeoutSeconds), recordTimeoutSeconds(setup.timeoutMs));
    // reserved, endpoint address (0), both status words and the isochronous fields stay 0.
    put(record, offsetof(TransferRecord, bufferOffset), TransferRecordHeaderSize);
    put(record, offsetof(TransferRecord, bufferLength), setup.length);
    if (data && setup.length)
        std::memcpy(record.data() + TransferRecordHeaderSize, data, setup.length);
    return record;
}

uint32_t recordUsbStatus(const uint8_t* record)
{
    return get32(record, offsetof(TransferRecord, usbStatus));
}

uint32_t recordDriverStatus(const uint8_t* record)
{
    return get32(record, offsetof(TransferRecord, driverStatus));
}

TransferReply readTransferReply(const uint8_t* record, size_t recordSize, uint32_t returned,
                                uint32_t capacity)
{
    TransferReply reply;
    if (!record || recordSize < TransferRecordHeaderSize)
        return reply;
    reply.usbStatus = recordUsbStatus(record);
    reply.driverStatus = recordDriverStatus(record);
    const size_t area = recordSize - TransferRecordHeaderSize;
    reply.moved = uint32_t(std::min<size_t>({recordBytesMoved(returned), capacity, area}));
    return reply;
}
