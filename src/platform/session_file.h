// Session files: the whole set-up in one file, so that an evening's work
// comes back in one step. A session holds every instrument and sound (each
// instrument as an instrument file, sample data included; a streamed sound by
// the path, size and hash of its file; a sound read from a sample file and
// not edited since likewise, as long as reading the file again gives its
// bytes), the channel tables, the selection, the
// play-selected mode, and settings of the windows' own (the audio output, the
// MIDI source) as named text entries. A bank's sound whose data is still the
// bank file's bytes goes by the file's path, size and hash and the place of
// its bytes in it, so that a session of a large bank stays small.
//
// Layout (version 1), all numbers big-endian:
//   0   8   magic "PLEXSESS"
//   8   4   layout version
//   12  4   manifest length M
//   16  M   manifest: UTF-8 text, one "key=value" per line ("\n" and "\\"
//           escaped in values); it gives the offset, length and hash of
//           every part that follows, the path, size and hash of every file
//           whose bytes sounds use, and the tables and settings
//   16+M    the instrument files, one after another
// The file ends exactly after the last part: anything shorter is refused.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class InputBytes;
struct InstrumentStructure;
struct p_s;

constexpr char kSessionMagic[8] = {'P', 'L', 'E', 'X', 'S', 'E', 'S', 'S'};
constexpr std::uint32_t kSessionVersion = 1;
constexpr int kSessionHeaderBytes = 16;

// Named text entries that the session carries for the windows.
using SessionSettings = std::vector<std::pair<std::string, std::string>>;

// Any thread. A 64-bit FNV-1a hash of `n` bytes, continuing from `h`.
std::uint64_t session_hash(const void* data, std::size_t n,
                           std::uint64_t h = 0xcbf29ce484222325ull) noexcept;
// Any thread. The same over the bytes taken 8 at a time (host order), then
// one by one: quicker for whole files, equal only for pieces cut at
// multiples of 8.
std::uint64_t session_hash_words(const void* data, std::size_t n,
                                 std::uint64_t h = 0xcbf29ce484222325ull) noexcept;
// Any thread. The word hash of a whole file and its size; false when it
// cannot be read.
bool session_hash_file(const std::string& path, std::uint64_t& size, std::uint64_t& hash);

// The set-up as it was when a session was asked for, so that it can be
// written on another thread while the windows go on changing the tables:
// copies of the records (sharing their sample data, which never changes in
// place), the instruments' names and the windows' settings.
struct SessionCapture {
    std::shared_ptr<InstrumentStructure> structure;  // holds the copies below
    std::vector<std::shared_ptr<p_s>> records;
    std::vector<std::string> names;  // of the instruments
    SessionSettings settings;
    // Store the data of sounds that come unchanged from a bank or a sample
    // file whole, so that the session opens without those files (streamed
    // sounds still go by their file).
    bool copy_samples = false;
};

// GUI thread.
SessionCapture capture_session(SessionSettings settings);

// Any non-real-time thread. Writes `capture` to `path` through a temporary
// file renamed into place (an existing file is never left half-written).
// False, with `error` saying why, when it could not be written.
bool write_session(const std::string& path, const SessionCapture& capture, std::string& error);

// GUI thread. Both in one step.
inline bool save_session(const std::string& path, const SessionSettings& settings,
                         std::string& error, bool copy_samples = false) {
    SessionCapture capture = capture_session(settings);
    capture.copy_samples = copy_samples;
    return write_session(path, capture, error);
}

// GUI thread. A number that changes whenever the set-up a session holds
// changes (sounds and their fields, instruments and their names, the
// channel settings, the bindings, the modes), but not with what playing
// moves (pitch bend, sustain, modulation, expression).
std::uint64_t session_fingerprint();

struct SessionOpened {
    bool ok = false;
    std::string error;         // why nothing was opened
    std::string missing;       // a file the session uses that is not there, as saved
    SessionSettings settings;  // the windows' entries, when opened
};

// Files a session names, as saved, and where they are now.
using SessionMoves = std::map<std::string, std::string>;

// GUI thread. Replaces the whole set-up with the session at `path` in one
// publication. Everything is read and checked first (layout version, length,
// every part's hash, the files that sounds refer to, looked for where `moved`
// says): a session that cannot be opened whole changes nothing.
SessionOpened open_session(const std::string& path, const SessionMoves& moved = {});
// GUI thread. The same from bytes already open.
SessionOpened open_session(InputBytes& in, const SessionMoves& moved = {});

// A session read and checked on any thread, to be published on the GUI
// thread; what it sets is dropped with it when it is not published.
struct SessionContents;
struct SessionRead {
    std::string error;    // why it cannot be opened
    std::string missing;  // a file the session uses that is not there, as saved
    bool cancelled = false;
    std::shared_ptr<SessionContents> contents;  // set when it can be published
};

// Any non-real-time thread. Reads and checks the session at `path` (or from
// bytes already open) without touching any table; stops early, with
// `cancelled` set, once `cancel` turns true; `permille` follows how far it is.
SessionRead read_session(const std::string& path, const SessionMoves& moved = {},
                         const std::atomic<bool>* cancel = nullptr,
                         std::atomic<int>* permille = nullptr);
SessionRead read_session(InputBytes& in, const SessionMoves& moved = {},
                         const std::atomic<bool>* cancel = nullptr,
                         std::atomic<int>* permille = nullptr);
// GUI thread. Replaces the whole set-up with what `read` holds in one
// publication; with nothing to publish, only says why.
SessionOpened publish_session(SessionRead read);

// Any thread. True when `path` names a session file (by its ending).
bool is_session_path(const std::string& path);
constexpr const char* kSessionSuffix = ".pxsession";

// Writes sessions on a thread of its own, one at a time, so that saving a
// large set-up (the recovery file) never holds up the windows.
class SessionWriter {
  public:
    SessionWriter() = default;
    // GUI thread. Waits for a write that still runs.
    ~SessionWriter();
    SessionWriter(const SessionWriter&) = delete;
    SessionWriter& operator=(const SessionWriter&) = delete;

    // GUI thread. Starts writing `capture` to `path`; false while a write runs.
    bool start(const std::string& path, SessionCapture capture);
    // GUI thread. True while a write runs.
    bool busy() const { return thread_.joinable() && !done_.load(std::memory_order_acquire); }
    // GUI thread. True once for each write, when it has finished: its result.
    bool take_result(bool& ok, std::string& error);
    // GUI thread. Waits for a running write to end.
    void wait();

  private:
    std::thread thread_;
    std::atomic<bool> done_{false};
    bool pending_ = false;  // a result not yet taken
    bool ok_ = false;
    std::string error_;
};
