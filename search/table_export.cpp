// The table files on Linux: the write-then-rename step over POSIX calls, and the
// workbook through libxlsxwriter.
#include "search/table_export.h"

#include <fcntl.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <system_error>

#include "web/unique_fd.h"

namespace zemlaro {
namespace {

std::string SystemReason(int error) { return std::generic_category().message(error); }

bool Fail(std::string* why, const std::string& path, const std::string& reason) {
  if (why != nullptr) *why = path + ": " + reason;
  return false;
}

// A file beside `path` that no other file has: ".<name>.<pid>-<n>-<clock>.tmp" in
// the same folder, created empty (mode 0666 less the umask). It is removed when the
// owner goes, unless Keep() says it has been renamed into place.
class TemporaryFile {
 public:
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }

  // Null with the errno in `error` when the folder takes no new file.
  static std::unique_ptr<TemporaryFile> Create(const std::string& path, int* error) {
    static std::atomic<unsigned> counter{0};
    const std::string::size_type slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    // Part of the name only, so that the temporary name is not too long where the
    // name itself is not.
    const std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1, 160);
    for (int attempt = 0; attempt < 100; ++attempt) {
      const auto clock = std::chrono::steady_clock::now().time_since_epoch().count();
      const std::string candidate = folder + "." + name + "." + std::to_string(::getpid()) + "-" +
                                    std::to_string(counter++) + "-" + std::to_string(clock) +
                                    ".tmp";
      const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd >= 0) return std::unique_ptr<TemporaryFile>(new TemporaryFile(candidate, fd));
      if (errno != EEXIST) {
        *error = errno;
        return nullptr;
      }
    }
    *error = EEXIST;
    return nullptr;
  }

  const std::string& path() const { return path_; }
  UniqueFd& descriptor() { return fd_; }
  void Keep() { path_.clear(); }

 private:
  TemporaryFile(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}

  std::string path_;
  UniqueFd fd_;
};

