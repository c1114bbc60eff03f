// The listing search's text work over one large answer: Utf8ToGbk, then
// AllTextBetween for the title, item id and seller nick markers, against a plain
// memmem scan for the same three markers over the same bytes. Exits with 1 when the
// listing search runs at less than half the memmem rate.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "text/codepage.h"
#include "text/text.h"

namespace {

using zemlaro::Text;
using zemlaro::TextArray;

constexpr std::size_t kAnswerBytes = 12 * 1000 * 1000;
constexpr double kGoalRatio = 0.5;

const char* const kMarkers[] = {"\"raw_title\":\"", "\"nid\":\"", "\"nick\":\""};
constexpr char kValueEnd[] = "\"";

// A few hundred common characters, as UTF-8, all of them in code page 936.
const std::vector<std::string>& ChinesePool() {
  static const std::vector<std::string> pool = [] {
    const std::string chars =
        "手机壳新款男女士潮牌个性创意苹果华为小米适用全包防摔硅胶软透明磨砂简约可爱卡通"
        "官方旗舰店正品专卖数码配件贴膜钢化玻璃充电器数据线快充耳机蓝牙无线运动跑步音乐"
        "家居日用百货厨房收纳整理盒子衣服裤子裙子外套夏季春秋冬天加厚保暖棉麻纯色宽松"
        "韩版学生青年中老年儿童宝宝婴儿玩具益智早教礼物生日节日送女友男友老婆老公爸妈"
        "浙江杭州广东深圳上海北京江苏苏州福建厦门山东青岛四川成都湖北武汉天猫淘宝包邮";
    std::vector<std::string> out;
    for (std::size_t i = 0; i + 3 <= chars.size(); i += 3) out.push_back(chars.substr(i, 3));
    return out;
  }();
  return pool;
}

std::string Chinese(std::mt19937& random, int minimum, int maximum) {
  const auto& pool = ChinesePool();
  const int count =
      minimum + static_cast<int>(random() % static_cast<unsigned>(maximum - minimum + 1));
  std::string s;
  for (int k = 0; k < count; ++k) s += pool[random() % pool.size()];
  return s;
}

std::string Digits(std::mt19937& random, int count) {
  std::string s;
  for (int k = 0; k < count; ++k) s.push_back(static_cast<char>('0' + random() % 10));
  return s;
}

std::size_t listingCount = 0;

// One answer of the search service: JSONP around a list of listings of 600-700
// bytes, each with twenty-odd keys, Chinese titles and nicks.
std::string MakeAnswer() {
  std::mt19937 random(44);
  std::string answer =
      "jsonp10({\"pageName\":\"mainsrp\",\"mods\":{\"itemlist\":{\"status\":\"show\",\"data\":"
      "{\"postFeeText\":\"运费\",\"trace\":\"msrp_auction\",\"auctions\":[";
  bool first = true;
  while (answer.size() < kAnswerBytes) {
    const std::string nid = Digits(random, 12);
    const std::string title = Chinese(random, 8, 20);
    const std::string nick = Chinese(random, 3, 8);
    ++listingCount;
    if (!first) answer += ",";
    first = false;
    // "raw_title", "nid" and "nick" among twenty other keys.
    answer += "{\"p4p\":\"\",\"nid\":\"" + nid + "\",\"category\":\"" + Digits(random, 8) +
              "\",\"pid\":\"\",\"title\":\"<span class=H>" + title.substr(0, 6) + "</span>" +
              title.substr(6) + "\",\"raw_title\":\"" + title +
              "\",\"pic_url\":\"//g.alicdn.com/bao/i4/TB" + Digits(random, 12) +
              ".jpg\",\"detail_url\":\"//item.taobao.com/item.htm?id=" + nid +
              "\",\"view_price\":\"" + Digits(random, 2) + "." + Digits(random, 2) +
              "\",\"reserve_price\":\"" + Digits(random, 2) + ".00\",\"view_fee\":\"0.00\"" +
              ",\"item_loc\":\"" + Chinese(random, 2, 2) + " " + Chinese(random, 2, 2) +
              "\",\"view_sales\":\"" + Digits(random, 3) + "人付款\",\"comment_count\":\"" +
              Digits(random, 4) + "\",\"user_id\":\"" + Digits(random, 10) + "\",\"nick\":\"" +
              nick + "\",\"shopcard\":{\"isTmall\":true},\"isTmall\":\"true\",\"icon\":[]," +
              "\"i2iTags\":{},\"comment_url\":\"//rate.taobao.com/" + nid +
              "\",\"shopLink\":\"//shop" + Digits(random, 9) + ".taobao.com\",\"risk\":\"\"}";
  }
  answer += "]}}}});";
  return answer;
}

const std::string& Answer() {
  static const std::string answer = MakeAnswer();
  return answer;
}

void SetAnswerBytes(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(Answer().size()));
}

