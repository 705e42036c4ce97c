// What kind of sample file a path names, from its extension and the type the
// file system records for it.
#pragma once

#include <string>

enum FileKind : int {
    kKindAvr = 0,      // read by the AVR reader
    kKindAif = 1,      // ".AIF..."
    kKindWav = 2,      // ".WAV..."
    kKindAiff = 3,     // ".aiff..." or recorded as "audio/x-aiff"
    kKindUnknown = 9,  // anything else: left to the decoder
};

// Any thread. The kind of `path`: the extension is the text from the last "."
// of the leaf name, compared as a case-insensitive prefix; `fs_type` is the
// type recorded by the file system ("" when none).
FileKind file_kind(const std::string& path, const std::string& fs_type);

// GUI thread. The MIME type the file system records for `path` (the
// "user.mime_type" extended attribute), or "" when it records none.
std::string file_type_of(const char* path);
