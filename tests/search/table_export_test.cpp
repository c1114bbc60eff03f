// The table files on Linux: the system's reasons, a write cut short, and the
// workbook read back.
#include "search/table_export.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unzip.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/search/test_folder.h"

namespace zemlaro {
namespace {

namespace fs = std::filesystem;
using test::Folder;
using test::PutFile;
using test::ReadFile;

// Failures before anything is written: the reason names the file and the system's
// words. None of these paths can be written by root either.
TEST_F(Folder, UnwritablePathsNameTheFileAndTheReason) {
  PutFile(At("regular"), "a file, not a folder");
  fs::create_directory(At("folder"));
  PutFile(At("folder/inside"), "keeps the folder non-empty");
  struct Case {
    std::string path;
    std::string reason;
  };
  const Case cases[] = {
      {At("missing/out"), "No such file or directory"},
      {At("regular/out"), "Not a directory"},
      {At("folder"), "Is a directory"},
  };
  for (const Case& c : cases) {
    for (const std::string suffix : {".csv", ".xlsx"}) {
      const std::string path = c.path + (c.path.ends_with("folder") ? "" : suffix);
      std::string why;
      const bool written = suffix == ".csv" ? WriteFileAtomically(path, "data", &why)
                                            : WriteWorkbook(path, {{"h"}, {{"1"}}}, &why);
      EXPECT_FALSE(written) << path;
      EXPECT_EQ(why, path + ": " + c.reason);
    }
  }
  EXPECT_EQ(ReadFile(At("regular")), "a file, not a folder");
  EXPECT_EQ(ReadFile(At("folder/inside")), "keeps the folder non-empty");
  EXPECT_EQ(Names(), (std::vector<std::string>{"folder", "regular"}));
}

// A write that stops half-way (here at the file size limit, as a full disk would)
// leaves the old file as it was and no temporary file.
TEST_F(Folder, AWriteThatStopsHalfWayLeavesTheOldFile) {
  PutFile(At("out.csv"), "old rows");
  PutFile(At("out.xlsx"), "old workbook");
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);

