// Key-by-key access to an INI ("private profile") file.
//
// Behaviour users of such files rely on: section and key names match without
// regard to ASCII case; the first of duplicate sections and keys counts; a key
// that is missing reads as the caller's default; values are trimmed of blanks
// and of one pair of matching surrounding quotes, and cut to 2047 characters. A
// write updates the first matching key in place or appends the key after the
// last non-blank line of its section, creating the section at the end of the
// file. Every other line stays byte for byte as it was, its line ending
// included; new lines take the file's line ending (LF for a new file).
//
// Every read opens the file afresh (no in-memory copy). Every write replaces the
// file atomically: a temporary file in the same folder is written, flushed and
// renamed over the original, so a crash never leaves half a file. Nothing
// throws; a failed write returns false with a reason and leaves the file as it was.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vs32 {

// Longest value a read returns (a 2048-byte buffer with its terminator).
inline constexpr size_t kProfileValueMax = 2047;

// Files larger than this are not parsed (reads give defaults, writes fail).
inline constexpr size_t kProfileFileMaxBytes = 16u << 20;

// The value of `key` in `section` of the file text `content`, or nothing.
std::optional<std::string> FindProfileValue(std::string_view content, std::string_view section,
                                            std::string_view key);

// `content` with `key` in `section` set to `value` (see the header comment).
std::string SetProfileValue(std::string_view content, std::string_view section,
                            std::string_view key, std::string_view value);

class ProfileFile {
 public:
  explicit ProfileFile(std::filesystem::path path) : path_(std::move(path)) {}

  const std::filesystem::path& path() const { return path_; }

  // The stored value, or `defaultValue` when the file, section or key is missing
  // or the file cannot be read.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view defaultValue) const;

  // Sets the key. Returns true when the file holds the value afterwards (a write
  // that would change nothing leaves the file untouched). On failure returns
  // false, leaves the file unchanged and puts the reason into `error`. A file
  // with no write permission bits counts as read-only, also for root.
  bool WriteString(std::string_view section, std::string_view key, std::string_view value,
                   std::string* error = nullptr);

 private:
  std::filesystem::path path_;
};

}  // namespace vs32
