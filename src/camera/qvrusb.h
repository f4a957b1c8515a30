// Connection to one Quenvor camera (FX3 controller): vendor requests on endpoint 0, the camera
// list, and writing the firmware image or FPGA bitstream into the camera's flash.
#ifndef QVRUSB_H
#define QVRUSB_H

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class UsbDriverDevice;

// Cameras found by the last enumeration: three parallel lists in driver index order.
struct CameraList
{
    QList<QByteArray> names; // name the transport reports; shown in the camera list
    QList<int> indices;      // driver index to pass to QVRUsb::open
    QList<QByteArray> paths; // identity of the camera while it stays plugged in
    void clear()
    {
        names.clear();
        indices.clear();
        paths.clear();
    }
};

// FX3 chips in their USB boot loader (04B4:00F3) found by the last enumeration. They are not
// cameras: never in the camera list, and no camera request is sent to them.
struct BootLoaderList
{
    QList<int> indices;      // driver index to pass to Fx3BootLoader::open
    QList<QByteArray> paths; // identity while the chip stays plugged in
    void clear()
    {
        indices.clear();
        paths.clear();
    }
    int size() const { return indices.size(); }
};

class QVRUsb
{
public:
    static constexpr uint16_t CameraVendorId = 0xA0A0;
    static constexpr unsigned RequestTimeoutMs = 500;
    // Longest time the camera may answer busy to the status reads after one erase (64 KiB block or
    // 4 KiB sector) and after one programmed chunk, before the write gives up with 5 or 3.
    static constexpr unsigned EraseStatusBoundMs = 5000;
    static constexpr unsigned ProgramStatusBoundMs = 2000;

    // Vendor request codes.
    enum Request : uint8_t
    {
        ReqFirmwareVersion = 0xA2,
        ReqSerialNumber = 0xA3,
        ReqFpgaVersion = 0xC2,
        ReqWritePage = 0xD0,
        ReqReadPage = 0xD1,
        ReqErase = 0xD2,
        ReqStatus = 0xD3,
        ReqResetFX3 = 0xE0,
    };

    // Result codes of writeFirmware and writeFpga.
    enum WriteResult
    {
        WriteOk = 0,
        WriteBadStart = 1,
        WriteTooLarge = 2,
        WriteProgramFailed = 3,
        WriteReadBackFailed = 4,
        WriteEraseFailed = 5,
        WriteVerifyFailed = 6,
        WriteFileError = 7,
        WriteInUse = 8, // another program holds the camera: nothing was sent to the flash
    };

    enum Claim
    {
        ClaimOk,
        ClaimInUse,  // another program holds the camera
        ClaimFailed, // not open, or gone (lastError tells)
    };

    QVRUsb();
    virtual ~QVRUsb();
    QVRUsb(const QVRUsb&) = delete;
    QVRUsb& operator=(const QVRUsb&) = delete;

    // Fills cameraList() with the cameras present; returns how many were found.
    static int enumerateCameras();
    static CameraList& cameraList();
    // The boot loaders seen by the last enumerateCameras.
    static BootLoaderList& bootLoaderList();
    // The same enumeration into lists of the caller's (for a worker thread, which must leave the
    // shared lists to the GUI thread). bootLoaders may be null. Returns the number of cameras.
    static int findDevices(CameraList& cameras, BootLoaderList* bootLoaders);

    bool open(int index);
    void close();
    bool isOpen() const { return opened; }
    // True once the open camera is known to have left the bus: a request was answered "no device",
    // its node was reported removed, or it was told to reset. Its handle then stays dead even when
    // the camera comes back on the same port, so the Camera tab closes it and opens it afresh.
    // Cleared by open and close.
    bool isGone() const { return gone.load(); }
    // A device node the system reports removed (GUI thread): marks the camera gone when it is the
    // open camera's node.
    void deviceRemoved(const QString& node);
    bool isUsb3() const;

    bool sendVendorRequest(uint8_t bRequest, uint16_t wValue, uint16_t wIndex, uint8_t toHost,
                           uint8_t* buffer, int length);
    bool readFirmwareVersion(uint8_t& version);
    bool readFpgaVersion(uint8_t& a, int& b, uint8_t& c);
    bool readSerialNumber(uint8_t* buffer); // at least 20 bytes
    bool resetFX3();

