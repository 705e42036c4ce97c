// Small text helpers shared by the file writers. Any thread.
#pragma once

#include <cctype>
#include <cstring>
#include <string>

// True when `s` ends with `tail` (lower case), case ignored.
inline bool ends_with_nocase(const std::string& s, const char* tail) {
    const std::size_t n = std::strlen(tail);
    if (s.size() < n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != tail[i]) return false;
    return true;
}
