// --verbose: every request to a device as a trace line of the output, while an object of this
// class lives. Camera vendor requests, FX3 boot loader requests, wheel library calls, wheel
// bootloader exchanges and the device layers' own debug messages.
#ifndef DEVICETRACE_H
#define DEVICETRACE_H

class Output;

class DeviceTrace
{
public:
    explicit DeviceTrace(Output& out);
    ~DeviceTrace();
    DeviceTrace(const DeviceTrace&) = delete;
    DeviceTrace& operator=(const DeviceTrace&) = delete;
};

#endif