    // The open camera for this object alone, as long as a write takes (UsbDriverDevice::
    // claimExclusive): no other program's write, and no capture program that holds the camera, can
    // come between its requests. Every write below takes it before its first flash request, unless
    // it is held already, and gives it back when it ends, whatever the result; an operation made of
    // several writes takes it first. Reading needs none. close() gives it back too.
    Claim claimExclusive();
    void releaseExclusive();
    bool isClaimed() const;
    // After a claim answered ClaimInUse: the other processes that have the camera open, each as
    // "name, pid N", where the system tells them; empty otherwise.
    QStringList cameraUsers() const;

    int writeFirmware(const char* fileName, std::atomic<uint8_t>* progress);
    int writeFpga(const char* fileName, std::atomic<uint8_t>* progress);
    // The same writes from memory: the firmware image as it is, the bitstream without the 256 bytes
    // of 0xFF that the write puts in front of it. `programmed`, when given, counts the area bytes
    // programmed and read back so far. An empty image gives WriteFileError.
    int writeFirmwareImage(const QByteArray& image, std::atomic<uint8_t>* progress,
                           std::atomic<uint32_t>* programmed = nullptr);
    int writeFpgaImage(const QByteArray& bitstream, std::atomic<uint8_t>* progress,
                       std::atomic<uint32_t>* programmed = nullptr);

    // Reads `length` bytes of flash from `address` (a multiple of 256) into `out` with read-page
    // requests of at most 4096 bytes. False when a request fails, a reply comes back short or the
    // range leaves the flash.
    bool readFlash(uint32_t address, uint32_t length, uint8_t* out);

    // Last transport error (0 when none: a failed open then means no camera was present), so
    // callers can tell "permission denied" from "no device".
    int lastError() const;
    QString lastErrorText() const;
    bool lastErrorIsAccessDenied() const;

    // Test hooks. The observer sees every value stored into a write's progress, on the writing
    // thread. The status bounds replace EraseStatusBoundMs and ProgramStatusBoundMs.
    void setProgressObserver(std::function<void(uint8_t)> observer);
    void setStatusBounds(unsigned eraseMs, unsigned programMs);
    // Process-wide trace of every vendor request of every camera object, after it ended, for a bug
    // report: set it before a camera is used and clear it (an empty function) after the last. It may
    // be called on a write's worker thread. `data` holds `moved` bytes.
    struct RequestTrace
    {
        uint8_t request;
        uint16_t value;
        uint16_t index;
        bool toHost;
        int length;
        int moved;
        bool ok;
        int error; // the transport's error when not ok
        const uint8_t* data;
        int64_t nanoseconds;
    };
    static void setRequestTrace(std::function<void(const RequestTrace&)> trace);
    // Benchmark hook: sees each request sent with the nanoseconds the transport took for it.
    void setRequestObserver(std::function<void(uint8_t request, int64_t nanoseconds)> observer);

private:
    bool transfer(uint8_t bRequest, uint16_t wValue, uint16_t wIndex, uint8_t toHost, uint8_t* buffer,
                  int length, int* moved);
    bool waitReady(unsigned boundMs);
    bool programChunk(uint16_t page, uint8_t* data, int length);
    int readBackChunk(uint16_t page, const uint8_t* data, int length, uint8_t* scratch);
    int writeArea(uint32_t start, uint8_t* data, uint32_t length, std::atomic<uint8_t>* progress,
                  std::atomic<uint32_t>* programmed);
    int writeFpgaArea(std::vector<uint8_t>& framed, std::atomic<uint8_t>* progress,
                      std::atomic<uint32_t>* programmed);
    int takeForWrite(bool& taken);
    void setProgress(std::atomic<uint8_t>* progress, uint8_t value);

    std::unique_ptr<UsbDriverDevice> device;
    mutable QMutex mutex;
    bool opened = false;
    std::atomic<bool> gone{false};
    QString openNode; // the open device's node; set and read on the GUI thread
    int error = 0;
    QStringList users; // of the last claim that found the camera in use
    std::function<void(uint8_t)> progressObserver;
    std::function<void(uint8_t, int64_t)> requestObserver;
    unsigned eraseBoundMs = EraseStatusBoundMs;
    unsigned programBoundMs = ProgramStatusBoundMs;
};

// Display forms of the camera's replies.
QString firmwareVersionText(uint8_t version);         // 45 -> "V4.5"
QString fpgaVersionText(uint8_t a, int b, uint8_t c); // 1, 2301, 12 -> "V1.2301.1.2"
QString serialNumberText(const uint8_t* buffer);      // up to the first NUL, local 8-bit encoding
QString connectionText(bool usb3);                    // "USB3.0" / "USB2.0"

#endif