  std::string csvWhy, xlsxWhy;
  Table big{{"id"}, {}};
  for (int i = 0; i < 5000; ++i) big.rows.push_back({std::to_string(1000000 + i)});
  const bool csvWritten = WriteFileAtomically(At("out.csv"), std::string(100000, 'x'), &csvWhy);
  const bool xlsxWritten = WriteWorkbook(At("out.xlsx"), big, &xlsxWhy);

  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(csvWritten);
  EXPECT_EQ(csvWhy, At("out.csv") + ": File too large");
  EXPECT_FALSE(xlsxWritten);
  EXPECT_TRUE(xlsxWhy.starts_with(At("out.xlsx") + ": ")) << xlsxWhy;
  EXPECT_EQ(ReadFile(At("out.csv")), "old rows");
  EXPECT_EQ(ReadFile(At("out.xlsx")), "old workbook");
  EXPECT_EQ(Names(), (std::vector<std::string>{"out.csv", "out.xlsx"}));
}

// ---- The workbook, read back --------------------------------------------------------

// One owner for an open zip archive.
struct ZipCloser {
  void operator()(void* zip) const { unzClose(zip); }
};

// The member `name` of the zip archive at `path`; empty when it is missing.
std::string ZipMember(const std::string& path, const char* name) {
  std::unique_ptr<void, ZipCloser> zip(unzOpen64(path.c_str()));
  if (!zip || unzLocateFile(zip.get(), name, 1) != UNZ_OK) return {};
  if (unzOpenCurrentFile(zip.get()) != UNZ_OK) return {};
  std::string out;
  char buffer[8192];
  int read = 0;
  while ((read = unzReadCurrentFile(zip.get(), buffer, sizeof buffer)) > 0)
    out.append(buffer, read);
  unzCloseCurrentFile(zip.get());
  return out;
}

std::string XmlUnescape(std::string text) {
  const std::pair<const char*, const char*> entities[] = {
      {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}, {"&amp;", "&"}};
  for (const auto& [entity, plain] : entities) {
    for (std::size_t at = 0; (at = text.find(entity, at)) != std::string::npos; ++at) {
      text.replace(at, std::strlen(entity), plain);
    }
  }
  return text;
}

struct Cell {
  std::string type;   // the t attribute
  std::string style;  // the s attribute
  std::string text;   // the shared string it points to
};

// The sheet's cells by row and column (both from 0), each resolved through the
// shared strings table.
struct Sheet {
  std::map<std::pair<int, int>, Cell> cells;
  std::map<int, double> widths;  // by column
  int rowCount = 0;
};

Sheet ReadSheet(const std::string& path) {
  std::vector<std::string> shared;
  const std::string strings = ZipMember(path, "xl/sharedStrings.xml");
  const std::regex item("<si><t(?: [^>]*)?>([^<]*)</t></si>");
  for (std::sregex_iterator it(strings.begin(), strings.end(), item), end; it != end; ++it) {
    shared.push_back(XmlUnescape((*it)[1]));
  }
  Sheet sheet;
  const std::string xml = ZipMember(path, "xl/worksheets/sheet1.xml");
  const std::regex cell("<c r=\"([A-Z]+)([0-9]+)\"([^>]*)>(?:<v>([0-9]+)</v>)?</c>");
  for (std::sregex_iterator it(xml.begin(), xml.end(), cell), end; it != end; ++it) {
    int column = 0;
    for (const char letter : (*it)[1].str()) column = column * 26 + (letter - 'A' + 1);
    const std::string attributes = (*it)[3];
    std::smatch type, style;
    Cell c;
    if (std::regex_search(attributes, type, std::regex("t=\"([a-zA-Z]+)\""))) c.type = type[1];
    if (std::regex_search(attributes, style, std::regex("s=\"([0-9]+)\""))) c.style = style[1];
    if (c.type == "s" && (*it)[4].matched) {
      const std::size_t index = std::stoul((*it)[4]);
      if (index < shared.size()) c.text = shared[index];
    }
    sheet.cells[{std::stoi((*it)[2]) - 1, column - 1}] = c;
  }
  const std::regex row("<row ");
  sheet.rowCount = static_cast<int>(
      std::distance(std::sregex_iterator(xml.begin(), xml.end(), row), std::sregex_iterator()));
  const std::regex col("<col min=\"([0-9]+)\" max=\"\\1\" width=\"([0-9.]+)\"");
  for (std::sregex_iterator it(xml.begin(), xml.end(), col), end; it != end; ++it) {
    sheet.widths[std::stoi((*it)[1]) - 1] = std::stod((*it)[2]);
  }
  return sheet;
}

TEST_F(Folder, WorkbookHoldsEveryCellAsTextWithABoldHeader) {
  const std::string longTitle(300, 'w');
  const Table table{{"序号", "宝贝标题", "宝贝ID", "商家名"},
                    {{"1", "LED护眼台灯 学生宿舍", "000123", "发个哈哈几个"},
                     {"2", "<b>&amp; \"quoted\" 'single'", "12345678901234567890", "shop, inc"},
                     {"3", longTitle, "1e5", " spaced "},
                     {"4", "台灯", "0", "店"}}};
  PutFile(At("list.xlsx"), "an older export");
  std::string why;
  ASSERT_TRUE(WriteWorkbook(At("list.xlsx"), table, &why)) << why;
  EXPECT_EQ(Names(), std::vector<std::string>{"list.xlsx"});

  const Sheet sheet = ReadSheet(At("list.xlsx"));
  EXPECT_EQ(sheet.rowCount, 5);
  std::vector<std::vector<std::string>> all{table.header};
  all.insert(all.end(), table.rows.begin(), table.rows.end());
  for (std::size_t row = 0; row < all.size(); ++row) {
    for (std::size_t column = 0; column < all[row].size(); ++column) {
      const auto at = sheet.cells.find({static_cast<int>(row), static_cast<int>(column)});
      ASSERT_NE(at, sheet.cells.end()) << row << "," << column;
      EXPECT_EQ(at->second.type, "s") << row << "," << column;
      EXPECT_EQ(at->second.text, all[row][column]) << row << "," << column;
    }
  }
  EXPECT_EQ(sheet.cells.size(), 20u);

  // The header's style is its own, and the workbook's styles hold a bold font.
  const std::string headerStyle = sheet.cells.at({0, 0}).style;
  const std::string bodyStyle = sheet.cells.at({1, 0}).style;
  EXPECT_NE(headerStyle, bodyStyle);
  for (int column = 1; column < 4; ++column) {
    EXPECT_EQ(sheet.cells.at({0, column}).style, headerStyle);
    EXPECT_EQ(sheet.cells.at({2, column}).style, bodyStyle);
  }
  EXPECT_NE(ZipMember(At("list.xlsx"), "xl/styles.xml").find("<b/>"), std::string::npos);

  // Widths follow the widest value: a Chinese character counts two; capped.
  ASSERT_EQ(sheet.widths.size(), 4u);
  EXPECT_GE(sheet.widths.at(0), kWorkbookMinColumnWidth);
  EXPECT_LT(sheet.widths.at(0), kWorkbookMinColumnWidth + 1);
  EXPECT_GE(sheet.widths.at(1), kWorkbookMaxColumnWidth);
  EXPECT_LT(sheet.widths.at(1), kWorkbookMaxColumnWidth + 1);
  EXPECT_GE(sheet.widths.at(2), 20 + kWorkbookColumnPadding);
  EXPECT_GE(sheet.widths.at(3), 12 + kWorkbookColumnPadding);  // 发个哈哈几个
  EXPECT_LT(sheet.widths.at(3), 12 + kWorkbookColumnPadding + 1);
}

}  // namespace
}  // namespace zemlaro