void BM_Utf8ToGbk(benchmark::State& state) {
  const std::string& answer = Answer();
  for (auto _ : state) benchmark::DoNotOptimize(zemlaro::Utf8ToGbk(answer));
  SetAnswerBytes(state);
}

void BM_AllTextBetween(benchmark::State& state) {
  const Text text = zemlaro::Utf8ToGbk(Answer());
  TextArray lists[3];
  for (auto _ : state) {
    for (int k = 0; k < 3; ++k) zemlaro::AllTextBetween(text, kMarkers[k], kValueEnd, lists[k]);
    benchmark::DoNotOptimize(lists);
  }
  SetAnswerBytes(state);
  state.counters["values"] = lists[0].Count() + lists[1].Count() + lists[2].Count();
}

// What ParseSearchPage does with one answer.
void BM_ListingSearch(benchmark::State& state) {
  const std::string& answer = Answer();
  TextArray lists[3];
  for (auto _ : state) {
    const Text text = zemlaro::Utf8ToGbk(answer);
    for (int k = 0; k < 3; ++k) zemlaro::AllTextBetween(text, kMarkers[k], kValueEnd, lists[k]);
    benchmark::DoNotOptimize(lists);
  }
  SetAnswerBytes(state);
}

// The floor to compare with: find every occurrence of the three markers, nothing more.
void BM_MemmemScan(benchmark::State& state) {
  const std::string& answer = Answer();
  std::size_t found = 0;
  for (auto _ : state) {
    found = 0;
    for (const char* marker : kMarkers) {
      const std::size_t length = std::strlen(marker);
      const char* p = answer.data();
      const char* end = answer.data() + answer.size();
      while (const void* hit = memmem(p, static_cast<std::size_t>(end - p), marker, length)) {
        ++found;
        p = static_cast<const char*>(hit) + length;
      }
    }
    benchmark::DoNotOptimize(found);
  }
  SetAnswerBytes(state);
  state.counters["markers"] = static_cast<double>(found);
}

BENCHMARK(BM_Utf8ToGbk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AllTextBetween)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListingSearch)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemmemScan)->Unit(benchmark::kMillisecond);

// Keeps each benchmark's rate (answer bytes per second of CPU time, which other work on
// the machine disturbs less than wall time) for the summary.
class RateReporter : public benchmark::ConsoleReporter {
 public:
  RateReporter() : ConsoleReporter(isatty(fileno(stdout)) ? OO_Defaults : OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration ||
          run.cpu_accumulated_time <= 0) {
        continue;
      }
      const double bytes =
          static_cast<double>(run.iterations) * static_cast<double>(Answer().size());
      rates_[run.run_name.function_name] = bytes / run.cpu_accumulated_time / 1e6;
    }
  }
  double Rate(const std::string& name) const {
    const auto it = rates_.find(name);
    return it == rates_.end() ? 0 : it->second;
  }

 private:
  std::map<std::string, double> rates_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  std::printf("answer: %zu bytes, %zu listings of %zu bytes on average\n", Answer().size(),
              listingCount, Answer().size() / listingCount);
  RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  const double search = reporter.Rate("BM_ListingSearch");
  const double scan = reporter.Rate("BM_MemmemScan");
  if (search <= 0 || scan <= 0) return 0;  // filtered out
  const double ratio = search / scan;
  std::printf("Utf8ToGbk + AllTextBetween x3: %.0f MB/s\n", search);
  std::printf("memmem x3:                     %.0f MB/s\n", scan);
  std::printf("ratio: %.2f (goal >= %.2f): %s\n", ratio, kGoalRatio,
              ratio >= kGoalRatio ? "met" : "NOT met");
  return ratio >= kGoalRatio ? 0 : 1;
}
