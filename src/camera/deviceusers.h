// The other processes that have a device node open, so that a refusal can name them.
#ifndef DEVICEUSERS_H
#define DEVICEUSERS_H

#include <string>
#include <vector>

struct DeviceUser
{
    int pid = 0;
    std::string name; // the process's command name
};

// Processes other than this one with `node` open, in process id order. Linux reads /proc, where it
// sees the processes of this user (all of them for root); elsewhere, or without a node, the list is
// empty.
std::vector<DeviceUser> otherDeviceUsers(const std::string& node);

#endif
