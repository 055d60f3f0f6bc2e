#include "report/spot_records.h"

namespace vs32 {

bool SpotRecordReader::Text(std::size_t& pos, std::string_view& text) const {
  std::size_t end = pos;
  while (end < bytes_.size() && bytes_[end] != '\0') ++end;
  if (end >= bytes_.size()) return false;
  text = std::string_view(bytes_.data() + pos, end - pos);
  pos = end + 1;
  return true;
}

bool SpotRecordReader::Next(std::size_t& pos, std::string_view& name,
                            std::string_view& value) const {
  if (pos >= bytes_.size()) return false;
  std::size_t p = pos;
  if (!Text(p, name) || name.empty()) return false;  // an empty name ends the record
  if (!Text(p, value)) return false;
  pos = p;
  return true;
}

std::string_view SpotRecordReader::Find(std::string_view name) const {
  std::size_t pos = 0;
  std::string_view n, v;
  while (Next(pos, n, v)) {
    if (n == name) return v;
  }
  return {};
}

bool SpotRecordReader::Has(std::string_view name) const {
  std::size_t pos = 0;
  std::string_view n, v;
  while (Next(pos, n, v)) {
    if (n == name) return true;
  }
  return false;
}

int SpotRecordReader::FieldCount() const {
  int count = 0;
  ForEach([&count](std::string_view, std::string_view) { ++count; });
  return count;
}

bool SpotRecordReader::Terminated() const {
  std::size_t pos = 0;
  std::string_view n, v;
  while (Next(pos, n, v)) {
  }
  return pos < bytes_.size() && bytes_[pos] == '\0';
}

}  // namespace vs32
