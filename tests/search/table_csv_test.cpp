// CSV text and the whole-file write, the same on every platform.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "search/table_export.h"
#include "tests/search/test_folder.h"

namespace zemlaro {
namespace {

using test::Folder;
using test::PutFile;
using test::ReadFile;

// ---- CSV ----------------------------------------------------------------------------

TEST(CsvText, QuotesOnlyTheFieldsThatNeedIt) {
  struct Case {
    std::string value;
    std::string field;
  };
  const Case cases[] = {
      {"plain", "plain"},
      {"", ""},
      {"台灯 LED", "台灯 LED"},
      {"a,b", "\"a,b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"two\r\nlines", "\"two\r\nlines\""},
      {"line\nfeed", "\"line\nfeed\""},
      {"carriage\rreturn", "\"carriage\rreturn\""},
      {"tab\tstays", "tab\tstays"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CsvText({{}, {{c.value, "x"}}}, false), c.field + ",x\r\n") << c.value;
  }
}

TEST(CsvText, ByteOrderMarkThenHeaderThenRowsWithCrLf) {
  const Table table{{"序号", "宝贝标题"}, {{"1", "台灯"}, {"2", "a,\"b\""}}};
  EXPECT_EQ(CsvText(table, true), "\xEF\xBB\xBF序号,宝贝标题\r\n1,台灯\r\n2,\"a,\"\"b\"\"\"\r\n");
  EXPECT_EQ(CsvText(table, false), "序号,宝贝标题\r\n1,台灯\r\n2,\"a,\"\"b\"\"\"\r\n");
  EXPECT_EQ(CsvText({}, true), "\xEF\xBB\xBF");
}

// ---- Writing a file whole -----------------------------------------------------------

TEST_F(Folder, WriteReplacesTheOldFileAndLeavesNothingElse) {
  PutFile(At("out.csv"), "old content that is longer than the new one");
  std::string why = "unchanged";
  ASSERT_TRUE(WriteFileAtomically(At("out.csv"), "new", &why));
  EXPECT_EQ(ReadFile(At("out.csv")), "new");
  EXPECT_EQ(Names(), std::vector<std::string>{"out.csv"});
}

}  // namespace
}  // namespace zemlaro
