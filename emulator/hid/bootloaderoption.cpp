// --wheel-bootloader option of the flashwick-emulator command.
// glib first: its headers use "signals" as a field name, which Qt defines as a keyword.
#include <umockdev.h>

#include "emulator.h"
#include "wheelbootloadermodel.h"

#include <QByteArray>
#include <QList>
#include <vector>

using namespace flashwick::emu;

namespace {

// The models live until the process ends: the command's testbed outlives every device option.
std::vector<WheelBootloaderModel*>& models()
{
    static std::vector<WheelBootloaderModel*> list;
    return list;
}

bool addBootloader(Testbed& testbed, const std::string& value, std::string& error)
{
    WheelBootloaderModel::Options options;
    options.hidrawIndex = int(models().size());
    int plugAfterMs = -1;
    WheelBootloaderModel::Fault fault = WheelBootloaderModel::Fault::None;
    uint8_t faultCode = 0;
    int unplugAfter = -1;
    const QList<QByteArray> items = QByteArray::fromStdString(value).split(',');
    for (const QByteArray& item : items) {
        if (item.isEmpty())
            continue;
        const int eq = item.indexOf('=');
        const QByteArray key = eq < 0 ? item : item.left(eq);
        const QByteArray text = eq < 0 ? QByteArray() : item.mid(eq + 1);
        bool ok = true;
        if (key == "name") {
            options.name = text;
        } else if (key == "serial") {
            options.serial = text;
        } else if (key == "version") {
            const uint v = text.toUInt(&ok);
            ok = ok && v <= 255;
            options.version = uint8_t(v);
        } else if (key == "base") {
            options.flashBase = text.toUInt(&ok, 16);
        } else if (key == "plug-after-ms") {
            plugAfterMs = text.toInt(&ok);
            ok = ok && plugAfterMs >= 0;
        } else if (key == "noreply" || key == "status1" || key == "status2" || key == "result") {
            fault = key == "noreply"   ? WheelBootloaderModel::Fault::NoReply
                    : key == "status1" ? WheelBootloaderModel::Fault::Status1
                    : key == "status2" ? WheelBootloaderModel::Fault::Status2
                                       : WheelBootloaderModel::Fault::ResultNonZero;
            faultCode = uint8_t(text.toUInt(&ok, 16));
        } else if (key == "unplug-after") {
            unplugAfter = text.toInt(&ok);
            ok = ok && unplugAfter > 0;
        } else {
            error = "unknown key " + key.toStdString();
            return false;
        }
        if (!ok) {
            error = "bad value for " + key.toStdString();
            return false;
        }
    }

    auto* model = new WheelBootloaderModel(testbed.raw(), options, &testbed.rawMutex());
    models().push_back(model);
    model->setFault(fault, faultCode);
    model->setUnplugAfter(unplugAfter);
    if (plugAfterMs >= 0) {
        model->plugAfter(plugAfterMs);
        return true;
    }
    if (!model->plug()) {
        error = "cannot add the bootloader";
        return false;
    }
    return true;
}

const bool registered = [] {
    registerCommandOption(
        {"--wheel-bootloader",
         "  --wheel-bootloader[=KEY=VALUE,...]   a filter wheel in its HID bootloader (a0a0:f000)."
         " Keys:\n"
         "      name=TEXT serial=TEXT  name query answer and HID_UNIQ (\"ZW Bootloader\")\n"
         "      version=N              version byte (default 12, shown 1.2)\n"
         "      base=HEX               flash address of the 45 KiB region (8004000)\n"
         "      plug-after-ms=N        appears N ms after the start\n"
         "      noreply=HH status1=HH status2=HH result=HH\n"
         "                             command HH (00: every command) is not answered, or\n"
         "                             answered with status 1 or 2, or with result byte 1\n"
         "      unplug-after=N         leaves the bus after N commands\n",
         addBootloader});
    return true;
}();

} // namespace
