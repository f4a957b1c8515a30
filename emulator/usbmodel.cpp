#include "usbmodel.h"

#include <algorithm>
#include <cerrno>

namespace flashwick::emu {

DeviceIdentity cameraIdentity(const CameraConfig& config)
{
    DeviceIdentity id;
    id.camera = true;
    id.vendorId = QuenvorVendorId;
    id.productId = config.productId;
    id.manufacturer = config.manufacturer;
    id.product = config.name;
    id.serial = config.serial;
    id.speed = config.speed;
    return id;
}

namespace {

constexpr uint8_t DirIn = 0x80;
constexpr uint8_t TypeMask = 0x60;
constexpr uint8_t TypeStandard = 0x00;
constexpr uint8_t TypeVendor = 0x40;

constexpr uint8_t StdGetStatus = 0x00;
constexpr uint8_t StdGetDescriptor = 0x06;
constexpr uint8_t StdGetConfiguration = 0x08;

constexpr uint8_t DescDevice = 1;
constexpr uint8_t DescConfiguration = 2;
constexpr uint8_t DescString = 3;
constexpr uint8_t DescBos = 15;

void putU16(std::vector<uint8_t>& v, uint16_t x)
{
    v.push_back(uint8_t(x & 0xFF));
    v.push_back(uint8_t(x >> 8));
}

ControlReply stall()
{
    ControlReply r;
    r.status = -EPIPE;
    return r;
}

ControlReply inData(std::vector<uint8_t> data, uint16_t wLength)
{
    ControlReply r;
    if (data.size() > wLength)
        data.resize(wLength);
    r.data = std::move(data);
    return r;
}

uint32_t u32(const std::vector<uint8_t>& v, size_t at)
{
    return uint32_t(v[at]) | uint32_t(v[at + 1]) << 8 | uint32_t(v[at + 2]) << 16 | uint32_t(v[at + 3]) << 24;
}

void putU32(std::vector<uint8_t>& v, uint32_t x)
{
    for (int i = 0; i < 4; ++i)
        v.push_back(uint8_t(x >> (8 * i)));
}

bool inRam(uint64_t address, uint64_t length)
{
    const uint64_t end = address + length;
    return (address >= ItcmStart && end <= ItcmEnd) || (address >= SysmemStart && end <= SysmemEnd);
}

// The byte after the first version tag at a 4-aligned offset of data[0, length), or -1.
int versionTag(const uint8_t* data, size_t length)
{
    for (size_t i = 0; i + 5 <= length; i += 4)
        if (std::equal(FirmwareVersionTag, FirmwareVersionTag + 4, data + i))
            return data[i + 4];
    return -1;
}

} // namespace

std::vector<uint8_t> bootImage(uint8_t version, size_t fillerBytes)
{
    std::vector<uint8_t> data(FirmwareVersionTag, FirmwareVersionTag + 4);
    data.push_back(version);
    data.resize(8, 0);
    for (size_t i = 0; i < fillerBytes; ++i)
        data.push_back(uint8_t(0x5A ^ (i * 7)));
    data.resize((data.size() + 3) / 4 * 4, 0);
    const uint32_t address = SysmemStart + 0x3000;
    std::vector<uint8_t> image{'C', 'Y', 0x1C, 0xB0};
    putU32(image, uint32_t(data.size() / 4));
    putU32(image, address);
    image.insert(image.end(), data.begin(), data.end());
    putU32(image, 0);
    putU32(image, address);
    uint32_t sum = 0;
    for (size_t i = 0; i < data.size(); i += 4)
        sum += u32(data, i);
    putU32(image, sum);
    return image;
}

bool readBootImage(const std::vector<uint8_t>& memory, size_t start, size_t limit, int& version)
{
    version = -1;
    const size_t end = std::min(memory.size(), start + limit);
    if (start + 4 > end || memory[start] != 'C' || memory[start + 1] != 'Y' || (memory[start + 2] & 0xC1) ||
        memory[start + 3] != 0xB0)
        return false;
    size_t at = start + 4;
    uint32_t sum = 0;
    int sections = 0;
    for (;;) {
        if (at + 8 > end)
            return false;
        const uint64_t bytes = uint64_t(u32(memory, at)) * 4;
        const uint32_t address = u32(memory, at + 4);
        at += 8;
        if (bytes == 0) {
            if (!sections || !inRam(address, 1) || at + 4 > end)
                return false;
            return u32(memory, at) == sum;
        }
        if (address % 4 || !inRam(address, bytes) || at + bytes > end)
            return false;
        for (size_t i = 0; i < bytes; i += 4)
            sum += u32(memory, at + i);
        if (version < 0)
            version = versionTag(memory.data() + at, size_t(bytes));
        at += size_t(bytes);
        ++sections;
    }
}

UsbDeviceModel::UsbDeviceModel(const DeviceIdentity& identity, const CameraConfig& config)
    : id(identity), cfg(config)
{
    if (id.camera) {
        flashMemory.assign(FlashSize, 0xFF);
        if (!cfg.startInBootLoader) {
            const std::vector<uint8_t> image = bootImage(cfg.firmwareVersion);
            std::copy(image.begin(), image.end(), flashMemory.begin());
        }
    }
    if (id.bootLoader)
        resetRam();
}

bool UsbDeviceModel::bootFromFlash()
{
    int version = -1;
    if (!readBootImage(flashMemory, 0, FirmwareAreaSize, version))
        return false;
    if (version >= 0)
        cfg.firmwareVersion = uint8_t(version);
    return true;
}

void UsbDeviceModel::resetRam()
{
    itcm.assign(ItcmEnd - ItcmStart, 0);
    sysmem.assign(SysmemEnd - SysmemStart, 0);
    written.clear();
}

uint8_t* UsbDeviceModel::ramAt(uint32_t address, uint32_t length)
{
    if (!inRam(address, length) || itcm.empty())
        return nullptr;
    return address < ItcmEnd ? itcm.data() + (address - ItcmStart) : sysmem.data() + (address - SysmemStart);
}

std::vector<uint8_t> UsbDeviceModel::ram(uint32_t address, uint32_t length) const
{
    const uint8_t* p = const_cast<UsbDeviceModel*>(this)->ramAt(address, length);
    return p ? std::vector<uint8_t>(p, p + length) : std::vector<uint8_t>();
}

ControlReply UsbDeviceModel::bootLoaderRequest(const SetupPacket& setup, const uint8_t* outData,
                                               size_t outLength)
{
    if (setup.request != ReqBootLoaderRam)
        return stall();
    const bool in = setup.requestType & DirIn;
    const uint32_t address = uint32_t(setup.index) << 16 | setup.value;
    const CameraFaults& f = cfg.faults;
    if (!in && setup.length == 0) {
        // Start: the ROM jumps to the entry point and the chip leaves the bus. Firmware comes up
        // only from RAM that was loaded.
        ++startCount;
        const bool loaded = std::any_of(written.begin(), written.end(), [address](const auto& r) {
            return address >= r.first && address < r.first + r.second;
        });
        startVersion = -1;
        for (const auto& r : written) {
            const std::vector<uint8_t> bytes = ram(r.first, r.second);
            startVersion = versionTag(bytes.data(), bytes.size());
            if (startVersion >= 0)
                break;
        }
        ControlReply r;
        r.leaveBus = true;
        r.returnAfterLeave = loaded && !f.noCameraAfterStart;
        return r;
    }
    if (address % 4 || setup.length == 0 || setup.length > MaxTransferLength)
        return stall();
    uint8_t* p = ramAt(address, setup.length);
    if (!p)
        return stall();
    if (!in) {
        if (outLength < setup.length || f.stallRamWrites.count(address))
            return stall();
        std::copy(outData, outData + setup.length, p);
        written.emplace_back(address, uint32_t(setup.length));
        return ControlReply();
    }
    if (f.stallRamReads.count(address))
        return stall();
    ControlReply r;
    r.data.assign(p, p + setup.length);
    if (f.corruptRamReads.count(address))
        r.data.back() = uint8_t(~r.data.back());
    return r;
}

std::vector<uint8_t> UsbDeviceModel::concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

uint16_t UsbDeviceModel::bcdUsb() const
{
    return id.speed == UsbSpeed::Super ? 0x0300 : 0x0200;
}

const char* UsbDeviceModel::speedAttribute() const
{
    if (id.speed == UsbSpeed::Super)
        return "5000";
    return id.fullSpeed ? "12" : "480";
}

std::vector<uint8_t> UsbDeviceModel::deviceDescriptor() const
{
    std::vector<uint8_t> d{18, DescDevice};
    putU16(d, bcdUsb());
    d.push_back(0x00);                                 // class given per interface
    d.push_back(0x00);                                 // subclass
    d.push_back(0x00);                                 // protocol
    d.push_back(id.speed == UsbSpeed::Super ? 9 : 64); // ep0 size (2^9 for SuperSpeed)
    putU16(d, id.vendorId);
    putU16(d, id.productId);
    putU16(d, 0x0100);                      // bcdDevice
    d.push_back(1);                         // iManufacturer
    d.push_back(2);                         // iProduct
    d.push_back(id.serial.empty() ? 0 : 3); // iSerialNumber
    d.push_back(1);                         // bNumConfigurations
    return d;
}

std::vector<uint8_t> UsbDeviceModel::configurationDescriptor() const
{
    const bool super = id.speed == UsbSpeed::Super;
    std::vector<uint8_t> c{9, DescConfiguration,    0,
                           0, 1 /*interfaces*/,     1 /*value*/,
                           0, 0x80 /*bus powered*/, super ? uint8_t(112) : uint8_t(250) /*mA/8 or mA/2*/};
    // Interface 0: vendor class with one bulk IN endpoint (the image stream of a camera).
    std::vector<uint8_t> intf{9, 4, 0, 0, uint8_t(id.bootLoader ? 0 : 1), 0xFF, 0x00, 0x00, 0};
    c.insert(c.end(), intf.begin(), intf.end());
    if (id.bootLoader) { // vendor interface, endpoint 0 only
        c[2] = uint8_t(c.size());
        return c;
    }
    std::vector<uint8_t> ep{7, 5, 0x81, 0x02};
    putU16(ep, super ? 1024 : (id.fullSpeed ? 64 : 512));
    ep.push_back(0);
    c.insert(c.end(), ep.begin(), ep.end());
    if (super) {
        std::vector<uint8_t> companion{6, 0x30, 15 /*max burst - 1*/, 0, 0, 0};
        c.insert(c.end(), companion.begin(), companion.end());
    }
    c[2] = uint8_t(c.size() & 0xFF);
    c[3] = uint8_t(c.size() >> 8);
    return c;
}

std::vector<uint8_t> UsbDeviceModel::bosDescriptor() const
{
    std::vector<uint8_t> b{5, DescBos, 0, 0, 2};
    std::vector<uint8_t> usb2ext{7, 0x10, 0x02, 0x02, 0, 0, 0}; // LPM supported
    std::vector<uint8_t> ss{10, 0x10, 0x03, 0x00, 0x0E, 0x00, 0x01, 0x0A, 0xFF, 0x07};
    b.insert(b.end(), usb2ext.begin(), usb2ext.end());
    b.insert(b.end(), ss.begin(), ss.end());
    b[2] = uint8_t(b.size());
    return b;
}

std::vector<uint8_t> UsbDeviceModel::stringDescriptor(uint8_t index) const
{
    if (index == 0)
        return {4, DescString, 0x09, 0x04};
    const std::string* s = nullptr;
    switch (index) {
    case 1:
        s = &id.manufacturer;
        break;
    case 2:
        s = &id.product;
        break;
    case 3:
        s = &id.serial;
        break;
    default:
        return {};
    }
    std::string text = s->substr(0, std::min(s->find('\0'), size_t(126)));
    std::vector<uint8_t> d{uint8_t(2 + 2 * text.size()), DescString};
    for (char ch : text)
        putU16(d, uint8_t(ch)); // Latin-1 to UTF-16LE
    return d;
}

std::vector<uint8_t> UsbDeviceModel::serialReply() const
{
    std::vector<uint8_t> r(20, 0);
    std::copy_n(id.serial.begin(), std::min<size_t>(20, id.serial.size()), r.begin());
    return r;
}

bool UsbDeviceModel::busy(Clock::time_point now) const
{
    return (cfg.faults.busyForever && cfg.faults.faultsAfterRequests <= 0) || now < busyUntil;
}

ControlReply UsbDeviceModel::handle(const SetupPacket& setup, const uint8_t* outData, size_t outLength,
                                    Clock::time_point now)
{
    ControlReply reply;
    const CameraFaults& f = cfg.faults;
    const bool armed = f.faultsAfterRequests <= 0;
    if (armed && f.noAnswer.count(setup.request)) {
        reply.noAnswer = true;
    } else if (armed && f.stall.count(setup.request)) {
        reply = stall();
    } else if ((setup.requestType & TypeMask) == TypeStandard) {
        reply = standardRequest(setup);
    } else if ((setup.requestType & TypeMask) == TypeVendor && id.camera) {
        reply = vendorRequest(setup, outData, outLength, now);
    } else if ((setup.requestType & TypeMask) == TypeVendor && id.bootLoader) {
        reply = bootLoaderRequest(setup, outData, outLength);
    } else {
        reply = stall();
    }
    if (cfg.faults.unplugAfterRequests > 0 && --cfg.faults.unplugAfterRequests == 0) {
        cfg.faults.unplugAfterRequests = -1;
        reply.leaveBus = true;
        reply.returnAfterLeave = false;
    }
    if (cfg.faults.faultsAfterRequests > 0)
        --cfg.faults.faultsAfterRequests;
    return reply;
}

ControlReply UsbDeviceModel::standardRequest(const SetupPacket& setup)
{
    if (!(setup.requestType & DirIn)) {
        return stall(); // SET_CONFIGURATION and friends arrive as their own ioctls
    }
    switch (setup.request) {
    case StdGetStatus:
        return inData({0, 0}, setup.length);
    case StdGetConfiguration:
        return inData({1}, setup.length);
    case StdGetDescriptor: {
        const uint8_t type = uint8_t(setup.value >> 8);
        const uint8_t index = uint8_t(setup.value & 0xFF);
        if (type == DescDevice && index == 0)
            return inData(deviceDescriptor(), setup.length);
        if (type == DescConfiguration && index == 0)
            return inData(configurationDescriptor(), setup.length);
        if (type == DescBos && id.speed == UsbSpeed::Super)
            return inData(bosDescriptor(), setup.length);
        if (type == DescString) {
            if (index != 0 && setup.index != 0x0409)
                return stall();
            std::vector<uint8_t> s = stringDescriptor(index);
            if (s.empty())
                return stall();
            return inData(s, setup.length);
        }
        return stall();
    }
    default:
        return stall();
    }
}

ControlReply UsbDeviceModel::vendorRequest(const SetupPacket& setup, const uint8_t* outData, size_t outLength,
                                           Clock::time_point now)
{
    const bool in = setup.requestType & DirIn;
    const uint32_t address = uint32_t(setup.index) * FlashPageSize;
    switch (setup.request) {
    case ReqFirmwareVersion:
        if (!in)
            return stall();
        return inData({cfg.firmwareVersion}, setup.length);
    case ReqSerialNumber:
        if (!in)
            return stall();
        return inData(serialReply(), setup.length);
    case ReqFpgaVersion:
        if (!in || setup.index != 0x2B)
            return stall();
        return inData(std::vector<uint8_t>(cfg.fpgaVersion.begin(), cfg.fpgaVersion.end()), setup.length);
    case ReqStatus:
        if (!in)
            return stall();
        return inData({uint8_t(busy(now) ? 1 : 0)}, setup.length);
    case ReqWritePage: {
        // The flash accepts no command while it is busy.
        if (in || setup.length == 0 || setup.length > MaxTransferLength ||
            address + setup.length > FlashSize || outLength < setup.length || busy(now))
            return stall();
        for (size_t i = 0; i < setup.length; ++i)
            flashMemory[address + i] &= outData[i]; // NOR programming only clears bits
        const unsigned pages = (setup.length + FlashPageSize - 1) / FlashPageSize;
        busyUntil = now + std::chrono::microseconds(uint64_t(pages) * cfg.timings.programPageUs);
        return ControlReply();
    }
    case ReqReadPage: {
        if (!in || setup.length == 0 || setup.length > MaxTransferLength ||
            address + setup.length > FlashSize)
            return stall();
        ControlReply r;
        r.data.assign(flashMemory.begin() + address, flashMemory.begin() + address + setup.length);
        if (cfg.faults.faultsAfterRequests <= 0 && cfg.faults.corruptPages.count(setup.index))
            r.data.back() = uint8_t(~r.data.back());
        return r;
    }
    case ReqErase: {
        if (in || setup.length != 0 || busy(now))
            return stall();
        uint32_t start = 0;
        uint32_t size = 0;
        unsigned ms = 0;
        if (setup.value == 0) {
            start = uint32_t(setup.index) * FlashBlockSize;
            size = FlashBlockSize;
            ms = cfg.timings.eraseBlockMs;
        } else if (setup.value == 1) {
            start = uint32_t(setup.index) * FlashSectorSize;
            size = FlashSectorSize;
            ms = cfg.timings.eraseSectorMs;
        } else {
            return stall();
        }
        if (start + size > FlashSize)
            return stall();
        std::fill_n(flashMemory.begin() + start, size, uint8_t(0xFF));
        busyUntil = now + std::chrono::milliseconds(ms);
        return ControlReply();
    }
    case ReqResetFX3: {
        if (in || setup.length != 0)
            return stall();
        ++resetCount;
        busyUntil = Clock::time_point();
        ControlReply r;
        r.leaveBus = true;
        r.returnAfterLeave = true;
        return r;
    }
    default:
        return stall();
    }
}

CameraTimings CameraTimings::realistic()
{
    CameraTimings t;
    t.eraseBlockMs = 150;
    t.eraseSectorMs = 45;
    t.programPageUs = 700;
    t.resetMs = 1500;
    return t;
}

} // namespace flashwick::emu
