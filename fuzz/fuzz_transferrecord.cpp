// The driver's request record: built from arbitrary setup fields and data, then read back as the
// driver may return it (any bytes written over it, any byte count). Checks that the record carries
// exactly the fields it was built from and that reading a reply never takes more than the caller's
// room or the record holds.
#include "transferrecord.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "transfer record invariant broken: %s\n", what);
        std::abort();
    }
}

uint32_t le(const std::vector<uint8_t>& r, size_t at, size_t width)
{
    uint32_t v = 0;
    for (size_t i = 0; i < width; ++i)
        v |= uint32_t(r[at + i]) << (8 * i);
    return v;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    FuzzedDataProvider in(bytes, size);
    ControlSetup setup;
    setup.target = in.ConsumeIntegral<uint8_t>();
    setup.requestType = in.ConsumeIntegral<uint8_t>();
    setup.direction = in.ConsumeIntegral<uint8_t>();
    setup.request = in.ConsumeIntegral<uint8_t>();
    setup.value = in.ConsumeIntegral<uint16_t>();
    setup.index = in.ConsumeIntegral<uint16_t>();
    // Up to a page and a bit; now and then past 16 bits, where wLength keeps the low bits.
    const bool beyond16Bits = in.ConsumeIntegral<uint8_t>() == 0xFF;
    setup.length = in.ConsumeIntegralInRange<uint32_t>(0, 4200) + (beyond16Bits ? 0xFFF0 : 0);
    setup.timeoutMs = in.ConsumeIntegral<uint32_t>();
    const bool withData = in.ConsumeBool();
    std::vector<uint8_t> data = in.ConsumeBytes<uint8_t>(setup.length);
    data.resize(setup.length, 0xA5);

    const std::vector<uint8_t> record = buildTransferRecord(setup, withData ? data.data() : nullptr);
    check(record.size() == TransferRecordHeaderSize + setup.length, "record is header plus data");
    check(record[0] == requestTypeByte(setup.direction, setup.requestType, setup.target), "bmRequestType");
    check((record[0] >> 7) == (setup.direction & 1) && ((record[0] >> 5) & 3) == (setup.requestType & 3) &&
              (record[0] & 0x1F) == (setup.target & 0x1F),
          "bmRequestType keeps direction, type and target bits");
    check(record[1] == setup.request && le(record, 2, 2) == setup.value && le(record, 4, 2) == setup.index,
          "request, value, index");
    check(le(record, 6, 2) == (setup.length & 0xFFFF), "wLength is the low 16 bits of the length");
    const uint32_t seconds = le(record, 8, 4);
    check(seconds == recordTimeoutSeconds(setup.timeoutMs), "timeout field");
    check(setup.timeoutMs == 0 ? seconds == 0 : seconds >= 1 && seconds <= setup.timeoutMs / 1000 + 1,
          "timeout in whole seconds, never 0 for a set time-out");
    for (size_t i = 12; i < 30; ++i)
        check(record[i] == 0, "reserved, endpoint, status and isochronous fields are 0");
    check(le(record, 30, 4) == TransferRecordHeaderSize && le(record, 34, 4) == setup.length,
          "buffer offset and length");
    if (withData && setup.length > 0)
        check(std::memcmp(record.data() + TransferRecordHeaderSize, data.data(), setup.length) == 0,
              "the caller's data follow the header");
    else
        for (size_t i = TransferRecordHeaderSize; i < record.size(); ++i)
            check(record[i] == 0, "no data: zeros");

    // The driver writes over the record and returns a count; the caller names its room.
    std::vector<uint8_t> reply = record;
    const std::vector<uint8_t> over =
        in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, reply.size()));
    std::copy(over.begin(), over.end(), reply.begin());
    const size_t kept = in.ConsumeIntegralInRange<size_t>(0, reply.size());
    reply.resize(kept); // also records cut short
    const uint32_t returned = in.ConsumeIntegral<uint32_t>();
    const uint32_t capacity = in.ConsumeIntegral<uint32_t>();
    const TransferReply r = readTransferReply(reply.data(), reply.size(), returned, capacity);
    check(r.moved <= capacity, "never more than the caller's room");
    check(r.moved <= recordBytesMoved(returned), "never more than the driver returned");
    if (reply.size() < TransferRecordHeaderSize) {
        check(r.moved == 0 && r.usbStatus == 0 && r.driverStatus == 0, "a cut record reports nothing");
    } else {
        check(r.moved <= reply.size() - TransferRecordHeaderSize, "never more than the record holds");
        check(r.usbStatus == le(reply, 14, 4) && r.driverStatus == le(reply, 18, 4), "status words");
        std::vector<uint8_t> caller(r.moved);
        if (r.moved)
            std::memcpy(caller.data(), reply.data() + TransferRecordHeaderSize, r.moved);
    }

    return 0;
}
