// A small terminal model for the console tests: feeds the bytes a program
// wrote and keeps the resulting character grid, so that tests can read the
// screen row by row as a user would see it.
//
// Understands what the console program uses and what a terminal does with
// plain text: printable ASCII (a non-ASCII character takes one cell, shown as
// '?'), CR, LF (as CR LF when `newlineReturns`, like a terminal with output
// post-processing), TAB (stops every 8 columns), BS, ESC[r;cH, ESC[nJ, ESC[nK,
// ESC[nL and, ignored, ESC[?25l/h and other CSI sequences. Text at the right
// edge wraps to the next row; LF on the last row scrolls.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace vs32::test {

class VtScreen {
 public:
  explicit VtScreen(int rows = 24, int columns = 80, bool newlineReturns = true)
      : rows_(rows),
        columns_(columns),
        newlineReturns_(newlineReturns),
        grid_(static_cast<size_t>(rows), std::string(static_cast<size_t>(columns), ' ')) {}

  void Feed(std::string_view bytes) {
    for (char ch : bytes) FeedByte(static_cast<unsigned char>(ch));
  }

  // Row `row` (1-based) without trailing blanks.
  std::string Row(int row) const {
    if (row < 1 || row > rows_) return {};
    std::string text = grid_[static_cast<size_t>(row - 1)];
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
  }
  // Every row, joined by line feeds (for failure messages).
  std::string Text() const {
    std::string all;
    for (int r = 1; r <= rows_; ++r) all += Row(r) + "\n";
    return all;
  }
  // 1-based cursor position.
  int cursorRow() const { return row_ + 1; }
  int cursorColumn() const { return column_ + 1; }

 private:
  enum class State { kText, kEscape, kCsi };

  void FeedByte(unsigned char ch) {
    switch (state_) {
      case State::kEscape:
        if (ch == '[') {
          state_ = State::kCsi;
          params_.clear();
        } else {
          state_ = State::kText;
        }
        return;
      case State::kCsi:
        if (ch >= 0x40 && ch <= 0x7e) {
          state_ = State::kText;
          Csi(static_cast<char>(ch));
        } else {
          params_ += static_cast<char>(ch);
        }
        return;
      case State::kText:
        break;
    }
    if (utf8Left_ > 0 && (ch & 0xc0) == 0x80) {
      --utf8Left_;
      return;
    }
    utf8Left_ = 0;
    switch (ch) {
      case 0x1b:
        state_ = State::kEscape;
        return;
      case '\r':
        column_ = 0;
        return;
      case '\n':
        LineFeed();
        if (newlineReturns_) column_ = 0;
        return;
      case '\t':
        column_ = std::min(columns_ - 1, (column_ / 8 + 1) * 8);
        return;
      case '\b':
        if (column_ > 0) --column_;
        return;
      default:
        break;
    }
    if (ch < 0x20 || ch == 0x7f) return;
    char shown = static_cast<char>(ch);
    if (ch >= 0x80) {
      shown = '?';
      utf8Left_ = ch >= 0xf0 ? 3 : ch >= 0xe0 ? 2 : ch >= 0xc0 ? 1 : 0;
    }
    if (column_ >= columns_) {
      column_ = 0;
      LineFeed();
    }
    grid_[static_cast<size_t>(row_)][static_cast<size_t>(column_)] = shown;
    ++column_;
  }

  void LineFeed() {
    if (row_ + 1 < rows_) {
      ++row_;
      return;
    }
    grid_.erase(grid_.begin());
    grid_.emplace_back(static_cast<size_t>(columns_), ' ');
  }

  std::vector<int> Params() const {
    std::vector<int> values;
    int value = -1;
    for (char c : params_) {
      if (c >= '0' && c <= '9') {
        value = (value < 0 ? 0 : value * 10) + (c - '0');
      } else if (c == ';') {
        values.push_back(value);
        value = -1;
      }
    }
    values.push_back(value);
    return values;
  }

  void Csi(char final) {
    if (!params_.empty() && params_[0] == '?') return;  // modes such as cursor visibility
    const std::vector<int> p = Params();
    auto arg = [&](size_t i, int fallback) { return i < p.size() && p[i] >= 0 ? p[i] : fallback; };
    switch (final) {
      case 'H':
      case 'f':
        row_ = std::clamp(arg(0, 1), 1, rows_) - 1;
        column_ = std::clamp(arg(1, 1), 1, columns_) - 1;
        break;
      case 'J':
        if (arg(0, 0) == 2) {
          for (auto& line : grid_) line.assign(static_cast<size_t>(columns_), ' ');
        } else if (arg(0, 0) == 0) {
          ClearLineFrom(row_, column_);
          for (int r = row_ + 1; r < rows_; ++r) ClearLineFrom(r, 0);
        }
        break;
      case 'K':
        if (arg(0, 0) == 0) ClearLineFrom(row_, column_);
        break;
      case 'L': {
        const int n = std::min(std::max(arg(0, 1), 1), rows_ - row_);
        for (int i = 0; i < n; ++i) {
          grid_.pop_back();
          grid_.insert(grid_.begin() + row_, std::string(static_cast<size_t>(columns_), ' '));
        }
        column_ = 0;
        break;
      }
      default:
        break;
    }
  }

  void ClearLineFrom(int row, int column) {
    auto& line = grid_[static_cast<size_t>(row)];
    for (int c = std::min(column, columns_); c < columns_; ++c) line[static_cast<size_t>(c)] = ' ';
  }

  int rows_;
  int columns_;
  bool newlineReturns_;
  std::vector<std::string> grid_;
  int row_ = 0;
  int column_ = 0;
  State state_ = State::kText;
  std::string params_;
  int utf8Left_ = 0;
};

}  // namespace vs32::test
