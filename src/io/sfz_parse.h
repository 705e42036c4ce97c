// Reading the text of an SFZ instrument: the headers <control>, <global>,
// <master>, <group> and <region> with their opcodes, `#define` and
// `#include`. Each region comes out with every opcode that applies to it.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

struct SfzRegion {
    // Its own opcodes and those of the <global>, <master> and <group> above
    // it; the nearer header's value replaces the farther one's.
    std::map<std::string, std::string> opcodes;
    std::string default_path;  // the last <control> header's before it
    std::string where;         // "kit.sfz line 12"

    // The value of `name`, or null when no header sets it.
    const std::string* find(const std::string& name) const {
        const auto it = opcodes.find(name);
        return it == opcodes.end() ? nullptr : &it->second;
    }
};

struct SfzText {
    std::vector<SfzRegion> regions;
    // Headers that are not read (<curve>, <effect>, <midi>, ...) and the
    // opcodes of <control> other than default_path, with how often they came.
    std::map<std::string, int> ignored;
    std::vector<std::string> problems;  // includes refused or missing, text that could not be read
};

// Reads a file's whole text; false when it cannot be read.
using SfzTextReader = std::function<bool(const std::string& path, std::string& text)>;

// Limits that keep a hostile file from growing without end.
constexpr int kSfzIncludeDepth = 16;
constexpr std::size_t kSfzMaxText = std::size_t{32} << 20;  // bytes read, includes counted
constexpr std::size_t kSfzMaxRegions = 65536;

// Any thread. Parses the SFZ file at `path`, reading it and the files it
// includes through `read`. Included files are found relative to the folder
// of `path`, as every file of the instrument is.
SfzText parse_sfz(const std::string& path, const SfzTextReader& read);

// Any thread. A key given as a number or a note name ("c4" is 60, "c#4" and
// "db4" are 61); -1 when it is neither, or outside 0 to 127.
int sfz_key(const std::string& value);
