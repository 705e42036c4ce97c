#include "io/sfz_parse.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <utility>

namespace {

bool is_name_char(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}
bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

std::string trimmed(const std::string& s, std::size_t from = 0,
                    std::size_t to = std::string::npos) {
    to = std::min(to, s.size());
    while (from < to && is_space(s[from])) ++from;
    while (to > from && is_space(s[to - 1])) --to;
    return s.substr(from, to - from);
}

// `text` with its comments ("//" to the end of the line, "/* ... */")
// blanked out, its line breaks kept so that line numbers still hold.
std::string without_comments(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (text.compare(i, 2, "//") == 0) {
            while (i < text.size() && text[i] != '\n') ++i;
        } else if (text.compare(i, 2, "/*") == 0) {
            i += 2;
            while (i < text.size() && text.compare(i, 2, "*/") != 0) {
                if (text[i] == '\n') out += '\n';
                ++i;
            }
            i = std::min(i + 2, text.size());
        } else {
            out += text[i++];
        }
    }
    return out;
}

// The length of a name followed by "=" at `at`, or 0.
std::size_t opcode_at(const std::string& line, std::size_t at) {
    std::size_t j = at;
    while (j < line.size() && is_name_char(line[j])) ++j;
    return j > at && j < line.size() && line[j] == '=' ? j - at : 0;
}

class Parser {
  public:
    Parser(const std::string& path, const SfzTextReader& read) : read_(read) {
        const std::filesystem::path p(path);
        folder_ = p.parent_path();
    }

    SfzText run(const std::string& path) {
        parse_file(std::filesystem::path(path).lexically_normal().string(), 0);
        end_region();
        return std::move(out_);
    }

  private:
    enum class Header { kNone, kControl, kGlobal, kMaster, kGroup, kRegion, kOther };

    void parse_file(const std::string& path, int depth) {
        std::string text;
        if (!read_(path, text)) {
            out_.problems.push_back("could not read " + path);
            return;
        }
        read_bytes_ += text.size();
        if (read_bytes_ > kSfzMaxText) {
            out_.problems.push_back("more text than an instrument can hold; the rest of " + path +
                                    " was left out");
            return;
        }
        stack_.push_back(path);
        const std::string leaf = std::filesystem::path(path).filename().string();
        const std::string clean = without_comments(text);
        std::size_t line_no = 0;
        for (std::size_t at = 0; at <= clean.size() && !stopped_;) {
            std::size_t nl = clean.find('\n', at);
            if (nl == std::string::npos) nl = clean.size();
            ++line_no;
            where_ = leaf + " line " + std::to_string(line_no);
            line(trimmed(clean, at, nl), depth);
            at = nl + 1;
        }
        stack_.pop_back();
    }

    void line(const std::string& l, int depth) {
        if (l.rfind("#define", 0) == 0) {
            define(l.substr(7));
        } else if (l.rfind("#include", 0) == 0) {
            include(l.substr(8), depth);
        } else if (!l.empty()) {
            scan(substituted(l));
        }
    }

    void define(const std::string& rest) {
        const std::string r = trimmed(rest);
        std::size_t n = 1;
        while (n < r.size() && is_name_char(r[n])) ++n;
        if (r.empty() || r[0] != '$' || n == 1) {
            out_.problems.push_back(where_ + ": a #define without a $name");
            return;
        }
        defines_[r.substr(1, n - 1)] = trimmed(r, n).substr(0, 1024);
    }

    void include(const std::string& rest, int depth) {
        const std::size_t q0 = rest.find('"');
        const std::size_t q1 = q0 == std::string::npos ? q0 : rest.find('"', q0 + 1);
        if (q1 == std::string::npos) {
            out_.problems.push_back(where_ + ": an #include without a quoted file name");
            return;
        }
        std::string name = substituted(rest.substr(q0 + 1, q1 - q0 - 1));
        for (char& c : name) c = c == '\\' ? '/' : c;
        std::filesystem::path p(name);
        if (p.is_relative()) p = folder_ / p;
        const std::string path = p.lexically_normal().string();
        for (const std::string& open : stack_) {
            if (open == path) {
                out_.problems.push_back(where_ + ": " + name +
                                        " includes itself; the loop was left out");
                return;
            }
        }
        if (depth + 1 >= kSfzIncludeDepth) {
            out_.problems.push_back(where_ + ": includes nested too deep; " + name +
                                    " was left out");
            return;
        }
        parse_file(path, depth + 1);
    }

    // The line with each $name that was defined replaced by its value (the
    // longest defined name wins).
    std::string substituted(const std::string& l) const {
        if (defines_.empty() || l.find('$') == std::string::npos) return l;
        std::string out;
        for (std::size_t i = 0; i < l.size();) {
            std::size_t n = 0;
            if (l[i] == '$') {
                while (i + 1 + n < l.size() && is_name_char(l[i + 1 + n])) ++n;
                for (; n > 0; --n) {
                    const auto it = defines_.find(l.substr(i + 1, n));
                    if (it != defines_.end()) {
                        out += it->second;
                        break;
                    }
                }
            }
            if (n > 0) {
                i += 1 + n;
            } else {
                out += l[i++];
            }
            if (out.size() > 65536) break;  // a line no instrument needs
        }
        return out;
    }

