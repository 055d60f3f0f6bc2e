// Test side of the spot datagrams: a UDP listener on 127.0.0.1 and a small IPFIX reader
// written apart from the message builder, so that the two cannot share a mistake.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vs32::test {

using Bytes = std::vector<std::uint8_t>;

// A UDP socket bound to a free port on 127.0.0.1.
class UdpListener {
 public:
  UdpListener() {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~UdpListener() { Close(); }
  UdpListener(const UdpListener&) = delete;
  UdpListener& operator=(const UdpListener&) = delete;

  int port() const { return port_; }
  std::u16string Port16() const {
    const std::string s = std::to_string(port_);
    return std::u16string(s.begin(), s.end());
  }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  // The next datagram, or nothing within timeoutMs.
  std::optional<Bytes> Receive(int timeoutMs = 2000) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return std::nullopt;
    Bytes buffer(65536);
    const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
    if (n < 0) return std::nullopt;
    buffer.resize(static_cast<std::size_t>(n));
    return buffer;
  }
  // Every datagram that arrives until the line has been quiet for quietMs.
  std::vector<Bytes> ReceiveAll(int quietMs = 200) {
    std::vector<Bytes> all;
    while (auto d = Receive(quietMs)) all.push_back(std::move(*d));
    return all;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// The worked datagram of the service notes (196 bytes), as listed there.
inline const Bytes kWorkedDatagram = {
    0x00, 0x0a, 0x00, 0xc4, 0x69, 0x33, 0xc4, 0x6c, 0x00, 0x00, 0x00, 0x00, 0x12, 0x34, 0x56, 0x78,
    0x00, 0x03, 0x00, 0x2c, 0x99, 0x92, 0x00, 0x04, 0x00, 0x01, 0x80, 0x02, 0xff, 0xff, 0x00, 0x00,
    0x76, 0x8f, 0x80, 0x04, 0xff, 0xff, 0x00, 0x00, 0x76, 0x8f, 0x80, 0x08, 0xff, 0xff, 0x00, 0x00,
    0x76, 0x8f, 0x80, 0x09, 0xff, 0xff, 0x00, 0x00, 0x76, 0x8f, 0x00, 0x00, 0x00, 0x02, 0x00, 0x34,
    0x99, 0x93, 0x00, 0x06, 0x80, 0x01, 0xff, 0xff, 0x00, 0x00, 0x76, 0x8f, 0x80, 0x05, 0x00, 0x04,
    0x00, 0x00, 0x76, 0x8f, 0x80, 0x06, 0x00, 0x01, 0x00, 0x00, 0x76, 0x8f, 0x80, 0x0a, 0xff, 0xff,
    0x00, 0x00, 0x76, 0x8f, 0x80, 0x0b, 0x00, 0x01, 0x00, 0x00, 0x76, 0x8f, 0x00, 0x96, 0x00, 0x04,
    0x99, 0x92, 0x00, 0x38, 0x06, 0x5a, 0x5a, 0x30, 0x5a, 0x5a, 0x5a, 0x06, 0x4a, 0x4f, 0x36, 0x35,
    0x48, 0x4f, 0x0b, 0x45, 0x78, 0x61, 0x6d, 0x70, 0x6c, 0x65, 0x20, 0x31, 0x2e, 0x30, 0x17, 0x52,
    0x58, 0x20, 0x2b, 0x30, 0x2e, 0x30, 0x64, 0x42, 0x20, 0x6f, 0x6e, 0x20, 0x31, 0x33, 0x37, 0x35,
    0x30, 0x30, 0x2e, 0x30, 0x48, 0x7a, 0x00, 0x00, 0x99, 0x93, 0x00, 0x1c, 0x05, 0x51, 0x31, 0x41,
    0x42, 0x43, 0x00, 0x02, 0x19, 0x1c, 0xf4, 0x05, 0x56, 0x45, 0x53, 0x54, 0x41, 0x01, 0x69, 0x33,
    0xc3, 0x40, 0x00, 0x00};

// ---- IPFIX reader -------------------------------------------------------------------

struct FieldSpec {
  std::uint16_t id = 0;  // without the enterprise bit
  std::uint16_t length = 0;
  std::uint32_t enterprise = 0;  // 0: IANA
  // "30351.1" for enterprise elements, "150" for IANA ones.
  std::string Key() const {
    return enterprise != 0 ? std::to_string(enterprise) + "." + std::to_string(id)
                           : std::to_string(id);
  }
};

struct TemplateSpec {
  std::uint16_t id = 0;
  int scopeCount = 0;
  bool options = false;
  std::vector<FieldSpec> fields;
};

struct DataRecord {
  std::uint16_t templateId = 0;
  std::map<std::string, Bytes> values;  // by element key, raw bytes

  std::string Text(const std::string& key) const {
    const auto it = values.find(key);
    return it == values.end() ? std::string("<missing>")
                              : std::string(it->second.begin(), it->second.end());
  }
  std::uint64_t Unsigned(const std::string& key) const {
    std::uint64_t v = 0;
    const auto it = values.find(key);
    if (it == values.end()) return ~std::uint64_t{0};
    for (std::uint8_t b : it->second) v = (v << 8) | b;
    return v;
  }
};

struct ParsedMessage {
  std::uint16_t version = 0;
  std::uint16_t length = 0;
  std::uint32_t exportTime = 0;
  std::uint32_t sequence = 0;
  std::uint32_t domain = 0;
  std::vector<TemplateSpec> templates;
  std::vector<DataRecord> records;
  std::vector<std::string> errors;  // empty for a well-formed message

  std::vector<const DataRecord*> RecordsOf(std::uint16_t templateId) const {
    std::vector<const DataRecord*> out;
    for (const DataRecord& r : records) {
      if (r.templateId == templateId) out.push_back(&r);
    }
    return out;
  }
};

// Templates learnt so far in a session, by id.
using TemplateStore = std::map<std::uint16_t, TemplateSpec>;

inline ParsedMessage ParseIpfix(const Bytes& m, TemplateStore& store) {
  ParsedMessage out;
  auto u16 = [&m](std::size_t at) { return static_cast<std::uint16_t>(m[at] << 8 | m[at + 1]); };
  auto u32 = [&](std::size_t at) {
    return static_cast<std::uint32_t>(u16(at)) << 16 | u16(at + 2);
  };
  if (m.size() < 16) {
    out.errors.push_back("shorter than a header");
    return out;
  }
  out.version = u16(0);
  out.length = u16(2);
  out.exportTime = u32(4);
  out.sequence = u32(8);
  out.domain = u32(12);
  if (out.length != m.size()) out.errors.push_back("length field differs from datagram size");
  std::size_t pos = 16;
  while (pos < m.size()) {
    if (pos + 4 > m.size()) {
      out.errors.push_back("truncated set header");
      break;
    }
    const std::uint16_t setId = u16(pos);
    const std::size_t setLength = u16(pos + 2);
    const std::size_t end = pos + setLength;
    if (setLength < 4 || end > m.size()) {
      out.errors.push_back("set length out of range");
      break;
    }
    if (setLength % 4 != 0) out.errors.push_back("set not padded to 4 bytes");
    std::size_t p = pos + 4;
    if (setId == 2 || setId == 3) {
      while (p + 4 <= end) {
        TemplateSpec t;
        t.options = setId == 3;
        t.id = u16(p);
        const int count = u16(p + 2);
        p += 4;
        if (t.id == 0) break;  // padding
        if (t.options) {
          t.scopeCount = u16(p);
          p += 2;
        }
        for (int i = 0; i < count && p + 4 <= end; ++i) {
          FieldSpec f;
          const std::uint16_t raw = u16(p);
          f.length = u16(p + 2);
          p += 4;
          f.id = raw & 0x7FFF;
          if (raw & 0x8000) {
            f.enterprise = u32(p);
            p += 4;
          }
          t.fields.push_back(f);
        }
        if (static_cast<int>(t.fields.size()) != count) out.errors.push_back("template cut short");
        store[t.id] = t;
        out.templates.push_back(t);
        // What is left in the set must be zero padding of less than a field.
        if (end - p < 4) break;
      }
    } else if (setId >= 256) {
      const auto it = store.find(setId);
      if (it == store.end()) {
        out.errors.push_back("data set for an unknown template");
      } else {
        const TemplateSpec& t = it->second;
        std::size_t minimum = 0;
        for (const FieldSpec& f : t.fields) minimum += f.length == 0xFFFF ? 1 : f.length;
        while (end - p >= minimum && end - p >= 4) {
          DataRecord r;
          r.templateId = setId;
          bool ok = true;
          for (const FieldSpec& f : t.fields) {
            std::size_t n = f.length;
            if (f.length == 0xFFFF) {
              if (p >= end) {
                ok = false;
                break;
              }
              n = m[p++];
              if (n == 255) out.errors.push_back("long variable length not expected");
            }
            if (p + n > end) {
              ok = false;
              break;
            }
            r.values[f.Key()] = Bytes(m.begin() + static_cast<std::ptrdiff_t>(p),
                                      m.begin() + static_cast<std::ptrdiff_t>(p + n));
            p += n;
          }
          if (!ok) {
            out.errors.push_back("record runs past its set");
            break;
          }
          out.records.push_back(std::move(r));
        }
      }
    } else {
      out.errors.push_back("unexpected set id");
    }
    for (std::size_t i = p; i < end && setId >= 256; ++i) {
      if (m[i] != 0) {
        out.errors.push_back("non-zero padding");
        break;
      }
    }
    pos = end;
  }
  return out;
}

}  // namespace vs32::test
