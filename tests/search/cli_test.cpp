#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "search/current_constants.h"
#include "search/market.h"
#include "text/codepage.h"
#include "tools/cli/cli_args.h"
#include "tools/cli/cli_output.h"
#include "tools/cli/cli_run.h"
#include "tools/cli/utf8.h"
#include "tools/sample-market/market_constants.h"
#include "tools/sample-market/market_server.h"
#include "web/cookie_store.h"
#include "web/curl_session.h"
#include "web/web_request.h"

extern char** environ;

namespace zemlaro::cli {
namespace {

using Record = std::vector<std::string>;

// ---- small readers for what the tool writes ----

// RFC 4180 records; nullopt when the text breaks the format.
std::optional<std::vector<Record>> ReadCsv(const std::string& text) {
  std::vector<Record> records;
  Record record;
  std::string field;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '"') {
      ++i;
      while (true) {
        if (i >= text.size()) return std::nullopt;
        if (text[i] == '"') {
          if (i + 1 < text.size() && text[i + 1] == '"') {
            field += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        field += text[i++];
      }
    } else {
      while (i < text.size() && text[i] != ',' && text[i] != '\r' && text[i] != '\n') {
        if (text[i] == '"') return std::nullopt;
        field += text[i++];
      }
    }
    if (i < text.size() && text[i] == ',') {
      record.push_back(std::move(field));
      field.clear();
      ++i;
    } else if (text.compare(i, 2, "\r\n") == 0) {
      record.push_back(std::move(field));
      field.clear();
      records.push_back(std::move(record));
      record.clear();
      i += 2;
    } else {
      return std::nullopt;  // a bare CR or LF, or junk after a closing quote
    }
  }
  if (!record.empty() || !field.empty()) return std::nullopt;  // last line without CRLF
  return records;
}

void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// A JSON array of objects whose values are all strings; nullopt for anything else.
class JsonReader {
 public:
  explicit JsonReader(std::string_view text) : text_(text) {}

  std::optional<std::vector<std::map<std::string, std::string>>> Objects() {
    std::vector<std::map<std::string, std::string>> objects;
    if (!Take('[')) return std::nullopt;
    if (!Take(']')) {
      do {
        std::map<std::string, std::string> object;
        if (!Take('{')) return std::nullopt;
        do {
          std::optional<std::string> key = String();
          if (!key || !Take(':')) return std::nullopt;
          std::optional<std::string> value = String();
          if (!value || object.count(*key)) return std::nullopt;
          object[*key] = *value;
        } while (Take(','));
        if (!Take('}')) return std::nullopt;
        objects.push_back(std::move(object));
      } while (Take(','));
      if (!Take(']')) return std::nullopt;
    }
    Space();
    if (pos_ != text_.size()) return std::nullopt;
    return objects;
  }

