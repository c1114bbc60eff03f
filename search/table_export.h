// Writing a table of results to a file: CSV text, an .xlsx workbook, and the
// write-then-rename step both go through.
//
// Any thread: the functions take and return plain values and keep no state. Cells
// are UTF-8. Failures come back as false with a reason that names the file and
// gives the system's own words, e.g. "/tmp/gone/out.csv: No such file or directory".
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zemlaro {

struct Table {
  std::vector<std::string> header;  // left out of the file when empty
  std::vector<std::vector<std::string>> rows;
};

// The workbook's fixed values.
inline constexpr char kWorkbookSheetName[] = "Sheet1";
// Column widths in the spreadsheet's character units: the widest value (a wide East
// Asian character counts two) plus the padding, within these bounds.
inline constexpr int kWorkbookColumnPadding = 2;
inline constexpr int kWorkbookMinColumnWidth = 6;
inline constexpr int kWorkbookMaxColumnWidth = 80;
// Why WriteWorkbook fails in the Windows build, which has no workbook library.
inline constexpr char kWorkbookUnavailable[] =
    "workbooks (.xlsx) are not available in the Windows build";

// Writes `content` whole: a temporary file in the same folder, flushed to the disk,
// then renamed over `path`. On failure the temporary file is removed and a file
// already at `path` is left as it was.
bool WriteFileAtomically(const std::string& path, std::string_view content, std::string* why);

// RFC 4180 CSV: CRLF line ends, a field quoted (its quotes doubled) when it holds
// , " CR or LF; optionally after a UTF-8 byte-order mark.
std::string CsvText(const Table& table, bool byteOrderMark);
// One CSV field: quoted, with its quotes doubled, when it holds a comma, a quote or a
// line break; else as it is.
std::string CsvField(std::string_view value);

// An .xlsx workbook with one sheet: the header row bold and frozen, every cell a
// text (shared string) cell so that ids stay text, each column wide enough for its
// widest value (see above). Written to a temporary file in the same folder, flushed
// and renamed over `path`, as WriteFileAtomically does. In the Windows build it
// writes nothing and fails with kWorkbookUnavailable.
bool WriteWorkbook(const std::string& path, const Table& table, std::string* why);

}  // namespace zemlaro
