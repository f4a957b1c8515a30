// Testbed: umockdev glue for the device models. Control transfers arrive as usbdevfs ioctls on the
// testbed's worker thread (SUBMITURB, REAPURBNDELAY, DISCARDURB); plugging and unplugging run on the
// caller's thread or, when a device leaves by itself (reset, unplug fault), on our own action thread.
#include "emulator.h"
#include "usbmodel.h"

#include <umockdev.h>

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace flashwick::emu {

namespace {

using Clock = std::chrono::steady_clock;

struct DoneUrb
{
    unsigned long clientAddr = 0;
    bool leaveBus = false;
    bool returnAfterLeave = false;
};

struct PendingUrb
{
    unsigned long clientAddr = 0;
    size_t logSequence = 0; // position in the device's log counted from its first entry ever
};

// The request log keeps at most this many entries (a client polling a busy-forever camera).
constexpr size_t MaxLogEntries = 1 << 20;

// Per open file of a device node (one libusb device handle).
struct ClientState
{
    unsigned generation = 0;
    std::deque<DoneUrb> done;
    std::vector<PendingUrb> pending;
};

struct Device
{
    DeviceId id = -1;
    Testbed::Private* owner = nullptr;
    std::unique_ptr<UsbDeviceModel> model;
    int bus = 0;
    int address = 0;
    int port = 0;
    std::string record;    // umockdev description, added on every plug
    std::string syspath;   // /sys/devices/...
    std::string devnode;   // /dev/bus/usb/BBB/DDD
    DeviceId partner = -1; // a camera's boot loader, a boot loader's camera
    UMockdevIoctlBase* handler = nullptr;
    gulong ioctlSignal = 0;
    gulong connectSignal = 0;
    gulong vanishSignal = 0;

    // Guarded by Private::mutex.
    bool onBus = false;
    unsigned generation = 1; // clients of older generations see a disconnected device
    unsigned leaveEpoch = 0;
    std::vector<ControlRequest> log;
    size_t logDropped = 0; // entries dropped from the front of log
    // Claimed interfaces and the client (open file) holding each, referenced, as usbfs keeps them: a
    // claim by another client fails with EBUSY until the holder releases it, closes the node, ends
    // its process or the device leaves the bus.
    std::map<unsigned, UMockdevIoctlClient*> claims;

    // Ends the claims of `client`, or of every client that is gone when it is null (umockdev reports
    // a node closed by close(), but a process that ends only as no longer connected).
    void dropClaims(UMockdevIoctlClient* client)
    {
        for (auto it = claims.begin(); it != claims.end();) {
            if (client ? it->second == client : !umockdev_ioctl_client_get_connected(it->second)) {
                g_object_unref(it->second);
                it = claims.erase(it);
            } else {
                ++it;
            }
        }
    }

    // Guarded by Private::umockdevMutex.
    bool sysfsPresent = false;
};

struct Action
{
    Clock::time_point when;
    DeviceId id = -1;
    bool returning = false; // false: finish leaving (remove uevent); true: come back
    unsigned epoch = 0;
};

std::string hex(const std::vector<uint8_t>& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (uint8_t b : bytes) {
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

std::string sysfsText(const std::string& s)
{
    std::string out;
    for (char c : s) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c != '\0')
            out += c;
    }
    return out;
}

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...)
{
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return buf;
}

} // namespace

struct Testbed::Private
{
    UMockdevTestbed* testbed = nullptr;
    std::string root;
    std::string error;

    mutable std::mutex mutex;         // device state, logs, flash
    mutable std::mutex umockdevMutex; // sysfs changes and uevents; taken before mutex, never inside it
    std::vector<std::unique_ptr<Device>> devices;
    std::map<int, int> nextAddress; // per bus
    std::map<int, int> nextPort;
    int busOf[2] = {1, 2}; // current bus for USB 2 and for SuperSpeed devices
    int lastBus = 2;

    std::mutex actionMutex;
    std::condition_variable actionWake;
    std::vector<Action> actions;
    bool stopping = false;
    std::thread actionThread;

    Device* find(DeviceId id) const
    {
        if (id < 0 || size_t(id) >= devices.size())
            return nullptr;
        return devices[size_t(id)].get();
    }
    Device* camera(DeviceId id) const
    {
        Device* d = find(id);
        return d && d->model->identity().camera ? d : nullptr;
    }

