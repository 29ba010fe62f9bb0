#include "corpus.h"

#include <iconv.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <vector>

#include "broadcast_clock.h"

namespace oneseg::archive::bench {

namespace fs = std::filesystem;

namespace {

// Rank order roughly as in news and variety captions: the first words very
// common, the tail rare.
const char* const vocabulary[] = {
    "今日", "皆さん", "本当", "時間", "明日", "天気", "日本", "番組", "ニュース", "情報", "地域", "東京", "大阪",
    "地震", "選挙", "台風", "経済", "野球", "気温", "雨", "雪", "風", "政府", "首相", "会見", "記者", "事故",
    "警察", "火事", "消防", "病院", "学校", "子ども", "家族", "料理", "季節", "観光", "電車", "道路", "交通",
    "渋滞", "円安", "株価", "企業", "社長", "会社", "商品", "値段", "予報", "週末", "全国", "各地", "午後",
    "午前", "夕方", "夜", "朝", "気象庁", "津波", "注意", "警報", "避難", "住民", "市長", "知事", "議会",
    "国会", "法案", "審議", "与党", "野党", "投票", "結果", "当選", "候補", "試合", "優勝", "監督", "選手",
    "ゴール", "サッカー", "相撲", "横綱", "勝利", "記録", "大会", "五輪", "映画", "音楽", "歌手", "ドラマ",
    "俳優", "話題", "人気", "若者", "高齢者", "医療", "介護", "年金", "物価", "給料", "仕事", "景気", "輸出",
    "農家", "野菜", "収穫", "漁業", "魚", "港", "空港", "飛行機", "新幹線", "駅", "工事", "開通", "桜",
    "紅葉", "祭り", "花火", "温泉", "旅行", "外国人", "世界", "アメリカ", "中国", "韓国", "ヨーロッパ",
    "大統領", "首脳", "会談", "外交", "平和", "宇宙", "研究", "科学", "技術", "開発", "スマートフォン",
    "インターネット", "動物", "パンダ", "誕生", "記念", "お祝い", "感謝", "笑顔", "応援", "挑戦", "未来"};
const char* const particles[] = {"は", "が", "を", "に", "で", "の", "と", "も", "から", "まで"};
const char* const endings[] = {"です。", "でした。", "ます。", "ました。", "ですね。", "！", "でしょう。", "。"};
const int channels[] = {27, 22, 16, 35, 41};
const char* const station_names[] = {"ひばりテレビ", "みなとテレビ", "かもめ放送", "さくら放送", "つばめテレビ"};

std::string to_euc(const std::string& utf8)
{
  iconv_t cd = iconv_open("EUC-JP", "UTF-8");
  std::string out(utf8.size() * 2 + 8, '\0');
  char* in = const_cast<char*>(utf8.data());
  char* to = out.data();
  std::size_t in_left = utf8.size(), to_left = out.size();
  iconv(cd, &in, &in_left, &to, &to_left);
  iconv_close(cd);
  out.resize(out.size() - to_left);
  return out;
}

struct Text {
  std::string euc;
  std::string utf8;
  static Text of(const char* utf8) { return {to_euc(utf8), utf8}; }
  void operator+=(const Text& t)
  {
    euc += t.euc;
    utf8 += t.utf8;
  }
};

// Lines of two to five words joined by particles; the fixed texts are
// converted once, so that a year is written in seconds.
class LineMaker {
 public:
  explicit LineMaker(std::uint64_t seed) : random_(seed)
  {
    std::vector<double> weights;
    for (const char* w : vocabulary) {
      words_.push_back(Text::of(w));
      weights.push_back(1.0 / static_cast<double>(words_.size()));
    }
    for (const char* p : particles) particles_.push_back(Text::of(p));
    for (const char* e : endings) endings_.push_back(Text::of(e));
    for (const char* s : station_names) stations_.push_back(Text::of(s));
    rare_ = Text::of(rare_word);
    zipf_ = std::discrete_distribution<std::size_t>(weights.begin(), weights.end());
  }

