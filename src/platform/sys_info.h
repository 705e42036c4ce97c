// The one-line system summary printed at start-up.
#pragma once

#include <string>

namespace sysinfo {

struct Counts {
    unsigned long used_pages = 0;  // memory pages in use
    unsigned long max_pages = 0;   // memory pages in the machine
    unsigned long threads = 0;     // threads running on the system
};

// Any thread. Counts from /proc; zero where a value cannot be read.
Counts read_counts();
// Any thread. Counts from the text of /proc/meminfo and /proc/loadavg.
Counts parse_counts(const std::string& meminfo, const std::string& loadavg, long page_size);
// Any thread. "Sys Info : %lx/%lx  %lx \n" filled with the counts.
std::string format_line(const Counts& c);
// GUI thread. Prints the line on standard output.
void aff_info();

}  // namespace sysinfo
