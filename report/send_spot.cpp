#include "report/send_spot.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "engine/version.h"

namespace vs32 {

namespace {

constexpr std::string_view kWindowedProgramId = "Vs32Rx v" VS32_VERSION;
constexpr std::string_view kConsoleProgramId = "Vs32RxC v" VS32_VERSION;
constexpr std::string_view kCorrelatorSuffix = "+correlator";
constexpr std::string_view kMode = "VESTA";
// Every spot is reported on the dial frequency; the receive frequency travels only in
// the antenna text.
constexpr std::string_view kSpotFrequency = "136000";

// Room for any double in fixed notation with one decimal.
using NumberText = std::array<char, 352>;

// "%.1f" (or "%+.1f" with sign) without the C locale's say: a decimal comma must never
// reach the records.
std::string_view FormatOneDecimal(double value, bool sign, NumberText& text) {
  char* first = text.data();
  if (sign && !std::signbit(value)) *first++ = '+';
  const auto result =
      std::to_chars(first, text.data() + text.size(), value, std::chars_format::fixed, 1);
  return {text.data(), static_cast<std::size_t>(result.ptr - text.data())};
}

bool Clean(std::string_view text) {
  return text.find('\t') == std::string_view::npos && text.find('\0') == std::string_view::npos;
}

// Appends pieces to a fixed buffer, remembering whether everything fitted.
class RecordText {
 public:
  explicit RecordText(SpotRecordBuffer& out) : out_(out) {}
  void Append(std::string_view piece) {
    if (!fits_ || piece.size() > out_.size() - size_) {
      fits_ = false;
      return;
    }
    std::memcpy(out_.data() + size_, piece.data(), piece.size());
    size_ += piece.size();
  }
  bool Finish() {
    if (!fits_) {
      out_.fill(0);
      return false;
    }
    for (std::size_t i = 0; i < size_; ++i) {
      if (out_[i] == '\t') out_[i] = '\0';
    }
    std::fill(out_.begin() + static_cast<std::ptrdiff_t>(size_), out_.end(), '\0');
    return true;
  }

 private:
  SpotRecordBuffer& out_;
  std::size_t size_ = 0;
  bool fits_ = true;
};

}  // namespace

bool ComposeSpotRecord(std::initializer_list<SpotField> fields, SpotRecordBuffer& out) {
  RecordText text(out);
  bool clean = true;
  for (const SpotField& field : fields) {
    clean = clean && Clean(field.first) && Clean(field.second);
    text.Append(field.first);
    text.Append("\t");
    text.Append(field.second);
    text.Append("\t");
  }
  text.Append("\t");
  if (!clean) {
    out.fill(0);
    return false;
  }
  return text.Finish();
}

bool ComposeLocalRecord(const SpotSettings& settings, float frequencyHz, float reportDb,
                        SpotRecordBuffer& out) {
  const bool console = settings.program == SpotProgram::kConsole;
  std::array<char, 32> programId{};
  const std::string_view base = console ? kConsoleProgramId : kWindowedProgramId;
  std::memcpy(programId.data(), base.data(), base.size());
  std::size_t idLength = base.size();
  if (settings.useCorrelator) {
    std::memcpy(programId.data() + idLength, kCorrelatorSuffix.data(), kCorrelatorSuffix.size());
    idLength += kCorrelatorSuffix.size();
  }
  const std::string_view id(programId.data(), idLength);

  // "RX %+.1fdB on %.1fHz"
  NumberText report, frequency;
  const std::string_view reportText = FormatOneDecimal(reportDb, true, report);
  const std::string_view frequencyText = FormatOneDecimal(frequencyHz, false, frequency);
  std::array<char, 2 * sizeof(NumberText) + 16> antenna{};
  std::size_t n = 0;
  for (std::string_view piece : {std::string_view("RX "), reportText, std::string_view("dB on "),
                                 frequencyText, std::string_view("Hz")}) {
    std::memcpy(antenna.data() + n, piece.data(), piece.size());
    n += piece.size();
  }
  const std::string_view antennaText(antenna.data(), n);

  if (console) {
    return ComposeSpotRecord({{"STATION_CALLSIGN", settings.myCall},
                              {"MY_GRIDSQUARE", settings.myLocator},
                              {"PROGRAMID", id},
                              {"MODE", kMode},
                              {"FREQ", kSpotFrequency},
                              {"MY_ANTENNA", antennaText}},
                             out);
  }
  return ComposeSpotRecord({{"STATION_CALLSIGN", settings.myCall},
                            {"MY_GRIDSQUARE", settings.myLocator},
                            {"PROGRAMID", id},
                            {"MY_ANTENNA", antennaText}},
                           out);
}

bool ComposeRemoteRecord(std::string_view callsign, float reportDb, SpotRecordBuffer& out) {
  NumberText number;
  const std::string_view reportNumber = FormatOneDecimal(reportDb, true, number);
  std::array<char, sizeof(NumberText) + 4> report{};
  std::memcpy(report.data(), reportNumber.data(), reportNumber.size());
  std::memcpy(report.data() + reportNumber.size(), " dB", 3);
  const std::string_view reportText(report.data(), reportNumber.size() + 3);
  return ComposeSpotRecord(
      {{"CALL", callsign}, {"MODE", kMode}, {"FREQ", kSpotFrequency}, {"RST_SENT", reportText}},
      out);
}

int InitializeReporter(SpotReporter& reporter, const ReporterRecord& record) {
  std::array<char16_t, kRecordHostChars> host{};
  std::array<char16_t, kRecordPortChars> port{};
  const std::size_t hostLength = ReadRecordText(record, kRecordHostOffset, kRecordHostChars, host);
  const std::size_t portLength = ReadRecordText(record, kRecordPortOffset, kRecordPortChars, port);
  return reporter.ReporterInitialize({host.data(), hostLength}, {port.data(), portLength});
}

std::string ReporterMessage(SpotReporter& reporter) {
  std::array<char16_t, kInformationChars> wide{};
  reporter.ReporterGetInformation(wide.data(), wide.size());
  std::array<char, 4 * kInformationChars> text{};
  const std::size_t n = Utf16ToUtf8(wide.data(), text);
  return std::string(text.data(), n);
}

bool SendSpot(SpotReporter& reporter, ReporterRecord& record, const SpotSettings& settings,
              std::string_view callsign, std::string_view /*locator*/, float frequencyHz,
              float reportDb) {
  if (!settings.uploading || settings.wavInput) return false;

  SpotRecordBuffer local, remote;
  if (!ComposeLocalRecord(settings, frequencyHz, reportDb, local)) return false;
  if (!ComposeRemoteRecord(callsign, reportDb, remote)) return false;

  reporter.ReporterGetStatistics(record.data(), record.size());
  if (record[kRecordFlagOffset] == 0) InitializeReporter(reporter, record);
  return reporter.ReporterSeenCallsignSTD(remote, local, 1) == 0;
}

}  // namespace vs32
