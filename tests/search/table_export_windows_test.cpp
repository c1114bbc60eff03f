// The table files on Windows: the system's reasons, UTF-8 names, and the workbook
// that this build does not write.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "search/table_export.h"
#include "tests/search/test_folder.h"

namespace zemlaro {
namespace {

namespace fs = std::filesystem;
using test::Folder;
using test::PutFile;
using test::ReadFile;

// The system's words for `error` as the writer gives them: UTF-8, without the full
// stop and line end.
std::string Words(DWORD error) {
  char* words = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&words), 0, nullptr);
  std::string text(words != nullptr ? words : "", length);
  if (words != nullptr) ::LocalFree(words);
  while (!text.empty() &&
         (text.back() == '\r' || text.back() == '\n' || text.back() == '.' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

// Failures before anything is written: the reason names the file and the system's
// words, and nothing in the folder changes.
TEST_F(Folder, UnwritablePathsNameTheFileAndTheReason) {
  PutFile(At("regular"), "a file, not a folder");
  fs::create_directory(At("folder"));
  PutFile(At("folder/inside"), "keeps the folder non-empty");
  struct Case {
    std::string path;
    DWORD error;
  };
  const Case cases[] = {
      {At("missing/out.csv"), ERROR_PATH_NOT_FOUND},
      {At("regular/out.csv"), ERROR_PATH_NOT_FOUND},
      {At("folder"), ERROR_ACCESS_DENIED},
      {At("not-utf8-") + "\xFF.csv", ERROR_INVALID_NAME},
  };
  for (const Case& c : cases) {
    std::string why;
    EXPECT_FALSE(WriteFileAtomically(c.path, "data", &why)) << c.path;
    ASSERT_FALSE(Words(c.error).empty());
    EXPECT_EQ(why, c.path + ": " + Words(c.error));
  }
  EXPECT_EQ(ReadFile(At("regular")), "a file, not a folder");
  EXPECT_EQ(ReadFile(At("folder/inside")), "keeps the folder non-empty");
  EXPECT_EQ(Names(), (std::vector<std::string>{"folder", "regular"}));
}

// Names are UTF-8, as everywhere else in the program, whatever the system's ANSI
// code page is; both slashes separate folders.
TEST_F(Folder, UtfEightNamesAndBothSlashes) {
  const std::string names[] = {"导出 列表.csv", "宝贝.csv", "plain.csv"};
  for (const std::string& name : names) {
    const std::string forward = At(name);
    std::string why;
    ASSERT_TRUE(WriteFileAtomically(forward, "first " + name, &why)) << why;
    std::string backward = forward;
    for (char& c : backward) {
      if (c == '/') c = '\\';
    }
    ASSERT_TRUE(WriteFileAtomically(backward, "second " + name, &why)) << why;
    EXPECT_EQ(ReadFile(folder_ / fs::path(std::u8string(name.begin(), name.end()))),
              "second " + name);
  }
  std::vector<std::string> expected(std::begin(names), std::end(names));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Names(), expected);
}

TEST_F(Folder, WorkbooksAreNotWrittenAndTheOldFileStays) {
  PutFile(At("list.xlsx"), "an older export");
  const Table table{{"序号"}, {{"1"}}};
  const std::string paths[] = {At("list.xlsx"), At("new.xlsx"), At("missing/list.xlsx")};
  for (const std::string& path : paths) {
    std::string why;
    EXPECT_FALSE(WriteWorkbook(path, table, &why));
    EXPECT_EQ(why, path + ": " + kWorkbookUnavailable);
  }
  EXPECT_EQ(ReadFile(At("list.xlsx")), "an older export");
  EXPECT_EQ(Names(), std::vector<std::string>{"list.xlsx"});
}

}  // namespace
}  // namespace zemlaro