    DeviceId addDevice(const DeviceIdentity& identity, const CameraConfig& config, bool plug = true);
    Device* createDevice(const DeviceIdentity& identity, const CameraConfig& config); // umockdevMutex held
    // The chip's ROM starts (umockdevMutex held): the camera when its firmware area holds a valid
    // image, otherwise its boot loader.
    void bootUnit(Device* camera);
    // A device that left returns (umockdevMutex held): a camera starts again, a boot loader brings up
    // its camera running the firmware it started.
    void comeBack(Device* d);
    Device* cameraOfUnit(Device* d) const; // mutex held
    void applyOpenFailure(Device* d);
    void plugIn(Device* d);                  // umockdevMutex held
    void takeOut(Device* d);                 // umockdevMutex held
    void leave(Device* d, bool returnAfter); // mutex held: off the bus now, sysfs changes later
    void schedule(const Action& a);
    void runActions();

    gboolean handleIoctl(Device* d, UMockdevIoctlClient* client);
    void submitUrb(Device* d, ClientState* cs, UMockdevIoctlClient* client);
};

namespace {

const char* const ClientKey = "flashwick-client";

ClientState* clientState(UMockdevIoctlClient* client, unsigned generation)
{
    auto* cs = static_cast<ClientState*>(g_object_get_data(G_OBJECT(client), ClientKey));
    if (!cs) {
        cs = new ClientState;
        cs->generation = generation;
        g_object_set_data_full(G_OBJECT(client), ClientKey, cs,
                               [](gpointer p) { delete static_cast<ClientState*>(p); });
    }
    return cs;
}

void onClientConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data)
{
    auto* d = static_cast<Device*>(data);
    std::lock_guard<std::mutex> lock(d->owner->mutex);
    clientState(client, d->generation);
}

// The node was closed (or its process ended): its claims end with it.
void onClientVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data)
{
    auto* d = static_cast<Device*>(data);
    std::lock_guard<std::mutex> lock(d->owner->mutex);
    d->dropClaims(client);
}

gboolean onHandleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data)
{
    auto* d = static_cast<Device*>(data);
    return d->owner->handleIoctl(d, client);
}

void fail(UMockdevIoctlClient* client, int err)
{
    umockdev_ioctl_client_complete(client, -1, err);
}

} // namespace

gboolean Testbed::Private::handleIoctl(Device* d, UMockdevIoctlClient* client)
{
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::unique_lock<std::mutex> lock(mutex);
    ClientState* cs = clientState(client, d->generation);
    const bool alive = d->onBus && cs->generation == d->generation;

    switch (request) {
    case USBDEVFS_SUBMITURB:
        if (!alive) {
            fail(client, ENODEV);
            return TRUE;
        }
        submitUrb(d, cs, client);
        return TRUE;

    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY: {
        if (cs->done.empty()) {
            // A pending transfer makes the client poll again; a gone device ends its event loop.
            fail(client, alive ? EAGAIN : ENODEV);
            return TRUE;
        }
        const DoneUrb urb = cs->done.front();
        GError* err = nullptr;
        UMockdevIoctlData* slot = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), &err);
        if (!slot) {
            g_clear_error(&err);
            fail(client, EFAULT);
            return TRUE;
        }
        cs->done.pop_front();
        umockdev_ioctl_data_update(slot, 0, (guint8*)&urb.clientAddr, sizeof(void*));
        g_object_unref(slot);
        umockdev_ioctl_client_complete(client, 0, 0);
        if (urb.leaveBus && alive)
            leave(d, urb.returnAfterLeave);
        return TRUE;
    }

    case USBDEVFS_DISCARDURB: {
        const unsigned long addr =
            arg->data_len >= int(sizeof(unsigned long)) ? *(unsigned long*)arg->data : 0;
        auto it = std::find_if(cs->pending.begin(), cs->pending.end(),
                               [addr](const PendingUrb& p) { return p.clientAddr == addr; });
        if (it == cs->pending.end()) {
            fail(client, EINVAL);
            return TRUE;
        }
        GError* err = nullptr;
        UMockdevIoctlData* urbData = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), &err);
        if (!urbData) {
            g_clear_error(&err);
            fail(client, EFAULT);
            return TRUE;
        }
        const int status = -ENOENT;
        const int actual = 0;
        umockdev_ioctl_data_update(urbData, offsetof(usbdevfs_urb, status), (guint8*)&status, sizeof status);
        umockdev_ioctl_data_update(urbData, offsetof(usbdevfs_urb, actual_length), (guint8*)&actual,
                                   sizeof actual);
        g_object_unref(urbData);
        if (it->logSequence >= d->logDropped && it->logSequence - d->logDropped < d->log.size())
            d->log[it->logSequence - d->logDropped].status = -ENOENT;
        DoneUrb done;
        done.clientAddr = addr;
        cs->done.push_back(done);
        cs->pending.erase(it);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }

    case USBDEVFS_GET_SPEED:
        if (!alive) {
            fail(client, ENODEV);
            return TRUE;
        }
        umockdev_ioctl_client_complete(client, d->model->identity().speed == UsbSpeed::Super ? 5 : 3, 0);
        return TRUE;

    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE: {
        if (!alive) {
            fail(client, ENODEV);
            return TRUE;
        }
        GError* err = nullptr;
        UMockdevIoctlData* numberData = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned), &err);
        if (!numberData) {
            g_clear_error(&err);
            fail(client, EFAULT);
            return TRUE;
        }
        unsigned number = 0;
        memcpy(&number, numberData->data, sizeof number);
        g_object_unref(numberData);
        // The configuration has interface 0 only; usbfs takes numbers below 32.
        if (number != 0) {
            fail(client, number < 32 ? ENOENT : EINVAL);
            return TRUE;
        }
        d->dropClaims(nullptr);
        const auto holder = d->claims.find(number);
        const bool mine = holder != d->claims.end() && holder->second == client;
        if (request == USBDEVFS_CLAIMINTERFACE) {
            if (holder != d->claims.end() && !mine) {
                fail(client, EBUSY);
                return TRUE;
            }
            if (!mine)
                d->claims[number] = static_cast<UMockdevIoctlClient*>(g_object_ref(client));
        } else {
            if (!mine) {
                fail(client, EINVAL);
                return TRUE;
            }
            g_object_unref(holder->second);
            d->claims.erase(holder);
        }
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }

    case USBDEVFS_SETINTERFACE:
    case USBDEVFS_SETCONFIGURATION:
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP:
    case USBDEVFS_RESET:
        if (alive)
            umockdev_ioctl_client_complete(client, 0, 0);
        else
            fail(client, ENODEV);
        return TRUE;

    case USBDEVFS_GETDRIVER:
    case USBDEVFS_IOCTL:
        fail(client, alive ? ENODATA : ENODEV);
        return TRUE;

    default:
        fail(client, alive ? ENOTTY : ENODEV);
        return TRUE;
    }
}

