#include "io/file_kind.h"

#include <strings.h>
#include <sys/xattr.h>

namespace {

// True when `ext` starts with `prefix`, case ignored.
bool starts_with_nocase(const std::string& ext, const char* prefix) {
    const std::size_t n = std::char_traits<char>::length(prefix);
    return ext.size() >= n && strncasecmp(ext.c_str(), prefix, n) == 0;
}

}  // namespace

FileKind file_kind(const std::string& path, const std::string& fs_type) {
    // Only the leaf carries an extension: "dir.v2/drum" has none.
    const std::size_t slash = path.find_last_of('/');
    const std::size_t leaf = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = path.find_last_of('.');
    const std::string ext = (dot == std::string::npos || dot < leaf) ? "" : path.substr(dot);

    FileKind kind = kKindUnknown;
    if (starts_with_nocase(ext, ".AVR")) kind = kKindAvr;
    if (starts_with_nocase(ext, ".AIF")) kind = kKindAif;
    if (starts_with_nocase(ext, ".WAV")) kind = kKindWav;
    if (strcasecmp(fs_type.c_str(), "audio/x-aiff") == 0) kind = kKindAiff;
    if (starts_with_nocase(ext, ".aiff")) kind = kKindAiff;
    return kind;
}

std::string file_type_of(const char* path) {
    char type[256];
    const ssize_t n = getxattr(path, "user.mime_type", type, sizeof type - 1);
    if (n <= 0) return {};
    return std::string(type, static_cast<std::size_t>(n));
}