// The errno of the first failing write, else 0.
int WriteAll(int fd, std::string_view content) {
  while (!content.empty()) {
    const ssize_t written = ::write(fd, content.data(), content.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    content.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

// Flushes and closes the temporary file's descriptor, renames the file over `path`
// and flushes the folder's entry (best effort: not every file system can).
bool Finish(TemporaryFile& temporary, const std::string& path, std::string* why) {
  if (::fsync(temporary.descriptor().Get()) != 0 || !temporary.descriptor().Close()) {
    return Fail(why, path, SystemReason(errno));
  }
  if (::rename(temporary.path().c_str(), path.c_str()) != 0) {
    return Fail(why, path, SystemReason(errno));
  }
  temporary.Keep();
  const std::string::size_type slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const UniqueFd directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory) ::fsync(directory.Get());
  return true;
}

// The next code point of UTF-8 `text` at `*at`, moving past it; a stray byte
// counts as one narrow character.
char32_t NextCodePoint(std::string_view text, std::size_t* at) {
  const auto lead = static_cast<unsigned char>(text[*at]);
  int length = 1;
  if ((lead >> 5) == 0x6) length = 2;
  if ((lead >> 4) == 0xE) length = 3;
  if ((lead >> 3) == 0x1E) length = 4;
  if (length == 1 || *at + length > text.size()) {
    ++*at;
    return lead < 0x80 ? lead : U'?';
  }
  char32_t code = lead & (0x7F >> length);
  for (int i = 1; i < length; ++i) {
    code = (code << 6) | (static_cast<unsigned char>(text[*at + i]) & 0x3F);
  }
  *at += length;
  return code;
}

bool IsWide(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
         (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

// Columns the text takes on the screen: two for each wide East Asian character.
int DisplayWidth(std::string_view text) {
  int width = 0;
  for (std::size_t at = 0; at < text.size();) width += IsWide(NextCodePoint(text, &at)) ? 2 : 1;
  return width;
}

std::vector<int> ColumnWidths(const Table& table) {
  std::vector<int> widths;
  const auto measure = [&](const std::vector<std::string>& cells) {
    if (widths.size() < cells.size()) widths.resize(cells.size(), 0);
    for (std::size_t i = 0; i < cells.size(); ++i) {
      widths[i] = std::max(widths[i], DisplayWidth(cells[i]));
    }
  };
  measure(table.header);
  for (const auto& row : table.rows) measure(row);
  for (int& width : widths) {
    width = std::clamp(width + kWorkbookColumnPadding, kWorkbookMinColumnWidth,
                       kWorkbookMaxColumnWidth);
  }
  return widths;
}

// The workbook until workbook_close takes it over.
struct WorkbookFree {
  void operator()(lxw_workbook* workbook) const { lxw_workbook_free(workbook); }
};
using Workbook = std::unique_ptr<lxw_workbook, WorkbookFree>;

std::string CellReason(std::size_t row, std::size_t column, lxw_error error) {
  return "row " + std::to_string(row + 1) + ", column " + std::to_string(column + 1) + ": " +
         lxw_strerror(error);
}

// Writes the cells of `row` as strings on sheet row `sheetRow`; the reason on failure.
std::string WriteSheetRow(lxw_worksheet* sheet, std::size_t sheetRow,
                          const std::vector<std::string>& cells, lxw_format* format) {
  if (sheetRow >= LXW_ROW_MAX) {
    return CellReason(sheetRow, 0, LXW_ERROR_WORKSHEET_INDEX_OUT_OF_RANGE);
  }
  for (std::size_t column = 0; column < cells.size(); ++column) {
    const lxw_error error =
        column >= LXW_COL_MAX
            ? LXW_ERROR_WORKSHEET_INDEX_OUT_OF_RANGE
            : worksheet_write_string(sheet, static_cast<lxw_row_t>(sheetRow),
                                     static_cast<lxw_col_t>(column), cells[column].c_str(), format);
    if (error != LXW_NO_ERROR) return CellReason(sheetRow, column, error);
  }
  return {};
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view content, std::string* why) {
  int error = 0;
  std::unique_ptr<TemporaryFile> temporary = TemporaryFile::Create(path, &error);
  if (temporary == nullptr) return Fail(why, path, SystemReason(error));
  if (const int writeError = WriteAll(temporary->descriptor().Get(), content); writeError != 0) {
    return Fail(why, path, SystemReason(writeError));
  }
  return Finish(*temporary, path, why);
}

bool WriteWorkbook(const std::string& path, const Table& table, std::string* why) {
  // The temporary file both proves the folder takes a new file (with the system's
  // reason when it does not) and reserves the name the library then writes to.
  int error = 0;
  std::unique_ptr<TemporaryFile> temporary = TemporaryFile::Create(path, &error);
  if (temporary == nullptr) return Fail(why, path, SystemReason(error));

  Workbook workbook(workbook_new(temporary->path().c_str()));
  lxw_worksheet* sheet =
      workbook ? workbook_add_worksheet(workbook.get(), kWorkbookSheetName) : nullptr;
  lxw_format* bold = workbook ? workbook_add_format(workbook.get()) : nullptr;
  lxw_format* text = workbook ? workbook_add_format(workbook.get()) : nullptr;
  if (sheet == nullptr || bold == nullptr || text == nullptr) {
    return Fail(why, path, lxw_strerror(LXW_ERROR_MEMORY_MALLOC_FAILED));
  }
  format_set_bold(bold);
  format_set_num_format(bold, "@");
  // "@" is the text number format: a value typed over an id stays text too.
  format_set_num_format(text, "@");

  std::size_t sheetRow = 0;
  if (!table.header.empty()) {
    if (std::string reason = WriteSheetRow(sheet, sheetRow++, table.header, bold);
        !reason.empty()) {
      return Fail(why, path, reason);
    }
    worksheet_freeze_panes(sheet, 1, 0);
  }
  for (const auto& row : table.rows) {
    if (std::string reason = WriteSheetRow(sheet, sheetRow++, row, text); !reason.empty()) {
      return Fail(why, path, reason);
    }
  }
  const std::vector<int> widths = ColumnWidths(table);
  for (std::size_t column = 0; column < widths.size() && column < LXW_COL_MAX; ++column) {
    const auto at = static_cast<lxw_col_t>(column);
    worksheet_set_column(sheet, at, at, widths[column], nullptr);
  }

  errno = 0;
  const lxw_error closed = workbook_close(workbook.release());
  if (closed != LXW_NO_ERROR) {
    const int system = errno;
    std::string reason = lxw_strerror(closed);
    if (system != 0) reason += " (" + SystemReason(system) + ")";
    return Fail(why, path, reason);
  }
  return Finish(*temporary, path, why);
}

}  // namespace zemlaro