void Testbed::Private::submitUrb(Device* d, ClientState* cs, UMockdevIoctlClient* client)
{
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    GError* err = nullptr;
    UMockdevIoctlData* urbData = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), &err);
    if (!urbData) {
        g_clear_error(&err);
        fail(client, EFAULT);
        return;
    }
    usbdevfs_urb urb;
    memcpy(&urb, urbData->data, sizeof urb);
    if (urb.type != USBDEVFS_URB_TYPE_CONTROL || (urb.endpoint & 0x7F) != 0 || urb.buffer_length < 8) {
        g_object_unref(urbData);
        fail(client, urb.type != USBDEVFS_URB_TYPE_CONTROL ? ENOENT : EINVAL);
        return;
    }
    UMockdevIoctlData* buf =
        umockdev_ioctl_data_resolve(urbData, offsetof(usbdevfs_urb, buffer), size_t(urb.buffer_length), &err);
    if (!buf) {
        g_clear_error(&err);
        g_object_unref(urbData);
        fail(client, EFAULT);
        return;
    }
    const uint8_t* b = buf->data;
    SetupPacket setup;
    setup.requestType = b[0];
    setup.request = b[1];
    setup.value = uint16_t(b[2] | (b[3] << 8));
    setup.index = uint16_t(b[4] | (b[5] << 8));
    setup.length = uint16_t(b[6] | (b[7] << 8));
    if (int(setup.length) + 8 > urb.buffer_length) {
        g_object_unref(buf);
        g_object_unref(urbData);
        fail(client, EINVAL);
        return;
    }

    const ControlReply reply = d->model->handle(setup, b + 8, setup.length, Clock::now());
    ControlRequest entry;
    entry.requestType = setup.requestType;
    entry.request = setup.request;
    entry.value = setup.value;
    entry.index = setup.index;
    entry.length = setup.length;
    entry.status = reply.noAnswer ? 1 : reply.status;
    if (d->log.size() >= MaxLogEntries) {
        d->log.erase(d->log.begin(), d->log.begin() + MaxLogEntries / 2);
        d->logDropped += MaxLogEntries / 2;
    }
    d->log.push_back(entry);

    if (reply.noAnswer) {
        cs->pending.push_back({urbData->client_addr, d->logDropped + d->log.size() - 1});
    } else {
        int actual = 0;
        if ((setup.requestType & 0x80) && !reply.data.empty()) {
            actual = int(std::min<size_t>(reply.data.size(), setup.length));
            umockdev_ioctl_data_update(buf, 8, (guint8*)reply.data.data(), actual);
        } else if (!(setup.requestType & 0x80) && reply.status == 0) {
            actual = setup.length;
        }
        umockdev_ioctl_data_update(urbData, offsetof(usbdevfs_urb, status), (guint8*)&reply.status,
                                   sizeof reply.status);
        umockdev_ioctl_data_update(urbData, offsetof(usbdevfs_urb, actual_length), (guint8*)&actual,
                                   sizeof actual);
        DoneUrb done;
        done.clientAddr = urbData->client_addr;
        done.leaveBus = reply.leaveBus;
        done.returnAfterLeave = reply.returnAfterLeave;
        cs->done.push_back(done);
    }
    g_object_unref(buf);
    g_object_unref(urbData);
    umockdev_ioctl_client_complete(client, 0, 0);
    if (reply.noAnswer && reply.leaveBus)
        leave(d, reply.returnAfterLeave); // a pending transfer is never reaped
}

