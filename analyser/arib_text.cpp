// ARIB 8-unit code decoder: one pass, one byte at a time, straight into the
// output, with the designation/invocation state living for one call only.
#include "arib_text.h"

#include "arib_tables.h"

#include <cstdio>
#include <cstring>

namespace skerrow {
namespace {

enum class charset : unsigned char { kanji, alphanumeric, hiragana, katakana };

enum class escape_state : unsigned char {
    ground,
    escape,
    two_byte,       // ESC 0x24 seen
    two_byte_into,  // ESC 0x24 0x29..0x2B seen
    two_byte_drcs,  // ESC 0x24 0x20 seen
    designate,      // ESC 0x28..0x2B seen
    skip_one,       // DRCS final byte follows
};

// Gathers the output in a small block so that the writer is called once per
// block rather than once per byte.
class writer_sink {
public:
    explicit writer_sink(text_writer& stream) : stream_(stream) {}
    ~writer_sink() { drain(); }
    writer_sink(const writer_sink&) = delete;
    writer_sink& operator=(const writer_sink&) = delete;

    void put(char c)
    {
        if (used_ == sizeof block_)
            drain();
        block_[used_++] = c;
    }
    void put(const char* text, std::size_t n)
    {
        for (std::size_t i = 0; i < n; ++i)
            put(text[i]);
    }

private:
    void drain()
    {
        stream_.bytes(block_, used_);
        used_ = 0;
    }

    text_writer& stream_;
    char block_[256];
    std::size_t used_ = 0;
};

struct string_sink {
    std::string& out;
    void put(char c) { out.push_back(c); }
    void put(const char* text, std::size_t n) { out.append(text, n); }
};

template <class Sink>
void put_sjis_text(Sink& sink, const char* sjis)
{
    char euc[32];
    sjis_to_euc(sjis, euc);
    sink.put(euc, std::strlen(euc));
}

const char* additional_symbol(int first, int second)
{
    if (first == 0x7A && second >= additional_7a_first && second < additional_7a_first + additional_7a_count)
        return additional_7a[second - additional_7a_first];
    if (first == 0x7E && second >= additional_7e_first && second < additional_7e_first + additional_7e_count)
        return additional_7e[second - additional_7e_first];
    if (first == 0x7D && second >= additional_7d_first && second < additional_7d_first + additional_7d_count)
        return additional_7d[second - additional_7d_first];
    return nullptr;
}

template <class Sink>
class decoder {
public:
    explicit decoder(Sink& sink) : sink_(sink) {}

    void feed(unsigned char b)
    {
        switch (state_) {
        case escape_state::ground: ground(b); break;
        case escape_state::escape: escape(b); break;
        case escape_state::two_byte: two_byte(b); break;
        case escape_state::two_byte_into:
            if (b == 0x20) {
                state_ = escape_state::skip_one;
            } else {
                g_[target_] = charset::kanji;
                state_ = escape_state::ground;
            }
            break;
        case escape_state::two_byte_drcs:
            state_ = b == 0x20 ? escape_state::skip_one : escape_state::ground;
            break;
        case escape_state::designate: designate(b); break;
        case escape_state::skip_one: state_ = escape_state::ground; break;
        }
    }

private:
    void ground(unsigned char b)
    {
        switch (b) {
        case 0x1B: state_ = escape_state::escape; return;
        case 0x0F: gl_ = locked_gl_ = 0; return;
        case 0x0E: gl_ = locked_gl_ = 1; return;
        case 0x19: gl_ = 2; return;
        case 0x1D: gl_ = 3; return;
        default: break;
        }
        if ((b & 0x7F) < 0x20)
            control(b & 0x7F);
        else
            graphic(b);
    }

    void escape(unsigned char b)
    {
        state_ = escape_state::ground;
        switch (b) {
        case 0x6E: gl_ = locked_gl_ = 2; return;
        case 0x6F: gl_ = locked_gl_ = 3; return;
        case 0x7E: gr_ = locked_gr_ = 1; return;
        case 0x7D: gr_ = locked_gr_ = 2; return;
        case 0x7C: gr_ = locked_gr_ = 3; return;
        case 0x24: state_ = escape_state::two_byte; return;
        case 0x28: case 0x29: case 0x2A: case 0x2B:
            target_ = b - 0x28;
            state_ = escape_state::designate;
            return;
        default: ground(b); return;
        }
    }

    void two_byte(unsigned char b)
    {
        if (b == 0x20) {
            state_ = escape_state::two_byte_drcs;
        } else if (b >= 0x29 && b <= 0x2B) {
            target_ = b - 0x28;
            state_ = escape_state::two_byte_into;
        } else {
            g_[0] = charset::kanji;
            state_ = escape_state::ground;
        }
    }

