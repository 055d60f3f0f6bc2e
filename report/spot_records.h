// Reading the NUL-separated name/value records that the spot routine hands to the
// reporter: name, NUL, value, NUL, ..., and one more NUL after the last value.
//
// The reader never looks past the bytes it is given, whatever they hold: a name without
// a value, a value without its NUL, or a record without its final NUL all end the walk
// cleanly.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace vs32 {

// Size of the fixed buffers the records travel in.
constexpr std::size_t kSpotRecordBytes = 1024;

class SpotRecordReader {
 public:
  explicit SpotRecordReader(std::span<const char> bytes) : bytes_(bytes) {}

  // Value of the first field with this name (names match exactly); empty when absent.
  std::string_view Find(std::string_view name) const;
  // True when the field is present (its value may be empty).
  bool Has(std::string_view name) const;
  // Number of complete name/value pairs.
  int FieldCount() const;
  // True when the record ends with its terminating NUL inside the given bytes.
  bool Terminated() const;

  // Calls visit(name, value) for each complete pair, in order.
  template <typename Visit>
  void ForEach(Visit visit) const {
    std::size_t pos = 0;
    std::string_view name, value;
    while (Next(pos, name, value)) visit(name, value);
  }

 private:
  // Reads the pair at pos; false at the end of the record or of the bytes.
  bool Next(std::size_t& pos, std::string_view& name, std::string_view& value) const;
  // Reads a NUL-terminated text at pos; false when no NUL follows inside the bytes.
  bool Text(std::size_t& pos, std::string_view& text) const;

  std::span<const char> bytes_;
};

}  // namespace vs32
