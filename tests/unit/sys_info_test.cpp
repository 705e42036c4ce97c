#include "platform/sys_info.h"

#include <gtest/gtest.h>

namespace {

TEST(SysInfo, PagesAndThreadsFromProcText) {
    const std::string meminfo =
        "MemTotal:        8000000 kB\nMemFree:          100000 kB\n"
        "MemAvailable:    6000000 kB\nBuffers:            1000 kB\n";
    const sysinfo::Counts c = sysinfo::parse_counts(meminfo, "0.52 0.58 0.59 3/467 12345\n", 4096);
    EXPECT_EQ(c.max_pages, 2000000u);  // 8000000 kB in 4 kB pages
    EXPECT_EQ(c.used_pages, 500000u);  // total less what is available
    EXPECT_EQ(c.threads, 467u);
    EXPECT_EQ(sysinfo::format_line(c), "Sys Info : 7a120/1e8480  1d3 \n");

    // Older kernels have no MemAvailable: free memory stands in for it.
    const sysinfo::Counts old =
        sysinfo::parse_counts("MemTotal: 400 kB\nMemFree: 100 kB\n", "garbage", 1024);
    EXPECT_EQ(old.max_pages, 400u);
    EXPECT_EQ(old.used_pages, 300u);
    EXPECT_EQ(old.threads, 0u);
}

TEST(SysInfo, ThisMachineHasMemoryAndThreads) {
    const sysinfo::Counts c = sysinfo::read_counts();
    EXPECT_GT(c.max_pages, 0u);
    EXPECT_GT(c.used_pages, 0u);
    EXPECT_LE(c.used_pages, c.max_pages);
    EXPECT_GT(c.threads, 0u);
}

}  // namespace
