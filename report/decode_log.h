// The decode log: a text file holding a header line, an empty line, a column
// header line, then one line per decode, oldest first (appended) or newest first
// (inserted under the header block).
//
// Every function reports failure instead of throwing; a failed write never
// leaves a damaged log behind: the newest-first insert builds the new log in a
// temporary file beside the old one and renames it over the old log only when it
// is complete and on disk.
#pragma once

#include <time.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "config/settings.h"

namespace vs32 {

// Column header lines (without line feed). The console program's lines carry two
// more columns: the decode mark and the upload mark; its screen shows the same
// line (kConsoleColumnsLine, with its line feed).
inline constexpr std::string_view kWindowedLogColumns =
    "   DATE     TIME     CALL    FREQ       QRB     Eb/No   SNR";
inline constexpr std::string_view kConsoleColumnsLine =
    "   DATE     TIME     CALL    FREQ      QRB     Eb/No\t  SNR\tDEC   U\n";
inline constexpr std::string_view kConsoleLogColumns =
    kConsoleColumnsLine.substr(0, kConsoleColumnsLine.size() - 1);

// The column header a program writes into a log it creates at start-up.
std::string_view DecodeLogColumns(Program program);

enum class LogCreation {
  kCreated,  // the log was missing and has been written with its header block
  kExists,   // a regular file of that name exists; left untouched
  kFailed,   // missing and could not be created, or the name is not a regular file
};

// Start-up: when `path` does not exist, creates it holding "<logHeader>\n\n" and
// the program's column header line. An existing file is never touched. On
// kFailed, `error` (when given) says why.
LogCreation EnsureDecodeLog(const std::filesystem::path& path, std::string_view logHeader,
                            Program program, std::string* error = nullptr);

// Appends "<line>\n" to a growing text file: the decode log oldest first, or a
// list file. The file is created when missing, opened, written and closed again.
// False with a reason on failure.
bool AppendTextLine(const std::filesystem::path& path, std::string_view line,
                    std::string* error = nullptr);

// Newest first: writes "<line>\n" right after the third line end of the log. A
// log with fewer than three line ends (missing, empty, cut short) is replaced by
// the header block "<logName>\n\n", the windowed column header line and the new
// line. `logName` is the log's name as configured.
//
// The new content goes to a unique temporary file in the log's folder, which is
// flushed to disk and then renamed over the log (a symbolic link is followed, so
// the link stays). On any failure the old log is left as it was, the temporary
// file is removed, and false is returned with a reason.
bool InsertDecodeLogLine(const std::filesystem::path& path, std::string_view logName,
                         std::string_view line, std::string* error = nullptr);

// "YYYY-MM-DD HH:MM:SS" of `t` (seconds since 1970) in UTC: the time stamp of
// status lines and machine-readable decodes.
std::string UtcText(time_t t);

}  // namespace vs32