  const Text& line()
  {
    line_.euc.clear();
    line_.utf8.clear();
    const int words = 2 + static_cast<int>(random_() % 4);
    for (int i = 0; i < words; ++i) {
      line_ += random_() % 40000 == 0 ? rare_ : words_[zipf_(random_)];
      line_ += i + 1 < words ? particles_[random_() % std::size(particles)] : endings_[random_() % std::size(endings)];
    }
    return line_;
  }

  const Text& station(int index) const { return stations_[static_cast<std::size_t>(index)]; }

 private:
  std::mt19937_64 random_;
  std::vector<Text> words_, particles_, endings_, stations_;
  Text rare_, line_;
  std::discrete_distribution<std::size_t> zipf_;
};

std::string stem(std::int64_t start, int channel)
{
  const std::string t = format_broadcast_time(start);  // yyyy-mm-dd hh:mm:ss
  return t.substr(2, 2) + t.substr(5, 2) + t.substr(8, 2) + t.substr(11, 2) + t.substr(14, 1) + "_Ch" +
         std::to_string(channel);
}

// Returns the UTF-8 bytes of caption text written.
std::int64_t write_one(LineMaker& lines, const fs::path& root, const fs::path& utf8_root, std::int64_t start,
                       int station, int captions)
{
  const std::string name = stem(start, channels[station]);
  const std::string day = name.substr(0, 6);
  fs::create_directories(root / day);
  std::ofstream sub(root / day / (name + ".sub"), std::ios::binary);
  std::ofstream text;
  if (!utf8_root.empty()) {
    fs::create_directories(utf8_root / day);
    text.open(utf8_root / day / (name + ".txt"), std::ios::binary);
  }
  std::int64_t bytes = 0;
  for (int i = 0; i < captions; ++i) {
    const std::int64_t at = start + i * 600 / captions;
    char time[16];
    std::snprintf(time, sizeof time, "%02d:%02d:%02d ", static_cast<int>(at / 3600 % 24), static_cast<int>(at / 60 % 60),
                  static_cast<int>(at % 60));
    const Text& line = lines.line();
    sub << time << line.euc << "\r\n";
    if (text.is_open()) text << time << line.utf8 << '\n';
    bytes += static_cast<std::int64_t>(line.utf8.size());
  }
  const std::string hour = format_broadcast_time(start - start % 3600);
  char when[40];
  std::snprintf(when, sizeof when, "%d/%d/%d %s", std::stoi(hour.substr(0, 4)), std::stoi(hour.substr(5, 2)),
                std::stoi(hour.substr(8, 2)), hour.substr(11).c_str());
  const Text& title = lines.line();
  std::ofstream(root / day / (name + ".eit"), std::ios::binary)
      << "StartTime: " << when << "\r\nDuration: 01:00:00\r\nProviderName: " << lines.station(station).euc
      << "\r\nEventName: " << title.euc << "\r\nEventDesc: " << title.euc << "\r\nContentNibble: 00\r\n-\r\n";
  return bytes;
}

}  // namespace

std::int64_t corpus_start() { return broadcast_seconds(2025, 1, 1); }

CorpusReport write_corpus(const fs::path& root, const fs::path& utf8_root, const CorpusSize& size)
{
  LineMaker lines(20261207);
  CorpusReport report;
  for (int day = 0; day < size.days; ++day)
    for (int slot = 0; slot < 144; ++slot)
      for (int station = 0; station < size.stations; ++station) {
        const std::int64_t start = corpus_start() + day * seconds_per_day + slot * 600;
        report.caption_text_bytes += write_one(lines, root, utf8_root, start, station, size.captions_per_recording);
        ++report.recordings;
        report.captions += size.captions_per_recording;
      }
  return report;
}

void write_recording(const fs::path& root, int day_index, int slot, int station, int captions, std::uint64_t seed)
{
  LineMaker lines(seed);
  write_one(lines, root, {}, corpus_start() + day_index * seconds_per_day + slot * 600, station, captions);
}

}  // namespace oneseg::archive::bench