    // Headers and opcodes. A value runs to the end of the line, to the next
    // header, or to the next name followed by "=", so file names may hold
    // spaces.
    void scan(const std::string& l) {
        std::size_t i = 0;
        while (i < l.size() && !stopped_) {
            if (is_space(l[i])) {
                ++i;
            } else if (l[i] == '<') {
                const std::size_t close = l.find('>', i);
                if (close == std::string::npos) {
                    out_.problems.push_back(where_ + ": a header without its closing >");
                    return;
                }
                header(l.substr(i + 1, close - i - 1));
                i = close + 1;
            } else if (const std::size_t n = opcode_at(l, i)) {
                std::size_t end = i + n + 1;
                while (end < l.size() && l[end] != '<') {
                    if (is_space(l[end])) {
                        std::size_t k = end;
                        while (k < l.size() && is_space(l[k])) ++k;
                        if (k == l.size() || opcode_at(l, k)) break;
                        end = k;
                    } else {
                        ++end;
                    }
                }
                opcode(l.substr(i, n), trimmed(l, i + n + 1, end));
                i = end;
            } else {
                std::size_t end = i;
                while (end < l.size() && !is_space(l[end])) ++end;
                out_.problems.push_back(where_ + ": could not read \"" + l.substr(i, end - i) +
                                        "\"");
                i = end;
            }
        }
    }

    void header(const std::string& name) {
        end_region();
        if (name == "control") {
            header_ = Header::kControl;
        } else if (name == "global") {
            header_ = Header::kGlobal;
            global_.clear();
            master_.clear();
            group_.clear();
        } else if (name == "master") {
            header_ = Header::kMaster;
            master_.clear();
            group_.clear();
        } else if (name == "group") {
            header_ = Header::kGroup;
            group_.clear();
        } else if (name == "region") {
            header_ = Header::kRegion;
            region_ = SfzRegion{};
            region_.where = where_;
            region_.default_path = default_path_;
            for (const auto* level : {&global_, &master_, &group_})
                for (const auto& [k, v] : *level) region_.opcodes[k] = v;
        } else {
            header_ = Header::kOther;
            ++out_.ignored["<" + name + ">"];
        }
    }

    void opcode(const std::string& name, const std::string& value) {
        switch (header_) {
            case Header::kControl:
                if (name == "default_path") {
                    default_path_ = value;
                } else {
                    ++out_.ignored[name];
                }
                break;
            case Header::kGlobal:
                global_[name] = value;
                break;
            case Header::kMaster:
                master_[name] = value;
                break;
            case Header::kGroup:
                group_[name] = value;
                break;
            case Header::kRegion:
                region_.opcodes[name] = value;
                break;
            case Header::kNone:  // before any header: nothing it could apply to
            case Header::kOther:
                break;
        }
    }

    void end_region() {
        if (header_ != Header::kRegion) return;
        header_ = Header::kNone;
        if (out_.regions.size() >= kSfzMaxRegions) {
            out_.problems.push_back(
                "more regions than an instrument can hold; the rest were left out");
            stopped_ = true;
            return;
        }
        out_.regions.push_back(std::move(region_));
    }

    const SfzTextReader& read_;
    std::filesystem::path folder_;
    SfzText out_;
    std::vector<std::string> stack_;  // the files being read, outermost first
    std::map<std::string, std::string> defines_;
    std::map<std::string, std::string> global_, master_, group_;
    std::string default_path_;
    SfzRegion region_;
    Header header_ = Header::kNone;
    std::string where_;
    std::size_t read_bytes_ = 0;
    bool stopped_ = false;
};

}  // namespace

SfzText parse_sfz(const std::string& path, const SfzTextReader& read) {
    return Parser(path, read).run(path);
}

int sfz_key(const std::string& value) {
    if (value.empty()) return -1;
    char* end = nullptr;
    const long n = std::strtol(value.c_str(), &end, 10);
    if (end && *end == 0) return n >= 0 && n <= 127 ? static_cast<int>(n) : -1;
    static constexpr int kSteps[7] = {9, 11, 0, 2, 4, 5, 7};  // a b c d e f g
    const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(value[0])));
    if (letter < 'a' || letter > 'g') return -1;
    int key = kSteps[letter - 'a'];
    std::size_t i = 1;
    if (i < value.size() && value[i] == '#')
        key += 1, ++i;
    else if (i < value.size() && value[i] == 'b')
        key -= 1, ++i;
    const char* digits = value.c_str() + i;
    const long octave = std::strtol(digits, &end, 10);
    if (end == digits || *end != 0 || octave < -1 || octave > 9) return -1;
    key += static_cast<int>(octave + 1) * 12;
    return key >= 0 && key <= 127 ? key : -1;
}
