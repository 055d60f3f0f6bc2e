// The console program's screen: a fixed header of seven rows, a message row and
// decode lines inserted under the header, drawn with ANSI/VT100 sequences
// (ESC[row;colH, ESC[2J, ESC[K, ESC[L). Rows and columns are 1-based.
//
// Every cursor move and the write that follows it happen under one lock, so the
// main loop and the receive worker never interleave on the screen.
//
// When the output is not a terminal (a service, a pipe) there is no cursor
// control: texts that belong on the screen come out as plain lines, and the
// live fields (spinner, peaks, level) and row clearing are left out. Decode
// lines then go to standard output, warnings and errors to standard error,
// and the other texts to either (standard error when standard output carries
// only machine-read decodes).
#pragma once

#include <cstddef>
#include <mutex>
#include <string_view>

namespace vs32 {

// Screen rows of the console program.
inline constexpr int kBannerRow = 1;
inline constexpr int kSummaryRow = 2;  // input, decoder, detector; peaks at column 63
inline constexpr int kStationRow = 3;  // dial, centre, peak spacing; level at column 62
inline constexpr int kMessageRow = 4;  // spinner at column 1, messages, ambiguity at column 50
inline constexpr int kHeaderRow = 5;   // separator, column header, dashed line: rows 5 to 7
inline constexpr int kDecodeRow = 8;   // newest decode line; older ones below
inline constexpr int kPeaksColumn = 63;
inline constexpr int kLevelColumn = 62;
inline constexpr int kAmbiguityColumn = 50;

enum class ScreenMode {
  kTerminal,  // cursor control, live fields
  kPlain,     // plain lines only
};

class ConsoleScreen {
 public:
  // outFd: where the screen is written (not owned). Write errors (a closed
  // pipe, a terminal that went away) are ignored. Plain mode: warnings go to
  // errFd (-1: outFd), the other texts but decode lines to errFd when
  // `textToErr`.
  ConsoleScreen(int outFd, ScreenMode mode, int errFd = -1, bool textToErr = false);
  ConsoleScreen(const ConsoleScreen&) = delete;
  ConsoleScreen& operator=(const ConsoleScreen&) = delete;

  bool terminal() const { return mode_ == ScreenMode::kTerminal; }

  // Clears the screen and puts the cursor at column 1, row 1; hides the cursor
  // so the spinner does not flicker. Nothing in plain mode.
  void Clear();

  // Text that belongs on the screen: at (column, row), or as it stands in plain
  // mode (a line feed is added there when the text does not end in one).
  void PrintAt(int column, int row, std::string_view text);

  // A message on the message row: the row is cleared and the text written from
  // column 1. Plain mode: one line.
  void Message(std::string_view text);

  // A warning or error: on the message row like Message; plain mode: a line
  // on the error stream.
  void Warning(std::string_view text);

  // A live field (spinner, peaks, level): terminal only.
  void ShowLive(int column, int row, std::string_view text);

  // Clears `row` from column 1 to its end: terminal only.
  void ClearRow(int row);

  // Inserts a blank line at `row` (the rows from there down move one lower) and
  // writes the text there. Plain mode: the text as a line.
  void InsertLine(int row, std::string_view text);

  // Leaves the terminal usable: cursor shown again and, when `toBottom`, moved
  // to the start of the last row and a line feed written so that the shell's
  // prompt comes under the screen. Nothing in plain mode.
  void Finish(bool toBottom);

  // Number of rows of the terminal (24 when unknown).
  int rows() const;

 private:
  // Writes the pieces in order; called with mutex_ held.
  void WriteLocked(std::string_view a, std::string_view b = {}, std::string_view c = {});
  void WriteAllLocked(int fd, std::string_view text);
  // "ESC[row;colH" into buf; returns its length.
  static size_t FormatMove(char* buf, size_t size, int column, int row);
  void PlainLineLocked(int fd, std::string_view text);

  const int fd_;
  const int errFd_;
  const int textFd_;  // plain mode: where texts other than decodes and warnings go
  const ScreenMode mode_;
  std::mutex mutex_;
};

}  // namespace vs32
