#include "config/profile_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "config/ascii_case.h"

namespace vs32 {

namespace {

constexpr std::string_view kBlanks = " \t\r\v\f";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

// One line of the file: [begin, end) is its text without the line ending,
// [end, next) the line ending ("\n", "\r\n" or nothing on an unterminated last line).
struct Line {
  size_t begin = 0;
  size_t end = 0;
  size_t next = 0;
};

class LineWalker {
 public:
  explicit LineWalker(std::string_view content) : content_(content) {
    // A byte-order mark in front of the first line is not part of its text.
    if (content_.substr(0, kUtf8Bom.size()) == kUtf8Bom) pos_ = kUtf8Bom.size();
  }
  bool Next(Line& line) {
    if (pos_ >= content_.size()) return false;
    line.begin = pos_;
    const size_t lf = content_.find('\n', pos_);
    if (lf == std::string_view::npos) {
      line.end = line.next = content_.size();
    } else {
      line.next = lf + 1;
      line.end = (lf > pos_ && content_[lf - 1] == '\r') ? lf - 1 : lf;
    }
    pos_ = line.next;
    return true;
  }

 private:
  std::string_view content_;
  size_t pos_ = 0;
};

// What a line says: a section header, a key line or neither.
struct Parsed {
  enum Kind { kOther, kSection, kKey } kind = kOther;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // raw text after '=' (key lines)
  size_t equalsAt = 0;     // offset of '=' within the line text
};

Parsed ParseLine(std::string_view text) {
  Parsed parsed;
  const std::string_view trimmed = Trim(text);
  if (!trimmed.empty() && trimmed.front() == '[') {
    const size_t close = trimmed.find(']');
    parsed.kind = Parsed::kSection;
    parsed.name = Trim(trimmed.substr(1, close == std::string_view::npos ? close : close - 1));
    return parsed;
  }
  const size_t equals = text.find('=');
  if (equals == std::string_view::npos) return parsed;
  parsed.kind = Parsed::kKey;
  parsed.name = Trim(text.substr(0, equals));
  parsed.value = text.substr(equals + 1);
  parsed.equalsAt = equals;
  return parsed;
}

std::string CleanValue(std::string_view raw) {
  std::string_view value = Trim(raw);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value.substr(0, kProfileValueMax));
}

std::string_view DetectLineEnding(std::string_view content) {
  const size_t lf = content.find('\n');
  if (lf != std::string_view::npos && lf > 0 && content[lf - 1] == '\r') return "\r\n";
  return "\n";
}

std::string Reason(int error) {
  return std::strerror(error);
}

enum class ReadStatus { kOk, kMissing, kFailed };

ReadStatus ReadContent(const std::filesystem::path& path, std::string& content,
                       std::string* error) {
  content.clear();
  // O_NONBLOCK: a FIFO given as the file must not hang the program.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT) return ReadStatus::kMissing;
    if (error) *error = Reason(errno);
    return ReadStatus::kFailed;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    if (error) *error = S_ISDIR(st.st_mode) ? Reason(EISDIR) : "not a regular file";
    return ReadStatus::kFailed;
  }
  if (static_cast<unsigned long long>(st.st_size) > kProfileFileMaxBytes) {
    ::close(fd);
    if (error) *error = "file too large";
    return ReadStatus::kFailed;
  }
  content.resize(static_cast<size_t>(st.st_size));
  size_t done = 0;
  while (true) {
    if (done == content.size()) {
      // The file may have grown since fstat; read on up to the limit.
      if (content.size() >= kProfileFileMaxBytes) break;
      content.resize(std::min(kProfileFileMaxBytes, content.size() + 4096));
    }
    const ssize_t got = ::read(fd, content.data() + done, content.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int saved = errno;
      ::close(fd);
      content.clear();
      if (error) *error = Reason(saved);
      return ReadStatus::kFailed;
    }
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  content.resize(done);
  ::close(fd);
  return ReadStatus::kOk;
}

bool HasLineBreakOrNul(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t put = ::write(fd, data.data(), data.size());
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    data.remove_prefix(static_cast<size_t>(put));
  }
  return true;
}

// Writes `content` to a fresh file beside `target` and renames it over `target`.
// mode < 0: a new file, created with the process's umask.
bool ReplaceAtomically(const std::filesystem::path& target, std::string_view content, int mode,
                       std::string* error) {
  static std::atomic<unsigned> counter{0};
  std::filesystem::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  // Built step by step: GCC 12 warns falsely about "." + std::string.
  std::string base(1, '.');
  base.append(target.filename().string()).append(".tmp-").append(std::to_string(::getpid()));

  std::filesystem::path temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = folder / (base + "-" + std::to_string(counter.fetch_add(1)));
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    if (error) *error = Reason(errno);
    return false;
  }
  int failure = 0;
  if (mode >= 0 && ::fchmod(fd, static_cast<mode_t>(mode)) != 0) failure = errno;
  if (!failure && !WriteAll(fd, content)) failure = errno ? errno : EIO;
  if (!failure && ::fsync(fd) != 0) failure = errno;
  if (::close(fd) != 0 && !failure) failure = errno;
  if (!failure && ::rename(temp.c_str(), target.c_str()) != 0) failure = errno;
  if (failure) {
    ::unlink(temp.c_str());
    if (error) *error = Reason(failure);
    return false;
  }
  // The folder is not synced: a rename lost in a crash leaves the old, complete file.
  return true;
}

