// The spot routine: composes the two name/value records of a spot and hands them to the
// reporter.
//
// Each record is composed as "name\tvalue\t...name\tvalue\t\t", copied into a fixed
// buffer of 1024 bytes and every tab replaced by a NUL: name, NUL, value, NUL, ..., and
// one more NUL after the last value. The rest of the buffer is zero.
#pragma once

#include <array>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "report/psk_reporter.h"
#include "report/spot_records.h"

namespace vs32 {

enum class SpotProgram {
  kWindowed,  // Vs32Rx
  kConsole,   // Vs32RxC: its local record also carries MODE and FREQ
};

// What the spot routine needs from the front end, read at the moment of the spot.
struct SpotSettings {
  bool uploading = false;      // UploadSpot1 checked / UPLOAD_SPOT
  bool wavInput = false;       // a recording is being decoded: never spot it
  std::string_view myCall;     // MYCALL
  std::string_view myLocator;  // MYQTH
  bool useCorrelator = false;  // CorrelationVSDS1 checked / USE_CORRELATOR
  SpotProgram program = SpotProgram::kConsole;
};

using SpotRecordBuffer = std::array<char, kSpotRecordBytes>;
using SpotField = std::pair<std::string_view, std::string_view>;  // name, value

// Lays the fields out in out. False, with out zeroed, when the record would not fit the
// buffer or a name or value holds a tab or NUL (it would shift every later field).
bool ComposeSpotRecord(std::initializer_list<SpotField> fields, SpotRecordBuffer& out);

// The receiving station's record: report in dB, frequency in Hz.
bool ComposeLocalRecord(const SpotSettings& settings, float frequencyHz, float reportDb,
                        SpotRecordBuffer& out);
// The heard station's record; its FREQ is always "136000".
bool ComposeRemoteRecord(std::string_view callsign, float reportDb, SpotRecordBuffer& out);

// Calls ReporterInitialize with the host and port held in the statistics record.
int InitializeReporter(SpotReporter& reporter, const ReporterRecord& record);
// The reporter's last message, as UTF-8 (for message boxes and the console).
std::string ReporterMessage(SpotReporter& reporter);

// Sends one spot: callsign, locator (not sent), frequency in Hz and report in dB. True
// when the reporter accepted it. Nothing reaches the reporter while uploading is off or
// a recording is being decoded; a record that does not fit its buffer is not sent.
// Initialises the reporter again first when the record's flag says it has no socket.
bool SendSpot(SpotReporter& reporter, ReporterRecord& record, const SpotSettings& settings,
              std::string_view callsign, std::string_view locator, float frequencyHz,
              float reportDb);

}  // namespace vs32
