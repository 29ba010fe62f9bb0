// Helpers shared by the decoder tests: EUC-JP expectations written as
// readable Japanese (converted by the C library, independently of the
// analyser's own converter) and an analysis state whose streams are strings.
#pragma once

#include <gtest/gtest.h>
#include <iconv.h>

#include <stdexcept>
#include <string>
#include <string_view>

#include "analysis_state.h"

namespace skerrow::test {

inline std::string euc(std::string_view utf8)
{
    iconv_t cd = iconv_open("EUC-JP", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error("no EUC-JP converter");
    std::string in(utf8);
    std::string out(in.size() * 2 + 8, '\0');
    char* src = in.data();
    char* dst = out.data();
    std::size_t src_left = in.size(), dst_left = out.size();
    const std::size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
    iconv_close(cd);
    if (r == static_cast<std::size_t>(-1))
        throw std::runtime_error("not convertible to EUC-JP");
    out.resize(out.size() - dst_left);
    return out;
}

struct state_fixture : ::testing::Test {
    // The strings outlive the state, whose writers flush into them when destroyed.
    std::string log_bytes, listing_bytes, caption_bytes;
    analysis_state state;

    void SetUp() override
    {
        state.log.open_memory(&log_bytes);
        state.listing.open_memory(&listing_bytes);
        state.captions.open_memory(&caption_bytes);
    }
    std::string log()
    {
        state.log.flush();
        return log_bytes;
    }
    std::string listing()
    {
        state.listing.flush();
        return listing_bytes;
    }
    std::string captions()
    {
        state.captions.flush();
        return caption_bytes;
    }
    void clear_log()
    {
        state.log.flush();
        log_bytes.clear();
    }
};

}  // namespace skerrow::test