// The file a write must replace: a symbolic link is followed, so the link stays.
std::filesystem::path ResolveLinks(std::filesystem::path path) {
  std::error_code ec;
  for (int depth = 0; depth < 16 && std::filesystem::is_symlink(path, ec); ++depth) {
    const std::filesystem::path link = std::filesystem::read_symlink(path, ec);
    if (ec) break;
    path = link.is_absolute() ? link : path.parent_path() / link;
  }
  return path;
}

}  // namespace

std::optional<std::string> FindProfileValue(std::string_view content, std::string_view section,
                                            std::string_view key) {
  LineWalker walker(content);
  Line line;
  bool inSection = false;
  bool seenSection = false;
  while (walker.Next(line)) {
    const Parsed parsed = ParseLine(content.substr(line.begin, line.end - line.begin));
    if (parsed.kind == Parsed::kSection) {
      // Only the first section of that name is looked at.
      if (inSection) return std::nullopt;
      if (!seenSection && EqualIgnoringAsciiCase(parsed.name, section))
        inSection = seenSection = true;
    } else if (inSection && parsed.kind == Parsed::kKey &&
               EqualIgnoringAsciiCase(parsed.name, key)) {
      return CleanValue(parsed.value);
    }
  }
  return std::nullopt;
}

std::string SetProfileValue(std::string_view content, std::string_view section,
                            std::string_view key, std::string_view value) {
  const std::string_view eol = DetectLineEnding(content);
  LineWalker walker(content);
  Line line;
  bool inSection = false;
  bool found = false;
  Line insertAfter;           // last non-blank line of the section
  bool lastLineBlank = true;  // of the whole file
  while (walker.Next(line)) {
    const std::string_view text = content.substr(line.begin, line.end - line.begin);
    const Parsed parsed = ParseLine(text);
    lastLineBlank = Trim(text).empty();
    if (parsed.kind == Parsed::kSection) {
      if (inSection) break;
      if (!found && EqualIgnoringAsciiCase(parsed.name, section)) {
        inSection = found = true;
        insertAfter = line;
      }
      continue;
    }
    if (!inSection) continue;
    if (parsed.kind == Parsed::kKey && EqualIgnoringAsciiCase(parsed.name, key)) {
      std::string keyPart(text.substr(0, parsed.equalsAt));
      keyPart.erase(keyPart.find_last_not_of(kBlanks) + 1);
      std::string result(content.substr(0, line.begin));
      result.append(keyPart).append("=").append(value);
      result.append(content.substr(line.end));
      return result;
    }
    if (!lastLineBlank) insertAfter = line;
  }

  std::string result;
  result.reserve(content.size() + section.size() + key.size() + value.size() + 16);
  if (found) {
    result.append(content.substr(0, insertAfter.next));
    if (insertAfter.next == insertAfter.end) result.append(eol);  // was the unterminated last line
    result.append(key).append("=").append(value).append(eol);
    result.append(content.substr(insertAfter.next));
    return result;
  }
  result.append(content);
  if (!content.empty()) {
    if (content.back() != '\n') result.append(eol);
    if (!lastLineBlank) result.append(eol);  // a blank line between sections
  }
  result.append("[").append(section).append("]").append(eol);
  result.append(key).append("=").append(value).append(eol);
  return result;
}

std::string ProfileFile::ReadString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue) const {
  std::string content;
  if (ReadContent(path_, content, nullptr) == ReadStatus::kOk) {
    if (auto value = FindProfileValue(content, section, key)) return *value;
  }
  return std::string(defaultValue);
}

bool ProfileFile::WriteString(std::string_view section, std::string_view key,
                              std::string_view value, std::string* error) {
  // Names and values that would break the line structure are refused, not stored.
  if (section.empty() || section.find(']') != std::string_view::npos ||
      HasLineBreakOrNul(section)) {
    if (error) *error = "invalid section name";
    return false;
  }
  if (key.empty() || key.find('=') != std::string_view::npos || key.front() == '[' ||
      HasLineBreakOrNul(key) || Trim(key).size() != key.size()) {
    if (error) *error = "invalid key name";
    return false;
  }
  if (HasLineBreakOrNul(value)) {
    if (error) *error = "line break in the value of " + std::string(key);
    return false;
  }

  const std::filesystem::path target = ResolveLinks(path_);
  std::string content;
  std::string reason;
  const ReadStatus status = ReadContent(target, content, &reason);
  if (status == ReadStatus::kFailed) {
    if (error) *error = reason;
    return false;
  }
  if (status == ReadStatus::kOk && FindProfileValue(content, section, key) == value) return true;

  int mode = -1;
  if (status == ReadStatus::kOk) {
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0) {
      if (error) *error = Reason(errno);
      return false;
    }
    // Replacing by rename would bypass the file's own permissions: honour them.
    if ((st.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0) {
      if (error) *error = Reason(EACCES);
      return false;
    }
    mode = static_cast<int>(st.st_mode & 07777);
  }
  const std::string updated = SetProfileValue(content, section, key, value);
  if (updated == content) return true;
  return ReplaceAtomically(target, updated, mode, error);
}

}  // namespace vs32