void Testbed::Private::leave(Device* d, bool returnAfter)
{
    d->onBus = false;
    for (auto& claim : d->claims)
        g_object_unref(claim.second);
    d->claims.clear();
    ++d->generation;
    const unsigned epoch = ++d->leaveEpoch;
    const Clock::time_point now = Clock::now();
    schedule({now, d->id, false, epoch});
    if (returnAfter)
        schedule({now + std::chrono::milliseconds(d->model->config().timings.resetMs), d->id, true, epoch});
}

void Testbed::Private::schedule(const Action& a)
{
    std::lock_guard<std::mutex> lock(actionMutex);
    actions.push_back(a);
    actionWake.notify_all();
}

void Testbed::Private::runActions()
{
    std::unique_lock<std::mutex> lock(actionMutex);
    while (!stopping) {
        if (actions.empty()) {
            actionWake.wait(lock);
            continue;
        }
        auto next = std::min_element(actions.begin(), actions.end(),
                                     [](const Action& a, const Action& b) { return a.when < b.when; });
        if (next->when > Clock::now()) {
            actionWake.wait_until(lock, next->when);
            continue;
        }
        const Action a = *next;
        actions.erase(next);
        lock.unlock();
        {
            std::lock_guard<std::mutex> um(umockdevMutex);
            Device* d = nullptr;
            bool due = false;
            {
                std::lock_guard<std::mutex> m(mutex);
                d = find(a.id);
                due = d && !d->onBus && d->leaveEpoch == a.epoch;
            }
            if (due) {
                if (a.returning)
                    comeBack(d);
                else
                    takeOut(d);
            }
        }
        lock.lock();
    }
}

void Testbed::Private::applyOpenFailure(Device* d)
{
    OpenFailure f;
    {
        std::lock_guard<std::mutex> lock(mutex);
        f = d->model->config().faults.openFailure;
    }
    const std::string node = root + d->devnode;
    struct stat st;
    if (stat(node.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        rmdir(node.c_str());
    if (f == OpenFailure::NoNode) {
        unlink(node.c_str());
        return;
    }
    if (f == OpenFailure::Denied && geteuid() == 0) {
        // Root ignores file modes: a directory in place of the node makes open() fail (EISDIR).
        unlink(node.c_str());
        mkdir(node.c_str(), 0);
        return;
    }
    int fd = open(node.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0)
        close(fd);
    chmod(node.c_str(), f == OpenFailure::Denied ? 0 : 0644);
}

void Testbed::Private::plugIn(Device* d)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        d->onBus = true;
    }
    if (d->sysfsPresent)
        return;
    GError* err = nullptr;
    if (!umockdev_testbed_add_from_string(testbed, d->record.c_str(), &err)) {
        fprintf(stderr, "flashwick emulator: cannot add %s: %s\n", d->devnode.c_str(),
                err ? err->message : "?");
        g_clear_error(&err);
        std::lock_guard<std::mutex> lock(mutex);
        d->onBus = false;
        return;
    }
    d->sysfsPresent = true;
    applyOpenFailure(d);
}

