// --wheel option of the flashwick-emulator command.
// glib first: its headers use "signals" as a field name, which Qt defines as a keyword.
#include <umockdev.h>

#include "emulator.h"
#include "wheelmodel.h"
#include "zwprotocol.h"

#include <QByteArray>
#include <QList>
#include <vector>

using namespace flashwick::emu;

namespace {

constexpr int DefaultSlotMs = 250;
constexpr int DefaultSelfTestMs = 4000;

// The models live until the process ends: the command's testbed outlives every device option.
std::vector<WheelModel*>& wheels()
{
    static std::vector<WheelModel*> list;
    return list;
}

// Command codes of a call name; empty when unknown.
std::vector<uint8_t> codesOf(const QByteArray& call)
{
    static const struct
    {
        const char* name;
        std::vector<uint8_t> codes;
    } table[] = {
        {"open", {ZW_CMD_OPEN}},
        {"properties", {ZW_CMD_GET_NAME, ZW_CMD_GET_SERIAL, ZW_CMD_GET_SLOTS}},
        {"version", {ZW_CMD_GET_FW_VERSION}},
        {"state", {ZW_CMD_GET_STATE}},
        {"position", {ZW_CMD_GET_POSITION}},
        {"goto", {ZW_CMD_GOTO}},
        {"get-oneway", {ZW_CMD_GET_ONEWAY}},
        {"set-oneway", {ZW_CMD_SET_ONEWAY}},
        {"reset", {ZW_CMD_RESET}},
        {"selftest", {ZW_CMD_SELFTEST}},
        {"selftest-state", {ZW_CMD_GET_SELFTEST}},
        {"sensors", {ZW_CMD_GET_SENSORS}},
        {"error-code", {ZW_CMD_GET_ERROR}},
        {"motor-state", {ZW_CMD_GET_MOTOR_STATE}},
        {"get-speed", {ZW_CMD_GET_MOTOR_SPEED}},
        {"set-speed", {ZW_CMD_SET_MOTOR_SPEED}},
        {"get-power", {ZW_CMD_GET_MOTOR_POWER}},
        {"set-power", {ZW_CMD_SET_MOTOR_POWER}},
        {"save", {ZW_CMD_SAVE_CONFIG}},
        {"bootloader", {ZW_CMD_BOOTLOADER}},
    };
    for (const auto& entry : table)
        if (call == entry.name)
            return entry.codes;
    return {};
}

bool isSerial(const QByteArray& text)
{
    if (text.size() != 24)
        return false;
    for (char c : text)
        if (!isxdigit(uchar(c)))
            return false;
    return true;
}

bool addWheel(Testbed& testbed, const std::string& value, std::string& error)
{
    WheelModel::Options options;
    options.hidrawIndex = 16 + 2 * int(wheels().size()); // its bootloader takes the next node
    // Motion and self test take time here, as on a real wheel; tests of the model use 0.
    options.slotMs = DefaultSlotMs;
    options.selfTestMs = DefaultSelfTestMs;
    const QList<QByteArray> items = QByteArray::fromStdString(value).split(',');
    for (const QByteArray& item : items) {
        if (item.isEmpty())
            continue;
        const int eq = item.indexOf('=');
        const QByteArray key = eq < 0 ? item : item.left(eq);
        const QByteArray text = eq < 0 ? QByteArray() : item.mid(eq + 1);
        bool ok = true;
        auto number = [&](int low, int high) {
            const int v = text.toInt(&ok);
            ok = ok && v >= low && v <= high;
            return v;
        };
        if (key == "name") {
            options.name = text;
            ok = !text.isEmpty() && text.size() <= 63;
        } else if (key == "serial") {
            options.serial = text.toUpper();
            ok = isSerial(text);
        } else if (key == "pid") {
            const uint pid = text.toUInt(&ok, 16);
            ok = ok && pid <= 0xFFFF && pid != ZW_BOOTLOADER_PRODUCT_ID;
            options.productId = uint16_t(pid);
        } else if (key == "slots") {
            options.slotCount = number(1, 32);
        } else if (key == "fw") {
            options.firmwareVersion = text;
            ok = !text.isEmpty() && text.size() < 32;
        } else if (key == "new-fw") {
            options.newFirmwareVersion = text;
            ok = !text.isEmpty() && text.size() < 32;
        } else if (key == "position") {
            options.position = number(0, 31);
        } else if (key == "one-way") {
            options.oneWay = true;
        } else if (key == "slot-ms") {
            options.slotMs = number(0, 60000);
        } else if (key == "selftest-ms") {
            options.selfTestMs = number(0, 600000);
        } else if (key == "error") {
            options.errorCode = number(0, 255);
        } else if (key == "selftest-error") {
            options.selfTestError = number(1, 255);
        } else if (key == "motor-state") {
            options.motorState = uint8_t(number(0, 255));
        } else if (key == "comm-state") {
            options.commState = uint8_t(number(0, 255));
        } else if (key == "bootloader-ms") {
            options.bootloaderMs = number(0, 600000);
        } else if (key == "return-ms") {
            options.returnMs = text == "never" ? -1 : number(0, 600000);
        } else if (key == "fail" && text == "node") {
            options.faults.unopenable = true;
        } else if (key == "fail" || key == "noreply") {
            const std::vector<uint8_t> codes = codesOf(text);
            ok = !codes.empty();
            for (uint8_t code : codes)
                (key == "fail" ? options.faults.refuse : options.faults.noReply).insert(code);
        } else if (key == "unplug-after") {
            options.faults.unplugAfter = number(1, 1 << 30);
        } else {
            error = "unknown key " + key.toStdString();
            return false;
        }
        if (!ok) {
            error = "bad value for " + key.toStdString();
            return false;
        }
    }
    if (options.position >= options.slotCount) {
        error = "position past the last slot";
        return false;
    }

    auto* model = new WheelModel(testbed.raw(), options, &testbed.rawMutex());
    wheels().push_back(model);
    if (!model->plug()) {
        error = "cannot add the wheel";
        return false;
    }
    return true;
}

const bool registered = [] {
    registerCommandOption(
        {"--wheel",
         "  --wheel[=KEY=VALUE,...]    a filter wheel (a0a0:f001, HID) for the DevizuvEZ stand-in library.\n"
         "                             Keys:\n"
         "      name=TEXT serial=HEX24 name (\"Quenvor ZW 7x36\") and serial number (24 hex digits)\n"
         "      pid=HEX                product id (default f001; f000 is the bootloader's)\n"
         "      slots=N position=N     slot count (7, at most 32) and current slot index from 0 (0)\n"
         "      fw=TEXT new-fw=TEXT    firmware version (3.1.2), and after an update (unchanged)\n"
         "      one-way                one-way mode on\n"
         "      slot-ms=N selftest-ms=N  motion time per slot (250) and self-test time (4000);\n"
         "                             0: at once\n"
         "      error=N                wheel error code (0..6)\n"
         "      selftest-error=N       the self test fails (state 16) with this code\n"
         "      motor-state=N comm-state=N  motor state when standing, communication state\n"
         "      bootloader-ms=N return-ms=N  the bootloader (a0a0:f000) appears N ms after the wheel\n"
         "                             left for it (1000); the wheel returns N ms after the\n"
         "                             bootloader ran the new firmware (1000; never: it does not)\n"
         "      fail=CALL noreply=CALL the wheel refuses, or never answers, CALL: open properties\n"
         "                             version state position goto get-oneway set-oneway reset\n"
         "                             selftest selftest-state sensors error-code motor-state\n"
         "                             get-speed set-speed get-power set-power save bootloader\n"
         "                             (repeatable); fail=node: the HID node cannot be opened\n"
         "      unplug-after=N         the wheel leaves the bus on its N-th command\n",
         addWheel});
    return true;
}();

} // namespace
