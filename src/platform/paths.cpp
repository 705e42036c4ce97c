#include "platform/paths.h"

#include <unistd.h>

#include <climits>

namespace paths {
namespace {

bool exists(const std::string& path) {
    return access(path.c_str(), R_OK) == 0;
}

}  // namespace

std::string program_dir() {
    char buf[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    std::string exe(buf, static_cast<std::size_t>(n));
    const std::size_t slash = exe.rfind('/');
    if (slash == std::string::npos) return {};
    return exe.substr(0, slash);
}

std::string data_file(const std::string& name) {
    const std::string dir = program_dir();
    const std::string beside = dir + "/" + name;
    if (exists(beside)) return beside;
    const std::string installed = dir + "/../share/plexora/" + name;
    if (exists(installed)) return installed;
    return beside;
}

}  // namespace paths
