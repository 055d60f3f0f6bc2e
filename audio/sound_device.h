// Sound card capture for the receive worker.
//
// The capture stream's callback plays the part of the audio thread: it fills
// 16 buffers of one second each in turn, queues every filled buffer under the
// input lock and signals the reader. The worker takes one second per read; it
// may fall up to 16 seconds behind before seconds are dropped (then the overrun
// flag is set). Three parties meet here: the audio callback thread, the worker
// (the only reader) and whoever opens and closes (the main thread, or the
// worker at the end of a WAV file). Opening and closing are safe while the
// worker is inside read: it either continues in the new buffers or returns.
//
// Nothing is ever played, so the output side only checks and records its
// parameters; no output stream is opened.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "audio/block_source.h"

namespace vs32 {

class SoundDevice : public BlockSource {
 public:
  static constexpr int kBufferCount = 16;
  static constexpr const char* kCaption = "Tavik Control";
  static constexpr const char* kInputFailedText = "Cannot Open Audio Input Device";
  static constexpr const char* kOutputFailedText = "Cannot Open Audio Output Device";
  static constexpr int kDefaultDevice = -1;
  // How long a read waits for an input to be opened before it returns 0.
  static constexpr std::chrono::milliseconds kIdleWait{1000};

  // Receives a warning text and its caption when a device cannot be opened.
  using WarningHandler = std::function<void(const char* text, const char* caption)>;

  // onWarning may be empty (failures are then only return values). It is called
  // on the thread that called open, after every lock of this object has been
  // released.
  explicit SoundDevice(WarningHandler onWarning = {});
  ~SoundDevice();  // closes input and output; no reader may still be inside read
  SoundDevice(const SoundDevice&) = delete;
  SoundDevice& operator=(const SoundDevice&) = delete;

  // Input device for the next openInput: 0 … n − 1 index the input-capable
  // devices in the order InputDeviceNames() lists them; −1 is the default input.
  void setInputDevice(int index) { inputDevice_.store(index); }
  int inputDevice() const { return inputDevice_.load(); }

  // Names of the input-capable devices, for the device menus.
  static std::vector<std::string> InputDeviceNames();

  // Opens the input: rate in frames per second (1 … 384000), bits per sample
  // (8 or 16), channels (1 … 16), frames per buffer (≥ 1; callers pass the rate,
  // so a buffer holds one second). An open input is closed first. On failure
  // raises "Cannot Open Audio Input Device" / "Tavik Control", leaves the input
  // closed and returns false.
  bool openInput(int rate, int bits, int channels, int frames);

  // Checks the output parameters and marks the output open; nothing is played,
  // so no device is opened. Invalid parameters raise "Cannot Open Audio Output
  // Device" / "Tavik Control" and return false.
  bool openOutput(int rate, int bits, int channels, int frames);

  void closeInput();   // no effect when not open; wakes a waiting reader
  void closeOutput();  // no effect when not open

  // Delivers `frames` frames as floats (16 bits: s / 32770; 8 bits:
  // (b − 128) / 130). Mono: each sample into left and right, for each array
  // given. More channels: channel 0 into left, channel 1 into right (the same
  // array for both ends up with channel 1); further channels dropped.
  // Blocks until the frames have been captured: the first read after an open
  // waits for the first filled buffer. Returns the frames stored: fewer than
  // asked (often 0) when the input was closed or WakeReader was called during
  // the read; 0 when both arrays are null, or when no input is open and none
  // was opened within kIdleWait (the read waits that long, so a caller looping
  // on it does not spin). Allocates nothing.
  int read(float* left, float* right, int frames);

  // Makes a read in progress return promptly with what it has; when no read is
  // in progress, the next read returns 0 at once. For stopping the worker.
  void WakeReader();

  // As a block source: a live one, mono or the second channel as read() does.
  // A short read (input closed, reopened or woken) is kNone; the sound card
  // never ends by itself.
  int sampleRate() const override { return inputRate_.load(); }
  bool live() const override { return true; }
  Read ReadBlock(float* block, int frames) override;
  void Wake() override { WakeReader(); }