void Testbed::Private::takeOut(Device* d)
{
    if (!d->sysfsPresent)
        return;
    const std::string node = root + d->devnode;
    struct stat st;
    if (stat(node.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        rmdir(node.c_str()); // umockdev removes a file node only
    umockdev_testbed_uevent(testbed, d->syspath.c_str(), "remove");
    umockdev_testbed_remove_device(testbed, d->syspath.c_str());
    d->sysfsPresent = false;
}

DeviceId Testbed::Private::addDevice(const DeviceIdentity& identity, const CameraConfig& config, bool plug)
{
    if (!testbed)
        return -1;
    std::lock_guard<std::mutex> um(umockdevMutex);
    Device* d = createDevice(identity, config);
    if (!d)
        return -1;
    if (plug)
        plugIn(d);
    return d->id;
}

Device* Testbed::Private::createDevice(const DeviceIdentity& identityIn, const CameraConfig& config)
{
    auto d = std::make_unique<Device>();
    DeviceIdentity identity = identityIn;
    d->owner = this;
    {
        std::lock_guard<std::mutex> lock(mutex);
        d->id = DeviceId(devices.size());
        // SuperSpeed devices sit on the USB 3 root hub's bus, as on an xHCI controller.
        // Addresses are never reused; a full bus (127 devices) continues on a new one.
        int& bus = busOf[identity.speed == UsbSpeed::Super ? 1 : 0];
        if (nextAddress[bus] > 127)
            bus = ++lastBus;
        d->bus = bus;
        int& addr = nextAddress[d->bus];
        int& port = nextPort[d->bus];
        if (addr == 0)
            addr = 2; // 1 is the root hub
        if (port == 0)
            port = 1;
        d->address = addr++;
        d->port = port++;
    }
    if (identity.camera && identity.serial.empty())
        identity.serial = format("QVC%017d", 1000 + d->id);
    d->model = std::make_unique<UsbDeviceModel>(identity, config);

    const UsbDeviceModel& m = *d->model;
    const std::vector<uint8_t> dev = m.deviceDescriptor();
    const int minor = (d->bus - 1) * 128 + d->address - 1;
    const std::string devpath =
        format("/devices/pci0000:00/0000:00:14.0/usb%d/%d-%d", d->bus, d->bus, d->port);
    d->syspath = "/sys" + devpath;
    d->devnode = format("/dev/bus/usb/%03d/%03d", d->bus, d->address);
    std::string r;
    r += "P: " + devpath + "\n";
    r += format("N: bus/usb/%03d/%03d\n", d->bus, d->address);
    r += "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n";
    r += "E: DEVNAME=" + d->devnode + "\n";
    r += format("E: BUSNUM=%03d\nE: DEVNUM=%03d\nE: MAJOR=189\nE: MINOR=%d\n", d->bus, d->address, minor);
    r += format("E: PRODUCT=%x/%x/100\nE: TYPE=0/0/0\n", identity.vendorId, identity.productId);
    r += format("A: dev=189:%d\nA: busnum=%d\\n\nA: devnum=%d\\n\nA: devpath=%d\\n\n", minor, d->bus,
                d->address, d->port);
    r += format("A: idVendor=%04x\\n\nA: idProduct=%04x\\n\nA: bcdDevice=0100\\n\n", identity.vendorId,
                identity.productId);
    r += "A: bConfigurationValue=1\\n\nA: bNumConfigurations=1\\n\nA: bNumInterfaces= 1\\n\nA: "
         "bmAttributes=80\\n\n";
    r += format("A: bDeviceClass=00\\n\nA: bDeviceSubClass=00\\n\nA: bDeviceProtocol=00\\n\nA: "
                "bMaxPacketSize0=%d\\n\n",
                dev[7]);
    r += "A: manufacturer=" + sysfsText(identity.manufacturer) + "\\n\n";
    r += "A: product=" + sysfsText(identity.product) + "\\n\n";
    if (!identity.serial.empty())
        r += "A: serial=" + sysfsText(identity.serial) + "\\n\n";
    r += format("A: speed=%s\\n\nA: version=%s\\n\nA: maxchild=0\\n\nA: removable=removable\\n\n",
                m.speedAttribute(), m.bcdUsb() >= 0x0300 ? " 3.00" : " 2.00");
    r += "H: descriptors=" + hex(m.descriptorsAttribute()) + "\n";
    d->record = r;

    d->handler = umockdev_ioctl_base_new();
    d->ioctlSignal = g_signal_connect(d->handler, "handle-ioctl", G_CALLBACK(onHandleIoctl), d.get());
    d->connectSignal =
        g_signal_connect(d->handler, "client-connected", G_CALLBACK(onClientConnected), d.get());
    d->vanishSignal = g_signal_connect(d->handler, "client-vanished", G_CALLBACK(onClientVanished), d.get());
    GError* err = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed, d->devnode.c_str(), d->handler, &err)) {
        error = std::string("cannot attach the device handler: ") + (err ? err->message : "?");
        g_clear_error(&err);
        g_object_unref(d->handler);
        return nullptr;
    }
    Device* raw = d.get();
    {
        std::lock_guard<std::mutex> lock(mutex);
        devices.push_back(std::move(d));
    }
    return raw;
}

