#include "setup/rtf.h"

#include <cstdint>
#include <vector>

#include "platform/codepage.h"
#include "platform/escape.h"

namespace setup {
namespace {

struct CharFormat {
    bool bold = false;
    bool italic = false;
    bool underline = false;
    int half_points = 24;  // RTF's default size is 12 pt
    bool skip = false;     // inside a destination that shows nothing
    int uc = 1;            // characters to skip after \uN
    bool looks_like(const CharFormat& o) const {
        return bold == o.bold && italic == o.italic && underline == o.underline &&
               half_points == o.half_points;
    }
};

// Destinations whose text never reaches the page.
constexpr std::string_view kSkippedDestinations[] = {
    "fonttbl",   "colortbl",  "stylesheet",   "info",
    "pict",      "header",    "footer",       "headerl",
    "headerr",   "footerl",   "footerr",      "footnote",
    "object",    "fldinst",   "listtable",    "listoverridetable",
    "themedata", "datastore", "latentstyles", "rsidtbl",
    "generator"};

bool is_skipped_destination(std::string_view word) {
    for (auto d : kSkippedDestinations) {
        if (d == word) return true;
    }
    return false;
}

void append_escaped(std::string& out, std::string_view utf8) {
    platform::append_escaped(out, utf8,
                             {{'<', "&lt;"}, {'>', "&gt;"}, {'&', "&amp;"}, {'"', "&quot;"}});
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

class Reader {
  public:
    explicit Reader(std::string_view rtf) : in_(rtf) {}

    std::string run() {
        while (pos_ < in_.size()) {
            char c = in_[pos_++];
            switch (c) {
                case '{':
                    // Deep nesting only happens in damaged files; stop growing the stack.
                    if (stack_.size() < 4096) stack_.push_back(fmt_);
                    group_start_ = true;
                    continue;
                case '}':
                    if (!stack_.empty()) {
                        fmt_ = stack_.back();
                        stack_.pop_back();
                    }
                    break;
                case '\\':
                    control();
                    break;
                case '\r':
                case '\n':
                    break;
                default:
                    text_byte(static_cast<unsigned char>(c));
            }
            group_start_ = false;
        }
        end_paragraph(false);
        return html_;
    }

  private:
    void control() {
        if (pos_ >= in_.size()) return;
        char c = in_[pos_];
        if (!is_alpha(c)) {
            ++pos_;
            control_symbol(c);
            return;
        }
        size_t start = pos_;
        while (pos_ < in_.size() && is_alpha(in_[pos_]) && pos_ - start < 32) ++pos_;
        std::string_view word = in_.substr(start, pos_ - start);
        bool has_param = false;
        long param = 0;
        bool negative = false;
        if (pos_ < in_.size() && in_[pos_] == '-') {
            negative = true;
            ++pos_;
        }
        size_t digits = 0;
        while (pos_ < in_.size() && is_digit(in_[pos_]) && digits < 10) {
            param = param * 10 + (in_[pos_] - '0');
            ++pos_;
            ++digits;
            has_param = true;
        }
        if (negative) param = -param;
        if (pos_ < in_.size() && in_[pos_] == ' ') ++pos_;
        control_word(word, has_param, param);
    }

    void control_symbol(char c) {
        switch (c) {
            case '\\':
            case '{':
            case '}':
                text_byte(static_cast<unsigned char>(c));
                break;
            case '~':
                text_utf8("\u00A0");
                break;
            case '_':
                text_utf8("-");
                break;
            case '-':  // optional hyphen
                break;
            case '*':
                if (group_start_or_after_brace()) fmt_.skip = true;
                break;
            case '\'': {
                if (pos_ + 1 < in_.size()) {
                    int hi = hex_value(in_[pos_]);
                    int lo = hex_value(in_[pos_ + 1]);
                    if (hi >= 0 && lo >= 0) {
                        pos_ += 2;
                        text_byte(static_cast<unsigned char>(hi * 16 + lo));
                    }
                }
                break;
            }
            case '\r':
            case '\n':
                end_paragraph(true);
                break;
            default:
                break;
        }
    }

    bool group_start_or_after_brace() const { return group_start_; }

    void control_word(std::string_view w, bool has_param, long p) {
        if (is_skipped_destination(w)) {
            fmt_.skip = true;
            return;
        }
        if (w == "par") return end_paragraph(true);
        if (w == "line") return text_raw("<br>");
        if (w == "tab") return text_utf8("\t");
        if (w == "emdash") return text_utf8("\u2014");
        if (w == "endash") return text_utf8("\u2013");
        if (w == "bullet") return text_utf8("\u2022");
        if (w == "lquote") return text_utf8("\u2018");
        if (w == "rquote") return text_utf8("\u2019");
        if (w == "ldblquote") return text_utf8("\u201C");
        if (w == "rdblquote") return text_utf8("\u201D");
        bool on = !has_param || p != 0;
        if (w == "b") {
            fmt_.bold = on;
        } else if (w == "i") {
            fmt_.italic = on;
        } else if (w == "ul") {
            fmt_.underline = on;
        } else if (w == "ulnone") {
            fmt_.underline = false;
        } else if (w == "fs") {
            if (has_param && p > 0 && p < 4000) fmt_.half_points = static_cast<int>(p);
        } else if (w == "plain") {
            bool skip = fmt_.skip;
            int uc = fmt_.uc;
            fmt_ = CharFormat{};
            fmt_.skip = skip;
            fmt_.uc = uc;
        } else if (w == "uc") {
            if (has_param && p >= 0 && p < 10) fmt_.uc = static_cast<int>(p);
        } else if (w == "u") {
            if (!has_param) return;
            long cp = p < 0 ? p + 65536 : p;
            if (cp >= 0 && cp < 0x110000 && !(cp >= 0xD800 && cp < 0xE000)) {
                std::string s;
                platform::append_utf8(s, static_cast<uint32_t>(cp));
                text_utf8(s);
            }
            skip_fallback(fmt_.uc);
        }
    }

    // After \uN the writer puts N replacement characters for older readers; drop them.
    void skip_fallback(int count) {
        while (count > 0 && pos_ < in_.size()) {
            char c = in_[pos_];
            if (c == '{' || c == '}') return;
            if (c == '\\') {
                if (pos_ + 1 < in_.size() && in_[pos_ + 1] == '\'') {
                    pos_ += 4;
                } else {
                    ++pos_;
                    while (pos_ < in_.size() && is_alpha(in_[pos_])) ++pos_;
                    if (pos_ < in_.size() && in_[pos_] == '-') ++pos_;
                    while (pos_ < in_.size() && is_digit(in_[pos_])) ++pos_;
                    if (pos_ < in_.size() && in_[pos_] == ' ') ++pos_;
                }
            } else if (c == '\r' || c == '\n') {
                ++pos_;
                continue;
            } else {
                ++pos_;
            }
            --count;
        }
        if (pos_ > in_.size()) pos_ = in_.size();
    }

    void text_byte(unsigned char b) {
        if (fmt_.skip) return;
        char c = static_cast<char>(b);
        text_utf8(platform::cp1252_to_utf8(std::string_view(&c, 1)));
    }

    void text_utf8(std::string_view s) {
        if (fmt_.skip) return;
        open_span();
        append_escaped(html_, s);
    }

    void text_raw(std::string_view s) {
        if (fmt_.skip) return;
        open_span();
        html_ += s;
    }

    void open_span() {
        if (!in_paragraph_) {
            html_ += "<p>";
            in_paragraph_ = true;
        }
        if (span_open_ && span_fmt_.looks_like(fmt_)) return;
        close_span();
        html_ += "<span style=\"";
        html_ += fmt_.bold ? "font-weight:bold;" : "font-weight:normal;";
        html_ += fmt_.italic ? "font-style:italic;" : "font-style:normal;";
        html_ += fmt_.underline ? "text-decoration:underline;" : "text-decoration:none;";
        html_ += "font-size:" + std::to_string(fmt_.half_points / 2);
        if (fmt_.half_points % 2) html_ += ".5";
        html_ += "pt\">";
        span_open_ = true;
        span_fmt_ = fmt_;
    }

    void close_span() {
        if (span_open_) html_ += "</span>";
        span_open_ = false;
    }

    void end_paragraph(bool explicit_par) {
        if (fmt_.skip) return;
        close_span();
        if (in_paragraph_) {
            html_ += "</p>";
        } else if (explicit_par) {
            html_ += "<p>&nbsp;</p>";  // an empty paragraph still takes a line
        }
        in_paragraph_ = false;
    }

    static bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
    static bool is_digit(char c) { return c >= '0' && c <= '9'; }

    std::string_view in_;
    size_t pos_ = 0;
    CharFormat fmt_;
    std::vector<CharFormat> stack_;
    bool group_start_ = false;
    std::string html_;
    bool in_paragraph_ = false;
    bool span_open_ = false;
    CharFormat span_fmt_;
};

}  // namespace

std::string rtf_to_html(std::string_view rtf) {
    return Reader(rtf).run();
}

}  // namespace setup