 private:
  void Space() {
    while (pos_ < text_.size() && std::string_view(" \t\r\n").find(text_[pos_]) != text_.npos) {
      ++pos_;
    }
  }
  bool Take(char c) {
    Space();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  std::optional<unsigned> Hex4() {
    if (pos_ + 4 > text_.size()) return std::nullopt;
    unsigned value = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = text_[pos_++];
      value <<= 4;
      if (c >= '0' && c <= '9')
        value |= c - '0';
      else if (c >= 'a' && c <= 'f')
        value |= c - 'a' + 10;
      else if (c >= 'A' && c <= 'F')
        value |= c - 'A' + 10;
      else
        return std::nullopt;
    }
    return value;
  }
  std::optional<std::string> String() {
    if (!Take('"')) return std::nullopt;
    std::string out;
    while (pos_ < text_.size()) {
      const auto c = static_cast<unsigned char>(text_[pos_++]);
      if (c == '"') return out;
      if (c < 0x20) return std::nullopt;
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (pos_ >= text_.size()) return std::nullopt;
      const char e = text_[pos_++];
      const std::string_view simple = "\"\\/bfnrt";
      const std::string_view meant = "\"\\/\b\f\n\r\t";
      if (const std::size_t k = simple.find(e); k != simple.npos) {
        out += meant[k];
      } else if (e == 'u') {
        std::optional<unsigned> unit = Hex4();
        if (!unit) return std::nullopt;
        char32_t code = *unit;
        if (code >= 0xD800 && code <= 0xDBFF) {
          if (!Take('\\') || !Take('u')) return std::nullopt;
          std::optional<unsigned> low = Hex4();
          if (!low || *low < 0xDC00 || *low > 0xDFFF) return std::nullopt;
          code = 0x10000 + ((code - 0xD800) << 10) + (*low - 0xDC00);
        } else if (code >= 0xDC00 && code <= 0xDFFF) {
          return std::nullopt;
        }
        AppendUtf8(out, code);
      } else {
        return std::nullopt;
      }
    }
    return std::nullopt;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

std::vector<Record> ReadTsv(const std::string& text) {
  std::vector<Record> records;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    Record record;
    std::size_t start = 0;
    while (true) {
      const std::size_t tab = line.find('\t', start);
      record.push_back(line.substr(start, tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    records.push_back(std::move(record));
  }
  return records;
}

bool IsValidUtf8(std::string_view text) { return ValidUtf8(text) == text; }

// ---- arguments ----

TEST(CliArgs, UsageErrorsSayWhatIsWrong) {
  struct Case {
    std::vector<std::string> args;
    const char* message;  // a piece of the error
  };
  const Case cases[] = {
      {{}, "no command"},
      {{"find", "x"}, "unknown command \"find\""},
      {{"search"}, "needs a KEYWORD"},
      {{"search", "a", "b"}, "one KEYWORD"},
      {{"search", "--colour", "x"}, "unknown option \"--colour\""},
      {{"search", "-x", "kw"}, "unknown option \"-x\""},
      {{"search", "kw", "--pages"}, "--pages needs a value"},
      {{"search", "--format", "xml", "kw"}, "tsv, csv, json or xlsx"},
      {{"search", "--fields", "row,colour", "kw"}, "unknown field \"colour\""},
      {{"search", "--fields", "id,id", "kw"}, "twice"},
      {{"search", "--service", "old", "kw"}, "current or legacy"},
      {{"search", "--delay", "-1", "kw"}, "--delay takes SECONDS"},
      {{"search", "--delay", "soon", "kw"}, "--delay takes SECONDS"},
      {{"search", "--cookies", "f", "--no-cookie-store", "kw"}, "exclude each other"},
      {{"search", "--host", "", "kw"}, "--host"},
      {{"search", "--host", "a/b", "kw"}, "--host"},
      {{"search", "--cacert", "/nonexistent/ca.pem", "kw"}, "cannot read"},
      {{"search", "\xF0\x9F\x98\x80"}, "KEYWORD holds \"\xF0\x9F\x98\x80\" (U+1F600)"},
      {{"search", "a\xED\x95\x9C", "--seller", "x"}, "U+D55C"},  // Hangul 한
      {{"search", "--seller", "\xF0\x9F\x98\x80", "kw"}, "--seller holds"},
      {{"search", "--pages", "\xF0\x9F\x98\x80", "kw"}, "--pages holds"},
      {{"search", "ab\xFF"}, "KEYWORD is not valid UTF-8 (byte 0xFF at byte 3)"},
      {{"search", "\xC0\xAF"}, "not valid UTF-8"},      // overlong "/"
      {{"search", "\xED\xA0\x80"}, "not valid UTF-8"},  // a surrogate
      {{"search", "\xE6\x89"}, "not valid UTF-8"},      // cut short
      {{"--version", "x"}, "--version"},
  };
  for (const Case& c : cases) {
    const ParsedArgs parsed = ParseArgs(c.args);
    EXPECT_FALSE(parsed.ok) << c.message;
    EXPECT_NE(parsed.error.find(c.message), std::string::npos)
        << "wanted \"" << c.message << "\" in \"" << parsed.error << "\"";
    EXPECT_TRUE(IsValidUtf8(parsed.error)) << parsed.error;
  }
}

TEST(CliArgs, ArgumentsBecomeCodePage936) {
  const ParsedArgs parsed = ParseArgs({"search", "--pages", "\xEF\xBC\x93", "--seller=发个",
                                       "--format", "csv", "--host", "127.0.0.1:8443", "手机"});
  ASSERT_TRUE(parsed.ok) << parsed.error;
  const CliOptions& o = parsed.options;
  EXPECT_EQ(o.action, Action::Search);
  EXPECT_EQ(o.keyword, "\xCA\xD6\xBB\xFA");
  EXPECT_EQ(o.pagesText, "\xA3\xB3");  // full-width 3
  EXPECT_TRUE(o.filterBySeller);
  EXPECT_EQ(o.sellerFragment, "\xB7\xA2\xB8\xF6");
  EXPECT_EQ(o.format, OutputFormat::Csv);
  EXPECT_EQ(o.host, "127.0.0.1:8443");

  const ParsedArgs defaults = ParseArgs({"search", "--", "-kw"});
  ASSERT_TRUE(defaults.ok) << defaults.error;
  EXPECT_EQ(defaults.options.keyword, "-kw");
  EXPECT_EQ(defaults.options.pagesText, "10");
  EXPECT_FALSE(defaults.options.filterBySeller);
  EXPECT_EQ(defaults.options.format, OutputFormat::Tsv);
  EXPECT_EQ(defaults.options.host, kCurrentServiceHost);
  EXPECT_EQ(defaults.options.service, SearchService::Current);
  EXPECT_EQ(defaults.options.delay, std::chrono::milliseconds(8000));
  EXPECT_EQ(ParseArgs({"search", "--service", "legacy", "kw"}).options.host, kSearchHost);
  // The live service is never asked faster than its floor; a local market may be.
  const ParsedArgs hurried = ParseArgs({"search", "--delay", "0.5", "kw"});
  EXPECT_EQ(hurried.options.delay, kLeastLiveDelay);
  EXPECT_TRUE(hurried.options.delayRaised);
  const ParsedArgs local = ParseArgs({"search", "--delay", "0", "--host", "127.0.0.1:1", "kw"});
  EXPECT_EQ(local.options.delay, std::chrono::milliseconds(0));
  EXPECT_EQ(ParseArgs({"search", "--fields", "price,id", "kw"}).options.fields,
            (std::vector<Field>{Field::Price, Field::Id}));
  EXPECT_EQ(defaults.options.caFile, "");

  const ParsedArgs negative = ParseArgs({"search", "--pages", "-1", ""});
  ASSERT_TRUE(negative.ok) << negative.error;
  EXPECT_EQ(negative.options.pagesText, "-1");
  EXPECT_EQ(negative.options.keyword, "");

  EXPECT_EQ(ParseArgs({"--help"}).options.action, Action::Help);
  EXPECT_EQ(ParseArgs({"search", "kw", "--help"}).options.action, Action::Help);
  EXPECT_EQ(ParseArgs({"--version"}).options.action, Action::Version);
  EXPECT_EQ(VersionText(), "zemlaro-cli 1.0.0\n");
}

// ---- output ----

const std::vector<Row> kTrickyRows = {
    {"1", Utf8ToGbk("手机 \"壳\", 蓝色"), "101", Utf8ToGbk("发个小店")},
    {"2", "tab\there\r\nnew\\line", "102", "ctl\x01\x1F"},
    {"3", "\x81", "", ""},  // a lone lead byte: not valid 936
};

TEST(CliOutput, TsvPutsOneSpaceForEveryTabCrAndLf) {
  EXPECT_EQ(FormatRows(kTrickyRows, OutputFormat::Tsv),
            "序号\t宝贝标题\t宝贝ID\t商家名\n"
            "1\t手机 \"壳\", 蓝色\t101\t发个小店\n"
            "2\ttab here  new\\line\t102\tctl\x01\x1F\n"
            "3\t\xEF\xBF\xBD\t\t\n");
}

TEST(CliOutput, CsvFollowsRfc4180) {
  const std::string csv = FormatRows(kTrickyRows, OutputFormat::Csv);
  EXPECT_EQ(csv,
            "序号,宝贝标题,宝贝ID,商家名\r\n"
            "1,\"手机 \"\"壳\"\", 蓝色\",101,发个小店\r\n"
            "2,\"tab\there\r\nnew\\line\",102,ctl\x01\x1F\r\n"
            "3,\xEF\xBF\xBD,,\r\n");
  const auto records = ReadCsv(csv);
  ASSERT_TRUE(records);
  ASSERT_EQ(records->size(), 4u);
  EXPECT_EQ((*records)[1][1], "手机 \"壳\", 蓝色");
  EXPECT_EQ((*records)[2][1], "tab\there\r\nnew\\line");
}

TEST(CliOutput, JsonIsOneArrayOfEscapedStrings) {
  const std::string json = FormatRows(kTrickyRows, OutputFormat::Json);
  EXPECT_NE(json.find(R"("title": "手机 \"壳\", 蓝色")"), std::string::npos) << json;
  EXPECT_NE(json.find(R"("title": "tab\u0009here\u000d\u000anew\\line")"), std::string::npos)
      << json;
  EXPECT_NE(json.find(R"("seller": "ctl\u0001\u001f")"), std::string::npos) << json;
  EXPECT_TRUE(IsValidUtf8(json));
  const auto objects = JsonReader(json).Objects();
  ASSERT_TRUE(objects) << json;
  ASSERT_EQ(objects->size(), 3u);
  EXPECT_EQ((*objects)[1], (std::map<std::string, std::string>{{"row", "2"},
                                                               {"title", "tab\there\r\nnew\\line"},
                                                               {"id", "102"},
                                                               {"seller", "ctl\x01\x1F"}}));
  EXPECT_EQ((*objects)[2].at("title"), "\xEF\xBF\xBD");

  EXPECT_EQ(FormatRows({}, OutputFormat::Json), "[]\n");
  EXPECT_EQ(FormatRows({}, OutputFormat::Csv), "序号,宝贝标题,宝贝ID,商家名\r\n");
}

TEST(CliOutput, APageWithoutRowsIsExplained) {
  const Bytes none;
  const std::string empty = "jsonp101({\"mods\":{\"itemlist\":{\"data\":{\"auctions\":[]}}}})";
  const Bytes emptyBytes(empty.begin(), empty.end());
  using K = PageOutcomeKind;
  const auto report = [](int page, int pages, const Bytes* answer, const char* error,
                         PageOutcome outcome) {
    PageReport r;
    r.page = page;
    r.pageCount = pages;
    r.answer = answer;
    r.requestError = error;
    r.outcome = std::move(outcome);
    return r;
  };
  struct Case {
    PageReport report;
    std::vector<std::string> says;
  };
  const std::string login = "https://login.taobao.com/member/login.jhtml?redirectURL=x";
  const Case cases[] = {
      {report(3, 10, &none, "Timeout was reached", {K::RequestFailed, "Timeout was reached", {}}),
       {"page 3/10: no rows: the request failed (Timeout was reached)"}},
      {report(1, 2, &none, "", {K::NoListings, "empty answer", {}}),
       {"page 1/2: no rows: the answer was empty"}},
      {report(2, 2, &emptyBytes, "", {}), {"page 2/2: no rows: the answer holds no listings"}},
      {report(1, 3, &none, "", {K::SignInRequired, {}, login}),
       {"page 1/3: no rows: the service asks to sign in first at " + login, "desktop program",
        "/store/cookies.txt"}},
      {report(4, 9, nullptr, "", {K::VerificationRequired, {}, "https://h/punish?x5secdata=1"}),
       {"asks for a verification at https://h/punish?x5secdata=1", "--cookies"}},
      {report(2, 9, nullptr, "", {K::SlowDown, "FAIL_SYS_SERVICE_FLOW_LIMIT", {}}),
       {"limits the flow of requests (FAIL_SYS_SERVICE_FLOW_LIMIT)", "--delay"}},
  };
  for (const Case& c : cases) {
    const bool named = c.report.outcome.kind == K::SignInRequired;
    const std::string line = EmptyPageLine(c.report, named ? "/store/cookies.txt" : "");
    for (const std::string& said : c.says) {
      EXPECT_NE(line.find(said), std::string::npos) << "wanted \"" << said << "\" in " << line;
    }
  }
  PageReport withRows = report(1, 1, &emptyBytes, "", {});
  withRows.rowsAdded = 5;
  EXPECT_EQ(EmptyPageLine(withRows), "");
}

// ---- the program itself ----

struct Finished {
  int status = -1;
  std::string out;
  std::string err;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

Finished RunProgram(const std::vector<std::string>& args) {
  const std::string dir = ::testing::TempDir();
  const std::string outPath = dir + "/zemlaro-cli-out-" + std::to_string(getpid());
  const std::string errPath = dir + "/zemlaro-cli-err-" + std::to_string(getpid());
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  std::vector<std::string> all = {ZEMLARO_CLI};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : all) argv.push_back(arg.data());
  argv.push_back(nullptr);
  Finished finished;
  pid_t pid = 0;
  if (posix_spawn(&pid, ZEMLARO_CLI, &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) finished.status = WEXITSTATUS(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  finished.out = Slurp(outPath);
  finished.err = Slurp(errPath);
  unlink(outPath.c_str());
  unlink(errPath.c_str());
  return finished;
}

TEST(CliProgram, HelpVersionAndUsageErrors) {
  const Finished version = RunProgram({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "zemlaro-cli 1.0.0\n");

  const Finished help = RunProgram({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("zemlaro-cli search [--pages TEXT]"), std::string::npos);
  EXPECT_EQ(help.err, "");

  const Finished emoji = RunProgram({"search", "--host", "127.0.0.1:1", "a\xF0\x9F\x98\x80"});
  EXPECT_EQ(emoji.status, 2);
  EXPECT_EQ(emoji.out, "");
  EXPECT_NE(emoji.err.find("\"\xF0\x9F\x98\x80\" (U+1F600)"), std::string::npos) << emoji.err;

  const Finished bare = RunProgram({});
  EXPECT_EQ(bare.status, 2);
  EXPECT_NE(bare.err.find("--help"), std::string::npos) << bare.err;
}

class CliAgainstMarket : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(market_.Start()); }

  Finished Search(std::vector<std::string> extra) {
    std::vector<std::string> args = {"search",        "--service",           "legacy",
                                     "--host",        market_.HostAndPort(), "--cacert",
                                     market_.CaFile()};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunProgram(args);
  }
  // The rows the market serves for `pages` pages of `keyword`, UTF-8.
  static std::vector<Record> Expected(const std::string& keyword, int pages) {
    std::vector<Record> rows;
    for (int page = 1; page <= pages; ++page) {
      for (int index = 0; index < 44; ++index) {
        const market::SampleListing l = market::ListingAt(keyword, page, index);
        // What went through code page 936 and back.
        rows.push_back({std::to_string(rows.size() + 1), GbkToUtf8(Utf8ToGbk(l.title)),
                        GbkToUtf8(Utf8ToGbk(l.itemId)), GbkToUtf8(Utf8ToGbk(l.sellerNick))});
      }
    }
    return rows;
  }

  market::SampleMarket market_;
};

TEST_F(CliAgainstMarket, TsvCsvAndJsonCarryTheSameRows) {
  const Record header = {"序号", "宝贝标题", "宝贝ID", "商家名"};
  std::vector<Record> expected = Expected("手机", 2);

  // Full-width digits count for --pages.
  const Finished tsv = Search({"--pages", "\xEF\xBC\x92", "手机"});
  EXPECT_EQ(tsv.status, 0);
  EXPECT_EQ(tsv.err, "") << "no progress on a stderr that is not a terminal";
  std::vector<Record> tsvRows = ReadTsv(tsv.out);
  ASSERT_FALSE(tsvRows.empty());
  EXPECT_EQ(tsvRows.front(), header);
  tsvRows.erase(tsvRows.begin());
  EXPECT_EQ(tsvRows, expected);

  const Finished csv = Search({"--pages", "2", "--format", "csv", "手机"});
  EXPECT_EQ(csv.status, 0);
  std::optional<std::vector<Record>> csvRows = ReadCsv(csv.out);
  ASSERT_TRUE(csvRows) << csv.out.substr(0, 300);
  ASSERT_FALSE(csvRows->empty());
  EXPECT_EQ(csvRows->front(), header);
  csvRows->erase(csvRows->begin());
  EXPECT_EQ(*csvRows, expected);

  const Finished json = Search({"--pages", "2", "--format=json", "手机"});
  EXPECT_EQ(json.status, 0);
  const auto objects = JsonReader(json.out).Objects();
  ASSERT_TRUE(objects) << json.out.substr(0, 300);
  std::vector<Record> jsonRows;
  for (const auto& o : *objects) {
    ASSERT_EQ(o.size(), 4u);
    jsonRows.push_back({o.at("row"), o.at("title"), o.at("id"), o.at("seller")});
  }
  EXPECT_EQ(jsonRows, expected);
}

TEST_F(CliAgainstMarket, SellerKeepsTheMatchingRowsWithTheirNumbers) {
  const std::vector<Record> all = Expected("kw", 1);
  // A fragment of one seller: the last character of the first row's nick.
  const std::string nick = all[0][3];
  std::size_t cut = nick.size() - 1;
  while (cut > 0 && (static_cast<unsigned char>(nick[cut]) & 0xC0) == 0x80) --cut;
  const std::string fragment = nick.substr(cut);
  std::vector<Record> expected;
  for (const Record& row : all) {
    if (row[3].find(fragment) != std::string::npos) expected.push_back(row);
  }
  ASSERT_FALSE(expected.empty());

  const Finished run = Search({"--pages", "1", "--seller", fragment, "kw"});
  EXPECT_EQ(run.status, 0);
  std::vector<Record> rows = ReadTsv(run.out);
  ASSERT_FALSE(rows.empty());
  rows.erase(rows.begin());
  EXPECT_EQ(rows, expected);
}

std::string ReadBack(std::FILE* file) {
  std::rewind(file);
  std::string text;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
  std::fclose(file);
  return text;
}

TEST_F(CliAgainstMarket, ProgressLinesOnlyWhenAskedFor) {
  for (const bool progress : {true, false}) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    ASSERT_TRUE(out && err);
    market_.SetPageMode(2, market::Mode::Empty);
    const int status = RunCli({"search", "--service", "legacy", "--host", market_.HostAndPort(),
                               "--cacert", market_.CaFile(), "--pages", "2.9", "kw"},
                              out, err, progress, CurlSettings{});
    EXPECT_EQ(status, kExitOk);
    EXPECT_EQ(ReadTsv(ReadBack(out)).size(), 1u + 44u);
    const std::string pageLine = "page 2/2: no rows: the answer holds no listings";
    const std::string lines = ReadBack(err);
    const std::string progressLines = progress ? "page 1/2\npage 2/2\n" : "";
    EXPECT_EQ(lines.rfind(progressLines + pageLine + " (", 0), 0u) << lines;
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), progress ? 3 : 1) << lines;
  }
}

TEST_F(CliAgainstMarket, BrokenAnswerStillGivesValidJson) {
  market_.SetPageMode(1, market::Mode::Garbage);  // bad UTF-8, a 2 MB title, a zero byte
  const Finished run = Search({"--pages", "1", "--format", "json", "kw"});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(IsValidUtf8(run.out));
  const auto objects = JsonReader(run.out).Objects();
  ASSERT_TRUE(objects) << run.out.substr(0, 300);
  EXPECT_EQ(objects->size(), static_cast<std::size_t>(market::kGarbageZeroAfterIndex + 1));
}

TEST_F(CliAgainstMarket, EmptyPagesAreExplainedOnStderr) {
  market_.SetPageMode(1, market::Mode::LoginPage);
  market_.SetPageMode(2, market::Mode::Empty);
  const Finished run = Search({"--pages", "3", "kw"});
  // A page that wants a sign-in sets the status; the rows found are still written.
  EXPECT_EQ(run.status, kExitSignIn);
  EXPECT_EQ(ReadTsv(run.out).size(), 1u + 44u);
  EXPECT_NE(run.err.find("page 1/3: no rows: the service asks to sign in first"), std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("page 2/3: no rows: the answer holds no listings"), std::string::npos)
      << run.err;
  EXPECT_EQ(run.err.find("page 3/3"), std::string::npos) << run.err;

  // Without --cacert the market's certificate is not trusted: every request fails.
  const Finished untrusted =
      RunProgram({"search", "--service", "legacy", "--host", market_.HostAndPort(), "--pages", "2",
                  "--format", "json", "kw"});
  EXPECT_EQ(untrusted.status, 0);
  EXPECT_EQ(untrusted.out, "[]\n");
  EXPECT_NE(untrusted.err.find("page 1/2: no rows: the request failed ("), std::string::npos)
      << untrusted.err;
  EXPECT_NE(untrusted.err.find("page 2/2: no rows: the request failed ("), std::string::npos)
      << untrusted.err;
}

// ---- the current service, the cookie store and the extra fields ----

std::string Utf8RoundTrip(const std::string& text) { return GbkToUtf8(Utf8ToGbk(text)); }

class CliAgainstCurrentService : public ::testing::Test {
 protected:
  explicit CliAgainstCurrentService(bool loginWall = false) : market_(Options(loginWall)) {}
  static market::MarketOptions Options(bool loginWall) {
    market::MarketOptions options;
    options.loginWall = loginWall;
    return options;
  }
  void SetUp() override {
    ASSERT_TRUE(market_.Start());
    folder_ = ::testing::TempDir() + "/cli-store-" + std::to_string(getpid());
    store_ = folder_ + "/cookies.txt";
    std::remove(store_.c_str());
    ClearCookies();
  }
  Finished Search(std::vector<std::string> extra) {
    std::vector<std::string> args = {
        "search", "--host", market_.HostAndPort(), "--cacert", market_.CaFile(), "--delay", "0"};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunProgram(args);
  }
  std::vector<Record> Expected(int pages) const {
    std::vector<Record> rows;
    for (int page = 1; page <= pages; ++page) {
      for (const market::SampleListing& l : market::ApiListingsOf("kw", page)) {
        rows.push_back({std::to_string(rows.size() + 1), Utf8RoundTrip(l.title),
                        Utf8RoundTrip(l.itemId), Utf8RoundTrip(l.sellerNick)});
      }
    }
    return rows;
  }
  // Signs in at the market's login page with libcurl in this process and keeps the
  // cookies it set in the store file, as the desktop program's sign-in window would.
  void SignInToTheStore() {
    CurlSettings settings;
    settings.extraCaFile = market_.CaFile();
    const std::unique_ptr<InternetSession> session = MakeCurlSession(settings);
    WebRequestArgs args;
    args.method = 1;
    args.dataText = "username=buyer&password=secret&redirectURL=%2Fitem.htm%3Fid%3D1";
    Text headers = "Content-Type: application/x-www-form-urlencoded";
    args.headers = &headers;
    WebRequest(*session, "https://" + market_.HostAndPort() + market::kLoginPath, args);
    ASSERT_TRUE(SaveCookieStore(store_));
    ClearCookies();
  }
  std::optional<std::string> StoredValue(const std::string& name) {
    ClearCookies();
    LoadCookieStore(store_);
    const std::optional<std::string> value = CookieValue(name);
    ClearCookies();
    return value;
  }

  market::SampleMarket market_;
  std::string folder_;
  std::string store_;
};

TEST_F(CliAgainstCurrentService, PagesGiveTheApisListingsAndTheirDetails) {
  const Finished run = Search({"--no-cookie-store", "--pages", "2", "kw"});
  EXPECT_EQ(run.status, 0) << run.err;
  std::vector<Record> expected = Expected(2);
  expected.insert(expected.begin(), {"序号", "宝贝标题", "宝贝ID", "商家名"});
  EXPECT_EQ(ReadTsv(run.out), expected);

  const Finished details = Search({"--no-cookie-store", "--pages", "1", "--fields",
                                   "id,price,sales,location", "--format", "json", "kw"});
  EXPECT_EQ(details.status, 0) << details.err;
  const auto objects = JsonReader(details.out).Objects();
  ASSERT_TRUE(objects) << details.out.substr(0, 300);
  const std::vector<market::SampleListing> listings = market::ApiListingsOf("kw", 1);
  ASSERT_EQ(objects->size(), listings.size());
  for (std::size_t k = 0; k < listings.size(); ++k) {
    const std::map<std::string, std::string> want = {
        {"id", listings[k].itemId},
        {"price", Utf8RoundTrip(listings[k].price)},
        {"sales", Utf8RoundTrip(listings[k].sales)},
        {"location", Utf8RoundTrip(listings[k].location)}};
    EXPECT_EQ((*objects)[k], want) << k;
  }
}

TEST_F(CliAgainstCurrentService, PagesArePacedByTheDelay) {
  const Finished run = Search({"--no-cookie-store", "--delay", "0.2", "--pages", "3", "kw"});
  EXPECT_EQ(run.status, 0) << run.err;
  // The last request of a page (after its token handshake) to the first of the next.
  std::vector<std::chrono::steady_clock::time_point> firstOf(4), lastOf(4);
  for (const market::RecordedRequest& request : market_.Requests()) {
    const std::string data = request.target;
    for (int page = 1; page <= 3; ++page) {
      if (data.find("%22page%22%3A" + std::to_string(page) + "%2C") == std::string::npos &&
          data.find("%5C%22page%5C%22%3A" + std::to_string(page) + "%2C") == std::string::npos) {
        continue;
      }
      if (firstOf[page] == std::chrono::steady_clock::time_point{}) firstOf[page] = request.at;
      lastOf[page] = request.at;
    }
  }
  for (int page = 2; page <= 3; ++page) {
    ASSERT_NE(firstOf[page], std::chrono::steady_clock::time_point{}) << page;
    EXPECT_GE(firstOf[page] - lastOf[page - 1], std::chrono::milliseconds(200)) << page;
  }
}

class CliBehindLoginWall : public CliAgainstCurrentService {
 protected:
  CliBehindLoginWall() : CliAgainstCurrentService(true) {}
};

TEST_F(CliBehindLoginWall, WithoutAStoreItExitsThreeAndSaysWhereToSignIn) {
  for (const char* service : {"current", "legacy"}) {
    const Finished run = Search({"--no-cookie-store", "--service", service, "--pages", "3", "kw"});
    EXPECT_EQ(run.status, kExitSignIn) << service;
    EXPECT_EQ(ReadTsv(run.out).size(), 1u) << service;  // the header alone
    const std::string login = "https://" + market_.HostAndPort() + market::kLoginPath;
    EXPECT_NE(run.err.find("page 1/3: no rows: the service asks to sign in first at " + login),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("--cookies FILE"), std::string::npos) << run.err;
  }
}

TEST_F(CliBehindLoginWall, AStoreWithTheSignInFindsEveryListingAndKeepsWhatTheServiceSet) {
  SignInToTheStore();
  const std::optional<std::string> refreshedBefore = StoredValue(market::kRefreshedCookieName);
  const Finished run = Search({"--cookies", store_, "--pages", "2", "kw"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadTsv(run.out).size(), 1 + Expected(2).size());
  EXPECT_EQ(run.err, "");

  struct stat file {};
  ASSERT_EQ(stat(store_.c_str(), &file), 0);
  EXPECT_EQ(file.st_mode & 0777, 0600u);
  // The cookie every answer refreshes went back to the file, and so did the API's token.
  const std::optional<std::string> refreshedAfter = StoredValue(market::kRefreshedCookieName);
  ASSERT_TRUE(refreshedAfter.has_value());
  EXPECT_TRUE(refreshedBefore != refreshedAfter);
  EXPECT_TRUE(StoredValue(market::kApiTokenCookie).has_value());

  // The same store serves the search page contract too; the secrets never show.
  const Finished legacy =
      Search({"--cookies", store_, "--service", "legacy", "--pages", "1", "kw"});
  EXPECT_EQ(legacy.status, 0) << legacy.err;
  EXPECT_EQ(ReadTsv(legacy.out).size(), 1u + 44u);
  for (const char* name : {"cookie2", "sgcookie", "_tb_token_"}) {
    const std::optional<std::string> secret = StoredValue(name);
    ASSERT_TRUE(secret.has_value()) << name;
    EXPECT_EQ(run.err.find(*secret), std::string::npos) << name;
  }
}

TEST_F(CliBehindLoginWall, AStoreOthersCanReadIsNotReadAndNotReplaced) {
  SignInToTheStore();
  ASSERT_EQ(chmod(store_.c_str(), 0644), 0);
  const std::string before = Slurp(store_);
  const Finished run = Search({"--cookies", store_, "--pages", "1", "kw"});
  EXPECT_EQ(run.status, kExitSignIn);
  EXPECT_NE(run.err.find(store_), std::string::npos) << run.err;
  EXPECT_EQ(Slurp(store_), before);
}

TEST_F(CliAgainstMarket, FieldsKeepEachDetailOnItsOwnListing) {
  const Finished run = Search({"--pages", "1", "--fields", "row,id,price,sales,location", "kw"});
  EXPECT_EQ(run.status, 0) << run.err;
  const std::vector<Record> records = ReadTsv(run.out);
  ASSERT_EQ(records.size(), 1u + 44u);
  EXPECT_EQ(records[0], (Record{"序号", "宝贝ID", "价格", "付款人数", "发货地"}));
  int lacking = 0;
  for (int index = 0; index < 44; ++index) {
    const market::SampleListing l = market::ListingAt("kw", 1, index);
    EXPECT_EQ(records[index + 1],
              (Record{std::to_string(index + 1), l.itemId, Utf8RoundTrip(l.price),
                      Utf8RoundTrip(l.sales), Utf8RoundTrip(l.location)}))
        << index;
    if (l.price.empty() || l.sales.empty() || l.location.empty()) ++lacking;
  }
  EXPECT_GT(lacking, 0);  // the page holds listings without some details
}

TEST_F(CliAgainstMarket, OutputGoesWholeToTheFileAndXlsxNeedsAFileOrAPipe) {
  const std::string dir = ::testing::TempDir();
  const std::string tsv = dir + "/cli-rows-" + std::to_string(getpid()) + ".tsv";
  const Finished toStdout = Search({"--pages", "1", "kw"});
  const Finished toFile = Search({"--pages", "1", "--output", tsv, "kw"});
  EXPECT_EQ(toFile.status, 0) << toFile.err;
  EXPECT_EQ(toFile.out, "");
  EXPECT_EQ(Slurp(tsv), toStdout.out);
  std::remove(tsv.c_str());

  const std::string xlsx = dir + "/cli-rows-" + std::to_string(getpid()) + ".xlsx";
  const Finished workbook = Search({"--pages", "1", "--format", "xlsx", "--output", xlsx, "kw"});
  EXPECT_EQ(workbook.status, 0) << workbook.err;
  EXPECT_EQ(workbook.out, "");
  EXPECT_EQ(Slurp(xlsx).substr(0, 2), "PK");
  std::remove(xlsx.c_str());
  // stdout here is a file, not a terminal: the workbook goes there.
  const Finished piped = Search({"--pages", "1", "--format", "xlsx", "kw"});
  EXPECT_EQ(piped.status, 0) << piped.err;
  EXPECT_EQ(piped.out.substr(0, 2), "PK");

  const Finished nowhere = Search({"--pages", "1", "--output", "/nonexistent/dir/rows.tsv", "kw"});
  EXPECT_EQ(nowhere.status, kExitFailure);
  EXPECT_NE(nowhere.err.find("/nonexistent/dir/rows.tsv"), std::string::npos) << nowhere.err;
}

}  // namespace
}  // namespace zemlaro::cli