Device* Testbed::Private::cameraOfUnit(Device* d) const
{
    return d->model->identity().bootLoader ? find(d->partner) : d;
}

void Testbed::Private::bootUnit(Device* camera)
{
    Device* loader = nullptr;
    bool valid = false;
    CameraConfig loaderConfig;
    {
        std::lock_guard<std::mutex> lock(mutex);
        valid = camera->model->bootFromFlash();
        loader = find(camera->partner);
        if (!valid && !loader) {
            // The boot loader takes the camera's timings and the faults meant for it.
            loaderConfig.name = "FX3 USB boot loader";
            loaderConfig.manufacturer = "";
            loaderConfig.speed = UsbSpeed::High;
            loaderConfig.productId = BootLoaderProductId;
            loaderConfig.timings = camera->model->config().timings;
            const CameraFaults& f = camera->model->config().faults;
            loaderConfig.faults.stallRamWrites = f.stallRamWrites;
            loaderConfig.faults.stallRamReads = f.stallRamReads;
            loaderConfig.faults.corruptRamReads = f.corruptRamReads;
            loaderConfig.faults.noCameraAfterStart = f.noCameraAfterStart;
        }
    }
    if (valid) {
        if (loader)
            takeOut(loader);
        plugIn(camera);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        camera->onBus = false;
    }
    takeOut(camera);
    if (!loader) {
        DeviceIdentity identity;
        identity.camera = false;
        identity.bootLoader = true;
        identity.vendorId = BootLoaderVendorId;
        identity.productId = BootLoaderProductId;
        identity.manufacturer = loaderConfig.manufacturer;
        identity.product = loaderConfig.name;
        identity.speed = UsbSpeed::High;
        loader = createDevice(identity, loaderConfig);
        if (!loader)
            return;
        std::lock_guard<std::mutex> lock(mutex);
        loader->partner = camera->id;
        camera->partner = loader->id;
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        loader->model->resetRam();
    }
    plugIn(loader);
}

void Testbed::Private::comeBack(Device* d)
{
    Device* camera = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!d->model->identity().bootLoader) {
            camera = d;
        } else {
            camera = find(d->partner);
            if (!camera)
                return;
            // Running from RAM: the flash stays as it is; the version is the started image's.
            if (d->model->startedVersion() >= 0)
                camera->model->config().firmwareVersion = uint8_t(d->model->startedVersion());
            ++camera->leaveEpoch;
        }
    }
    if (camera == d)
        bootUnit(camera);
    else
        plugIn(camera);
}

Testbed::Testbed() : d(std::make_unique<Private>())
{
    d->testbed = umockdev_testbed_new();
    if (!d->testbed) {
        d->error = "umockdev could not create a testbed";
        return;
    }
    gchar* root = umockdev_testbed_get_root_dir(d->testbed);
    d->root = root ? root : "";
    g_free(root);
    d->actionThread = std::thread([this] { d->runActions(); });
}

Testbed::~Testbed()
{
    if (d->actionThread.joinable()) {
        {
            std::lock_guard<std::mutex> lock(d->actionMutex);
            d->stopping = true;
            d->actionWake.notify_all();
        }
        d->actionThread.join();
    }
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        for (auto& dev : d->devices) {
            g_signal_handler_disconnect(dev->handler, dev->ioctlSignal);
            g_signal_handler_disconnect(dev->handler, dev->connectSignal);
            g_signal_handler_disconnect(dev->handler, dev->vanishSignal);
            for (auto& claim : dev->claims)
                g_object_unref(claim.second);
            dev->claims.clear();
        }
    }
    if (d->testbed)
        g_object_unref(d->testbed);
    for (auto& dev : d->devices)
        g_object_unref(dev->handler);
}

bool Testbed::isValid() const
{
    return d->testbed != nullptr;
}

std::string Testbed::errorString() const
{
    return d->error;
}

bool Testbed::preloadActive() const
{
    return umockdev_in_mock_environment();
}

std::string Testbed::rootDir() const
{
    return d->root;
}

std::vector<std::string> Testbed::environmentForChild() const
{
    std::string preload = "libumockdev-preload.so.0";
    if (const char* old = getenv("LD_PRELOAD")) {
        std::string rest = old;
        if (rest.find("libumockdev-preload") != std::string::npos)
            preload = rest;
        else if (!rest.empty())
            preload += ":" + rest;
    }
    return {"LD_PRELOAD=" + preload, "UMOCKDEV_DIR=" + d->root};
}

UMockdevTestbed* Testbed::raw() const
{
    return d->testbed;
}

