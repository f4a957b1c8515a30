#include "deviceusers.h"

#ifdef __linux__
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#endif

std::vector<DeviceUser> otherDeviceUsers(const std::string& node)
{
    std::vector<DeviceUser> users;
#ifdef __linux__
    struct stat target;
    if (node.empty() || stat(node.c_str(), &target) != 0)
        return users;
    const pid_t self = getpid();
    DIR* proc = opendir("/proc");
    if (!proc)
        return users;
    while (const dirent* entry = readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end || pid == self)
            continue;
        const std::string fdDir = "/proc/" + std::string(entry->d_name) + "/fd";
        DIR* fds = opendir(fdDir.c_str()); // fails for processes of other users
        if (!fds)
            continue;
        bool uses = false;
        while (const dirent* fd = readdir(fds)) {
            struct stat st;
            // The same file: its device and inode, as the link resolves to it.
            if (fd->d_name[0] != '.' && stat((fdDir + '/' + fd->d_name).c_str(), &st) == 0 &&
                st.st_dev == target.st_dev && st.st_ino == target.st_ino) {
                uses = true;
                break;
            }
        }
        closedir(fds);
        if (!uses)
            continue;
        DeviceUser user;
        user.pid = int(pid);
        std::ifstream comm("/proc/" + std::string(entry->d_name) + "/comm");
        std::getline(comm, user.name);
        if (user.name.empty())
            user.name = "?";
        users.push_back(user);
    }
    closedir(proc);
    std::sort(users.begin(), users.end(),
              [](const DeviceUser& a, const DeviceUser& b) { return a.pid < b.pid; });
#else
    (void)node;
#endif
    return users;
}
