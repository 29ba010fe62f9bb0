#include "mjd_time.h"

#include "analysis_state.h"
#include "text_writer.h"

namespace skerrow {

namespace {
int bcd_value(std::uint8_t b) { return (b >> 4) * 10 + (b & 0x0F); }
bool bcd_digits(std::uint8_t b) { return (b >> 4) <= 9 && (b & 0x0F) <= 9; }
}  // namespace

int format_mjd_time(const std::uint8_t* b, text_writer* stream, midnight_rule midnight) {
  // Date as in ETSI EN 300 468 Annex C, in floating point with truncation.
  const double mjd = static_cast<double>(b[0] << 8 | b[1]);
  const int y1 = static_cast<int>((mjd - 15078.2) / 365.25);
  const int m1 = static_cast<int>((mjd - 14956.1 - static_cast<int>(y1 * 365.25)) / 30.6001);
  const int day = static_cast<int>(mjd - 14956 - static_cast<int>(y1 * 365.25) -
                                   static_cast<int>(m1 * 30.6001));
  const int k = m1 >= 14 ? 1 : 0;
  const int year = y1 + k + 1900;
  const int month = m1 - 1 - 12 * k;
  const int hours = bcd_value(b[2]), minutes = bcd_value(b[3]), seconds = bcd_value(b[4]);
  const bool midnight_time = hours == 0 && minutes == 0 && seconds == 0;
  if (year < 2000 || year > 2100 || day < 1 || day > 31 || hours > 23 || minutes > 59 ||
      seconds > 59 || (midnight_time && midnight == midnight_rule::invalid))
    return -1;
  if (stream != nullptr) {
    stream->dec(year).ch('/').dec(month).ch('/').dec(day).ch(' ');
    stream->dec02(hours).ch(':').dec02(minutes).ch(':').dec02(seconds).newline();
  }
  return 0;
}

bool set_caption_time(analysis_state& state, const std::uint8_t* b) {
  for (int i = 2; i < 5; ++i)
    if (!bcd_digits(b[i])) return false;
  const int hours = bcd_value(b[2]), minutes = bcd_value(b[3]), seconds = bcd_value(b[4]);
  if (hours > 23 || minutes > 59 || seconds > 59) return false;
  char* t = state.caption_time;
  t[0] = static_cast<char>('0' + hours / 10);
  t[1] = static_cast<char>('0' + hours % 10);
  t[2] = ':';
  t[3] = static_cast<char>('0' + minutes / 10);
  t[4] = static_cast<char>('0' + minutes % 10);
  t[5] = ':';
  t[6] = static_cast<char>('0' + seconds / 10);
  t[7] = static_cast<char>('0' + seconds % 10);
  t[8] = '\0';
  return true;
}

}  // namespace skerrow