std::mutex& Testbed::rawMutex() const
{
    return d->umockdevMutex;
}

DeviceId Testbed::addCamera(const CameraConfig& config)
{
    DeviceIdentity id = cameraIdentity(config);
    if (!config.startInBootLoader)
        return d->addDevice(id, config);
    const DeviceId camera = d->addDevice(id, config, false);
    if (camera >= 0) {
        std::lock_guard<std::mutex> um(d->umockdevMutex);
        Device* dev = nullptr;
        {
            std::lock_guard<std::mutex> lock(d->mutex);
            dev = d->find(camera);
        }
        d->bootUnit(dev);
    }
    return camera;
}

DeviceId Testbed::addForeignDevice(uint16_t vendorId, uint16_t productId, const std::string& product)
{
    DeviceIdentity id;
    id.camera = false;
    id.vendorId = vendorId;
    id.productId = productId;
    id.manufacturer = "Other Maker";
    id.product = product;
    id.speed = UsbSpeed::High;
    id.fullSpeed = true;
    return d->addDevice(id, CameraConfig());
}

bool Testbed::unplug(DeviceId id)
{
    std::lock_guard<std::mutex> um(d->umockdevMutex);
    std::vector<Device*> out;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        Device* dev = d->find(id);
        if (!dev)
            return false;
        for (Device* part : {dev, d->find(dev->partner)}) {
            if (!part)
                continue;
            ++part->leaveEpoch; // cancels a pending return after a reset or a start
            if (!part->onBus && !part->sysfsPresent)
                continue; // off the bus already, perhaps between the two halves of a reset
            if (part->onBus) {
                part->onBus = false;
                ++part->generation;
            }
            out.push_back(part);
        }
    }
    for (Device* part : out)
        d->takeOut(part);
    return !out.empty();
}

bool Testbed::replug(DeviceId id)
{
    std::lock_guard<std::mutex> um(d->umockdevMutex);
    Device* unit = nullptr;
    Device* loader = nullptr;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        Device* dev = d->find(id);
        if (!dev)
            return false;
        unit = d->cameraOfUnit(dev);
        if (!unit)
            return false;
        loader = d->find(unit->partner);
        if ((unit->onBus && unit->sysfsPresent) || (loader && loader->onBus && loader->sysfsPresent))
            return false;
        ++unit->leaveEpoch;
        if (loader)
            ++loader->leaveEpoch;
    }
    if (unit->model->identity().camera)
        d->bootUnit(unit);
    else
        d->plugIn(unit);
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        loader = d->find(unit->partner);
    }
    return unit->sysfsPresent || (loader && loader->sysfsPresent);
}

DeviceId Testbed::bootLoaderOf(DeviceId camera) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    Device* dev = d->camera(camera);
    return dev ? dev->partner : -1;
}

DeviceId Testbed::cameraOf(DeviceId bootLoader) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    Device* dev = d->find(bootLoader);
    return dev && dev->model->identity().bootLoader ? dev->partner : -1;
}

std::vector<uint8_t> Testbed::ram(DeviceId bootLoader, uint32_t address, uint32_t length) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    Device* dev = d->find(bootLoader);
    return dev && dev->model->identity().bootLoader ? dev->model->ram(address, length)
                                                    : std::vector<uint8_t>();
}

int Testbed::startCount(DeviceId bootLoader) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    Device* dev = d->find(bootLoader);
    return dev && dev->model->identity().bootLoader ? dev->model->starts() : 0;
}

bool Testbed::isPlugged(DeviceId id) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    Device* dev = d->find(id);
    return dev && dev->onBus;
}

bool Testbed::sendUevent(DeviceId id, const std::string& action)
{
    std::lock_guard<std::mutex> um(d->umockdevMutex);
    Device* dev = nullptr;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        dev = d->find(id);
    }
    if (!dev || !dev->sysfsPresent)
        return false;
    umockdev_testbed_uevent(d->testbed, dev->syspath.c_str(), action.c_str());
    return true;
}

std::string Testbed::sysfsPath(DeviceId id) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    Device* dev = d->find(id);
    return dev ? dev->syspath : std::string();
}

std::string Testbed::devNode(DeviceId id) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    Device* dev = d->find(id);
    return dev ? dev->devnode : std::string();
}

int Testbed::busNumber(DeviceId id) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    Device* dev = d->find(id);
    return dev ? dev->bus : 0;
}

int Testbed::deviceAddress(DeviceId id) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    Device* dev = d->find(id);
    return dev ? dev->address : 0;
}

int Testbed::portNumber(DeviceId id) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    Device* dev = d->find(id);
    return dev ? dev->port : 0;
}