    void designate(unsigned char b)
    {
        state_ = escape_state::ground;
        switch (b) {
        case 0x20: state_ = escape_state::skip_one; break;
        case 0x30: g_[target_] = charset::hiragana; break;
        case 0x31: g_[target_] = charset::katakana; break;
        case 0x4A: g_[target_] = charset::alphanumeric; break;
        default: break;  // mosaic, proportional, JIS X 0201: register unchanged
        }
    }

    // Controls take no parameters here; the low seven bits decide.
    void control(unsigned char c)
    {
        switch (c) {
        case 0x0D: sink_.put("\\r", 2); break;
        case 0x0A: sink_.put("\\n", 2); break;
        case 0x09: sink_.put("\\t", 2); break;
        default: sink_.put(static_cast<char>(c)); break;
        }
    }

    void graphic(unsigned char b)
    {
        const charset set = g_[(b & 0x80) ? gr_ : gl_];
        const int code = b & 0x7F;
        if (held_ >= 0 && set == charset::kanji) {
            parity_ ^= 1;
            symbol(held_, code);
            held_ = -1;
        } else {
            held_ = -1;
            switch (set) {
            case charset::kanji: kanji(code); break;
            case charset::hiragana: kana(code, '\xA4', hiragana_symbols); break;
            case charset::katakana: kana(code, '\xA5', katakana_symbols); break;
            case charset::alphanumeric: sink_.put(static_cast<char>(code)); break;
            }
        }
        gl_ = locked_gl_;  // a single shift covers one graphic byte
        gr_ = locked_gr_;
    }

    void kanji(int code)
    {
        if (parity_ == 0 && code >= 0x7A) {
            held_ = code;
        } else if (code == 0x20) {
            sink_.put(' ');
            return;  // a space does not count as half of a pair
        } else {
            sink_.put(static_cast<char>(code | 0x80));
        }
        parity_ ^= 1;
    }

    void kana(int code, char row, const char* const* symbols)
    {
        if (code == 0x20) {
            sink_.put(' ');
        } else if (code < kana_symbol_first) {
            const char pair[2] = {row, static_cast<char>(code | 0x80)};
            sink_.put(pair, 2);
        } else {
            put_sjis_text(sink_, symbols[code - kana_symbol_first]);
        }
    }

    void symbol(int first, int second)
    {
        if (const char* text = additional_symbol(first, second)) {
            put_sjis_text(sink_, text);
        } else {
            char unknown[16];
            const int n = std::snprintf(unknown, sizeof unknown, "[UNK%02x%02x]", first, second);
            sink_.put(unknown, static_cast<std::size_t>(n));
        }
    }

    Sink& sink_;
    charset g_[4] = {charset::kanji, charset::alphanumeric, charset::hiragana, charset::katakana};
    int gl_ = 0, gr_ = 2, locked_gl_ = 0, locked_gr_ = 2;  // indexes into g_
    escape_state state_ = escape_state::ground;
    int target_ = 0;  // register named by the designation in progress
    int parity_ = 0;
    int held_ = -1;   // first byte of an additional symbol, or -1
};

template <class Sink>
void decode_into(Sink& sink, const unsigned char* bytes, std::size_t length)
{
    decoder<Sink> d(sink);
    for (std::size_t i = 0; i < length; ++i)
        d.feed(bytes[i]);
}

}  // namespace

void decode_arib_text(const unsigned char* bytes, std::size_t length, text_writer& stream)
{
    writer_sink sink(stream);
    decode_into(sink, bytes, length);
}

void decode_arib_text(const unsigned char* bytes, std::size_t length, std::string& out)
{
    string_sink sink{out};
    decode_into(sink, bytes, length);
}

void sjis_pair_to_euc(unsigned char& first, unsigned char& second)
{
    int f = first <= 0x9F ? 2 * first - 0xE1 : 2 * first - 0x161;
    int s;
    if (second < 0x9F) {
        s = second <= 0x7F ? second - 0x1F : second - 0x20;
    } else {
        s = second - 0x7E;
        ++f;
    }
    first = static_cast<unsigned char>(f | 0x80);
    second = static_cast<unsigned char>(s | 0x80);
}

void sjis_to_euc(const char* source, char* destination)
{
    while (*source) {
        auto first = static_cast<unsigned char>(*source);
        if (first < 0x7F) {
            *destination++ = *source++;
            continue;
        }
        auto second = static_cast<unsigned char>(source[1]);
        if (second == 0)
            break;  // lone lead byte at the end: never step over the terminator
        sjis_pair_to_euc(first, second);
        *destination++ = static_cast<char>(first);
        *destination++ = static_cast<char>(second);
        source += 2;
    }
    *destination = '\0';
}

}  // namespace skerrow
