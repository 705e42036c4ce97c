#include "platform/sys_info.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace sysinfo {
namespace {

std::string slurp(const char* path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Value in kB of the /proc/meminfo line starting with `key`, or -1.
long long meminfo_kb(const std::string& text, const char* key) {
    std::istringstream in(text);
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(in, line)) {
        if (line.compare(0, prefix.size(), prefix) == 0) {
            long long kb = -1;
            if (std::sscanf(line.c_str() + prefix.size(), "%lld", &kb) == 1) return kb;
        }
    }
    return -1;
}

}  // namespace

Counts parse_counts(const std::string& meminfo, const std::string& loadavg, long page_size) {
    Counts c;
    if (page_size <= 0) page_size = 4096;
    const long long total = meminfo_kb(meminfo, "MemTotal");
    long long avail = meminfo_kb(meminfo, "MemAvailable");
    if (avail < 0) avail = meminfo_kb(meminfo, "MemFree");
    if (total > 0) {
        c.max_pages = static_cast<unsigned long>(total * 1024 / page_size);
        if (avail >= 0 && avail <= total) {
            c.used_pages = static_cast<unsigned long>((total - avail) * 1024 / page_size);
        }
    }
    // The fourth field is "running/total" scheduling entities, i.e. threads.
    double l1, l5, l15;
    unsigned long running = 0, threads = 0;
    if (std::sscanf(loadavg.c_str(), "%lf %lf %lf %lu/%lu", &l1, &l5, &l15, &running, &threads) ==
        5) {
        c.threads = threads;
    }
    return c;
}

Counts read_counts() {
    return parse_counts(slurp("/proc/meminfo"), slurp("/proc/loadavg"), sysconf(_SC_PAGESIZE));
}

std::string format_line(const Counts& c) {
    char line[128];
    std::snprintf(line, sizeof line, "Sys Info : %lx/%lx  %lx \n", c.used_pages, c.max_pages,
                  c.threads);
    return line;
}

void aff_info() {
    std::fputs(format_line(read_counts()).c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace sysinfo