std::vector<uint8_t> Testbed::flash(DeviceId id, uint32_t address, uint32_t length) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    Device* dev = d->camera(id);
    if (!dev || address >= FlashSize)
        return {};
    length = std::min(length, FlashSize - address);
    const auto& mem = dev->model->flash();
    return std::vector<uint8_t>(mem.begin() + address, mem.begin() + address + length);
}

bool Testbed::setFlash(DeviceId id, uint32_t address, const std::vector<uint8_t>& data)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    Device* dev = d->camera(id);
    if (!dev || address > FlashSize || data.size() > FlashSize - address)
        return false;
    std::copy(data.begin(), data.end(), dev->model->flash().begin() + address);
    return true;
}

bool Testbed::fillFlash(DeviceId id, uint8_t value)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    Device* dev = d->camera(id);
    if (!dev)
        return false;
    std::fill(dev->model->flash().begin(), dev->model->flash().end(), value);
    return true;
}

std::vector<ControlRequest> Testbed::requests(DeviceId id) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    Device* dev = d->find(id);
    return dev ? dev->log : std::vector<ControlRequest>();
}

void Testbed::clearRequests(DeviceId id)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (Device* dev = d->find(id)) {
        dev->logDropped += dev->log.size();
        dev->log.clear();
    }
}

int Testbed::resetCount(DeviceId id) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    Device* dev = d->camera(id);
    return dev ? dev->model->resets() : 0;
}

int Testbed::claimedInterfaces(DeviceId id) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    Device* dev = d->find(id);
    if (!dev)
        return 0;
    dev->dropClaims(nullptr);
    return int(dev->claims.size());
}

bool Testbed::isBusy(DeviceId id) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    Device* dev = d->camera(id);
    return dev && dev->model->busy(Clock::now());
}

CameraConfig Testbed::config(DeviceId id) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    Device* dev = d->find(id);
    if (!dev)
        return CameraConfig();
    CameraConfig c = dev->model->config();
    c.serial = dev->model->identity().serial;
    return c;
}

void Testbed::setTimings(DeviceId id, const CameraTimings& timings)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (Device* dev = d->camera(id))
        dev->model->config().timings = timings;
}

void Testbed::setFaults(DeviceId id, const CameraFaults& faults)
{
    OpenFailure before;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        Device* dev = d->find(id);
        if (!dev)
            return;
        before = dev->model->config().faults.openFailure;
        dev->model->config().faults = faults;
    }
    if (faults.unplugAfterRequests == 0)
        unplug(id);
    if (before != faults.openFailure) {
        std::lock_guard<std::mutex> um(d->umockdevMutex);
        Device* dev = nullptr;
        {
            std::lock_guard<std::mutex> lock(d->mutex);
            dev = d->find(id);
        }
        if (dev && dev->sysfsPresent)
            d->applyOpenFailure(dev);
    }
}

CameraFaults Testbed::faults(DeviceId id) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    Device* dev = d->find(id);
    return dev ? dev->model->config().faults : CameraFaults();
}

namespace {
template <typename T> void toggle(std::set<T>& s, T value, bool on)
{
    if (on)
        s.insert(value);
    else
        s.erase(value);
}
} // namespace

void Testbed::setStall(DeviceId id, uint8_t request, bool on)
{
    CameraFaults f = faults(id);
    toggle(f.stall, request, on);
    setFaults(id, f);
}

void Testbed::setNoAnswer(DeviceId id, uint8_t request, bool on)
{
    CameraFaults f = faults(id);
    toggle(f.noAnswer, request, on);
    setFaults(id, f);
}

void Testbed::setCorruptPage(DeviceId id, uint16_t pageAddress, bool on)
{
    CameraFaults f = faults(id);
    toggle(f.corruptPages, pageAddress, on);
    setFaults(id, f);
}

void Testbed::setBusyForever(DeviceId id, bool on)
{
    CameraFaults f = faults(id);
    f.busyForever = on;
    setFaults(id, f);
}

void Testbed::setUnplugAfterRequests(DeviceId id, int requests)
{
    CameraFaults f = faults(id);
    f.unplugAfterRequests = requests;
    setFaults(id, f);
}

void Testbed::setOpenFailure(DeviceId id, OpenFailure failure)
{
    CameraFaults f = faults(id);
    f.openFailure = failure;
    setFaults(id, f);
}

std::vector<CommandOption>& commandOptions()
{
    static std::vector<CommandOption> options;
    return options;
}

void registerCommandOption(const CommandOption& option)
{
    commandOptions().push_back(option);
}

} // namespace flashwick::emu