  // When the open input last delivered audio (or was opened). An input that
  // stays silent far longer than a buffer has stalled or vanished.
  std::chrono::steady_clock::time_point lastDelivery() const;

  bool inputOpen() const { return inputOpen_.load(); }
  bool outputOpen() const { return outputOpen_.load(); }
  // Set when a buffer arrived while the reader was 16 buffers behind (that
  // second replaced the newest one queued); cleared by the next normal arrival.
  bool overrun() const { return overrun_.load(std::memory_order_relaxed); }
  int bufferBytes() const;    // bytes of one buffer of the open input, 0 when closed
  int waitTimeoutMs() const;  // one buffer's duration, ms: the reader's wait step
  int filledCount() const;    // buffers queued for the reader

  // Sets up the input's buffers and queue as openInput does but without a
  // device: captured data is then handed in through deliverCaptured. For tests
  // and for sources other than a sound card. Validates like openInput (without
  // raising a warning).
  bool openInputBuffers(int rate, int bits, int channels, int frames);

  // The capture side's entry point (the stream callback calls it): `frames`
  // frames of interleaved samples in the input's format (16-bit signed
  // native-endian, or 8-bit unsigned). Fills the device's current buffer; every
  // full buffer is queued for the reader and the reader signalled. Ignored
  // when no input is open.
  void deliverCaptured(const void* data, size_t frames);

 private:
  struct InputFormat {
    int rate = 0, bits = 0, channels = 0, frames = 0;
  };
  static bool ValidInput(const InputFormat& f);
  bool openInputLocked(const InputFormat& f);  // controlMutex_ held
  void stopStreamLocked();                     // controlMutex_ held; no callback runs afterwards
  bool setUpBuffers(const InputFormat& f);     // takes inputLock_
  void tearDownBuffers();                      // takes inputLock_
  void releaseCurrentLocked();                 // inputLock_ held
  void queueFilledLocked(int index, bool replacedNewest);  // inputLock_ held
  void warn(const char* text);

  const WarningHandler onWarning_;  // set once at construction
  std::atomic<int> inputDevice_{kDefaultDevice};
  std::atomic<bool> outputOpen_{false};

  // Serialises open and close (main thread, or the worker after a WAV file).
  std::mutex controlMutex_;
  void* stream_ = nullptr;      // the capture stream; controlMutex_
  bool portAudioHeld_ = false;  // this object holds a library initialisation; controlMutex_

  // Guards everything below; the reader holds it while converting, so buffer
  // memory cannot be released under it.
  mutable std::mutex inputLock_;
  std::condition_variable inputEvent_;
  std::atomic<bool> inputOpen_{false};
  std::atomic<bool> overrun_{false};
  std::atomic<int> inputRate_{0};                // frames per second of the open input, else 0
  std::atomic<std::int64_t> lastDeliveryNs_{0};  // steady clock
  std::vector<unsigned char> memory_;            // kBufferCount × bufferBytes_, allocated per open
  int bufferBytes_ = 0;
  int frameBytes_ = 0;
  int bits_ = 0;
  int channels_ = 0;
  std::chrono::milliseconds waitStep_{1000};
  // Buffers the reader may take, oldest first; while a buffer is being read
  // it stays at the head.
  int filledQueue_[kBufferCount] = {};
  int filledCount_ = 0;
  // Buffers handed to the device, in the order it fills them (a ring).
  int deviceQueue_[kBufferCount] = {};
  int deviceHead_ = 0;
  int deviceCount_ = 0;
  int fillBuffer_ = -1;        // buffer the device is filling, −1 none
  int fillPos_ = 0;            // bytes filled in it
  bool fillReplaces_ = false;  // that buffer was taken back from the queue's tail
  int currentBuffer_ = -1;     // buffer the reader converts from, −1 none
  int readPos_ = 0;            // byte position in it
  bool wakePending_ = false;
};

}  // namespace vs32
