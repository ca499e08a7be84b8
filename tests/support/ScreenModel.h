// What a terminal shows after a program's output, for tests and benchmarks that must judge a
// display by what a person would see rather than by the bytes sent: printable text, CR, LF
// (taken as CR LF, as a terminal behind the tty's ONLCR sees it), and the cursor and erase
// sequences a plain table uses (CSI n A/B/E/F/G/H, CSI K, CSI J; colours are ignored). Lines
// pushed off the top are counted: a table that fits its terminal pushes none on a redraw.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

class ScreenModel {
 public:
  ScreenModel(int columns, int rows)
      : columns_(columns), rows_(rows), grid_(static_cast<std::size_t>(rows), Blank()) {}

  void Feed(std::string_view bytes) {
    for (const char c : bytes) Put(c);
  }

  // The rows as shown, blanks at their ends dropped.
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (std::string line : grid_) {
      line.erase(line.find_last_not_of(' ') + 1);
      lines.push_back(line);
    }
    return lines;
  }
  std::string Text() const {
    std::string text;
    for (const std::string& line : Lines()) text += line + "\n";
    return text;
  }
  // The first row showing `what`, or -1.
  int RowOf(std::string_view what) const {
    for (std::size_t i = 0; i < grid_.size(); ++i) {
      if (grid_[i].find(what) != std::string::npos) return static_cast<int>(i);
    }
    return -1;
  }
  int Scrolled() const { return scrolled_; }
  int CursorRow() const { return row_; }
  // Escape sequences this model does not know (a test can insist on none).
  int Unknown() const { return unknown_; }
  // A narrower or wider, shorter or taller terminal: rows are cut or padded, nothing reflows;
  // a shorter one keeps the rows nearest the cursor.
  void Resize(int columns, int rows) {
    const int drop = std::max(0, row_ - (rows - 1));
    grid_.erase(grid_.begin(), grid_.begin() + drop);
    scrolled_ += drop;
    row_ -= drop;
    columns_ = columns;
    rows_ = rows;
    grid_.resize(static_cast<std::size_t>(rows), std::string());
    for (std::string& line : grid_) line.resize(static_cast<std::size_t>(columns), ' ');
    col_ = std::min(col_, columns_ - 1);
  }

 private:
  std::string Blank() const { return std::string(static_cast<std::size_t>(columns_), ' '); }

  void LineFeed() {
    col_ = 0;
    if (row_ + 1 < rows_) {
      ++row_;
      return;
    }
    grid_.erase(grid_.begin());
    grid_.push_back(Blank());
    ++scrolled_;
  }

  void Put(char c) {
    if (state_ == State::Escape) {
      state_ = c == '[' ? State::Csi : State::Text;
      if (c != '[') ++unknown_;
      params_.clear();
      return;
    }
    if (state_ == State::Csi) {
      if ((c >= '0' && c <= '9') || c == ';' || c == '?') {
        params_.push_back(c);
        return;
      }
      state_ = State::Text;
      Csi(c);
      return;
    }
    if (c == '\x1b') {
      state_ = State::Escape;
    } else if (c == '\n') {
      LineFeed();
    } else if (c == '\r') {
      col_ = 0;
    } else if (static_cast<unsigned char>(c) >= 0x20) {
      if (col_ >= columns_) LineFeed();  // the terminal wraps a line that fills its width
      grid_[static_cast<std::size_t>(row_)][static_cast<std::size_t>(col_)] = c;
      ++col_;
    } else {
      ++unknown_;
    }
  }

  int Param(std::size_t index, int fallback) const {
    std::size_t at = 0;
    for (std::size_t i = 0; i < index; ++i) {
      at = params_.find(';', at);
      if (at == std::string::npos) return fallback;
      ++at;
    }
    const std::size_t end = params_.find(';', at);
    const std::string text = params_.substr(at, end == std::string::npos ? end : end - at);
    return text.empty() ? fallback : std::stoi(text);
  }

  void Csi(char final) {
    const int n = Param(0, 1);
    std::string& line = grid_[static_cast<std::size_t>(row_)];
    const auto col = static_cast<std::size_t>(std::min(col_, columns_));
    switch (final) {
      case 'A':
        row_ = std::max(0, row_ - n);
        break;
      case 'B':
        row_ = std::min(rows_ - 1, row_ + n);
        break;
      case 'F':
        row_ = std::max(0, row_ - n);
        col_ = 0;
        break;
      case 'E':
        row_ = std::min(rows_ - 1, row_ + n);
        col_ = 0;
        break;
      case 'G':
        col_ = std::clamp(n - 1, 0, columns_ - 1);
        break;
      case 'H':
        row_ = std::clamp(Param(0, 1) - 1, 0, rows_ - 1);
        col_ = std::clamp(Param(1, 1) - 1, 0, columns_ - 1);
        break;
      case 'K': {
        const int mode = Param(0, 0);
        if (mode == 0) line.replace(col, line.size() - col, line.size() - col, ' ');
        if (mode == 1) line.replace(0, col + 1, std::min(col + 1, line.size()), ' ');
        if (mode == 2) line = Blank();
        break;
      }
      case 'J': {
        const int mode = Param(0, 0);
        if (mode == 0) {
          line.replace(col, line.size() - col, line.size() - col, ' ');
          for (auto r = static_cast<std::size_t>(row_) + 1; r < grid_.size(); ++r)
            grid_[r] = Blank();
        } else if (mode == 2 || mode == 3) {
          for (std::string& l : grid_) l = Blank();
        } else {
          ++unknown_;
        }
        break;
      }
      case 'm':
        break;
      default:
        ++unknown_;
    }
  }

  enum class State { Text, Escape, Csi };
  int columns_, rows_;
  std::vector<std::string> grid_;
  int row_ = 0, col_ = 0;
  int scrolled_ = 0;
  int unknown_ = 0;
  State state_ = State::Text;
  std::string params_;
};

}  // namespace testsupport
