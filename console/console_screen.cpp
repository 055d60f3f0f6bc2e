#include "console/console_screen.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace vs32 {
namespace {

constexpr std::string_view kClearScreen = "\x1b[2J\x1b[1;1H";
constexpr std::string_view kClearToEnd = "\x1b[K";
constexpr std::string_view kInsertLine = "\x1b[L";
constexpr std::string_view kHideCursor = "\x1b[?25l";
constexpr std::string_view kShowCursor = "\x1b[?25h";

}  // namespace

ConsoleScreen::ConsoleScreen(int outFd, ScreenMode mode, int errFd, bool textToErr)
    : fd_(outFd),
      errFd_(errFd >= 0 ? errFd : outFd),
      textFd_(textToErr ? errFd_ : outFd),
      mode_(mode) {}

size_t ConsoleScreen::FormatMove(char* buf, size_t size, int column, int row) {
  const int n = std::snprintf(buf, size, "\x1b[%d;%dH", row, column);
  return n > 0 ? static_cast<size_t>(n) : 0;
}

void ConsoleScreen::WriteAllLocked(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // the reader went away: nothing sensible left to do with the text
    }
    text.remove_prefix(static_cast<size_t>(n));
  }
}

void ConsoleScreen::WriteLocked(std::string_view a, std::string_view b, std::string_view c) {
  WriteAllLocked(fd_, a);
  WriteAllLocked(fd_, b);
  WriteAllLocked(fd_, c);
}

void ConsoleScreen::PlainLineLocked(int fd, std::string_view text) {
  if (text.empty()) return;
  WriteAllLocked(fd, text);
  if (text.back() != '\n') WriteAllLocked(fd, "\n");
}

void ConsoleScreen::Clear() {
  if (!terminal()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  WriteLocked(kHideCursor, kClearScreen);
}

void ConsoleScreen::PrintAt(int column, int row, std::string_view text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!terminal()) {
    PlainLineLocked(textFd_, text);
    return;
  }
  char move[32];
  WriteLocked(std::string_view(move, FormatMove(move, sizeof move, column, row)), text);
}

void ConsoleScreen::Warning(std::string_view text) {
  if (!terminal()) {
    std::lock_guard<std::mutex> lock(mutex_);
    // A line of its own: the message texts begin with "\n" for the screen.
    while (!text.empty() && text.front() == '\n') text.remove_prefix(1);
    PlainLineLocked(errFd_, text);
    return;
  }
  Message(text);
}

void ConsoleScreen::Message(std::string_view text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!terminal()) {
    PlainLineLocked(textFd_, text);
    return;
  }
  char move[32];
  const std::string_view to(move, FormatMove(move, sizeof move, 1, kMessageRow));
  WriteLocked(to, kClearToEnd, text);
}

void ConsoleScreen::ShowLive(int column, int row, std::string_view text) {
  if (!terminal()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  char move[32];
  WriteLocked(std::string_view(move, FormatMove(move, sizeof move, column, row)), text);
}

void ConsoleScreen::ClearRow(int row) {
  if (!terminal()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  char move[32];
  WriteLocked(std::string_view(move, FormatMove(move, sizeof move, 1, row)), kClearToEnd);
}

void ConsoleScreen::InsertLine(int row, std::string_view text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!terminal()) {
    PlainLineLocked(fd_, text);
    return;
  }
  char move[32];
  WriteLocked(std::string_view(move, FormatMove(move, sizeof move, 1, row)), kInsertLine, text);
}

int ConsoleScreen::rows() const {
  winsize size{};
  if (::ioctl(fd_, TIOCGWINSZ, &size) == 0 && size.ws_row > 0) return size.ws_row;
  return 24;
}

void ConsoleScreen::Finish(bool toBottom) {
  if (!terminal()) return;
  const int last = rows();
  std::lock_guard<std::mutex> lock(mutex_);
  if (toBottom) {
    char move[32];
    WriteLocked(std::string_view(move, FormatMove(move, sizeof move, 1, last)), "\n");
  }
  WriteLocked(kShowCursor);
}

}  // namespace vs32
