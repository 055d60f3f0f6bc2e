#include "audio/sound_device.h"

#include <fcntl.h>
#include <portaudio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#ifdef VS32_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif

#include "audio/wav_file.h"

namespace vs32 {
namespace {

// The audio library keeps process-wide state (its initialisation count and
// device list) and is not safe to initialise from two threads at once; every
// call that starts, stops or enumerates it goes through this lock.
std::mutex& LibraryMutex() {
  static std::mutex mutex;
  return mutex;
}

#ifdef VS32_HAVE_ALSA
void SilentAlsaError(const char*, int, const char*, int, const char*, ...) {}
#endif

// Keeps the audio libraries' own diagnostics (probing for sound servers and
// for devices that are not there) off the user's screen. ALSA's go to a
// silent handler; the rest is written straight to standard error, which is
// sent to /dev/null while the library initialises or opens a stream. Set
// VS32_AUDIO_DEBUG to see them. Construct only under LibraryMutex().
class QuietLibrary {
 public:
  QuietLibrary() {
    if (std::getenv("VS32_AUDIO_DEBUG") != nullptr) return;
#ifdef VS32_HAVE_ALSA
    snd_lib_error_set_handler(&SilentAlsaError);
#endif
    std::fflush(stderr);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0) return;
    saved_ = ::fcntl(2, F_DUPFD_CLOEXEC, 3);
    if (saved_ >= 0) ::dup2(null, 2);
    ::close(null);
  }
  ~QuietLibrary() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    ::dup2(saved_, 2);
    ::close(saved_);
  }
  QuietLibrary(const QuietLibrary&) = delete;
  QuietLibrary& operator=(const QuietLibrary&) = delete;

 private:
  int saved_ = -1;
};

// The library's index of input device `index` (see setInputDevice), or
// paNoDevice. The library must be initialised.
PaDeviceIndex FindInputDevice(int index) {
  if (index == SoundDevice::kDefaultDevice) return Pa_GetDefaultInputDevice();
  if (index < 0) return paNoDevice;
  const PaDeviceIndex count = Pa_GetDeviceCount();
  int inputs = 0;
  for (PaDeviceIndex i = 0; i < count; ++i) {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
    if (info == nullptr || info->maxInputChannels <= 0) continue;
    if (inputs++ == index) return i;
  }
  return paNoDevice;
}

int CaptureCallback(const void* input, void* /*output*/, unsigned long frameCount,
                    const PaStreamCallbackTimeInfo* /*timeInfo*/,
                    PaStreamCallbackFlags /*statusFlags*/, void* userData) {
  auto* device = static_cast<SoundDevice*>(userData);
  if (input != nullptr) {
    // The stream was opened with the device's frame layout: bytes per frame
    // = channels × bits / 8, which deliverCaptured knows.
    device->deliverCaptured(input, static_cast<size_t>(frameCount));
  }
  return paContinue;
}

}  // namespace

SoundDevice::SoundDevice(WarningHandler onWarning) : onWarning_(std::move(onWarning)) {}

SoundDevice::~SoundDevice() {
  closeInput();
  closeOutput();
}

std::vector<std::string> SoundDevice::InputDeviceNames() {
  std::vector<std::string> names;
  std::lock_guard<std::mutex> library(LibraryMutex());
  QuietLibrary quiet;
  if (Pa_Initialize() != paNoError) return names;
  const PaDeviceIndex count = Pa_GetDeviceCount();
  for (PaDeviceIndex i = 0; i < count; ++i) {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
    if (info != nullptr && info->maxInputChannels > 0) {
      names.emplace_back(info->name != nullptr ? info->name : "");
    }
  }
  Pa_Terminate();
  return names;
}

bool SoundDevice::ValidInput(const InputFormat& f) {
  if (f.rate < 1 || f.rate > 384000 || (f.bits != 8 && f.bits != 16) || f.channels < 1 ||
      f.channels > 16 || f.frames < 1) {
    return false;
  }
  // All 16 buffers must fit in memory that an int can index.
  const long long bufferBytes = static_cast<long long>(f.frames) * f.channels * (f.bits / 8);
  return bufferBytes * kBufferCount <= (1ll << 30);
}

void SoundDevice::warn(const char* text) {
  if (onWarning_) onWarning_(text, kCaption);
}

bool SoundDevice::openInput(int rate, int bits, int channels, int frames) {
  bool ok;
  {
    std::lock_guard<std::mutex> control(controlMutex_);
    // The old buffers stay in place until new ones replace them, so a reader
    // waiting meanwhile goes on in the new buffers instead of seeing a close.
    stopStreamLocked();
    ok = openInputLocked(InputFormat{rate, bits, channels, frames});
  }
  if (!ok) warn(kInputFailedText);
  return ok;
}

bool SoundDevice::openInputBuffers(int rate, int bits, int channels, int frames) {
  std::lock_guard<std::mutex> control(controlMutex_);
  stopStreamLocked();
  return setUpBuffers(InputFormat{rate, bits, channels, frames});
}

bool SoundDevice::openInputLocked(const InputFormat& f) {
  if (!setUpBuffers(f)) return false;

  std::lock_guard<std::mutex> library(LibraryMutex());
  QuietLibrary quiet;
  if (Pa_Initialize() != paNoError) {
    tearDownBuffers();
    return false;
  }
  portAudioHeld_ = true;
  const PaDeviceIndex device = FindInputDevice(inputDevice_.load());
  const PaDeviceInfo* info = device == paNoDevice ? nullptr : Pa_GetDeviceInfo(device);
  PaStream* stream = nullptr;
  bool ok = info != nullptr && info->maxInputChannels >= f.channels;
  if (ok) {
    PaStreamParameters params{};
    params.device = device;
    params.channelCount = f.channels;
    params.sampleFormat = f.bits == 16 ? paInt16 : paUInt8;
    params.suggestedLatency = info->defaultHighInputLatency;
    ok = Pa_OpenStream(&stream, &params, nullptr, f.rate, paFramesPerBufferUnspecified, paNoFlag,
                       &CaptureCallback, this) == paNoError;
  }
  if (ok && Pa_StartStream(stream) != paNoError) {
    Pa_CloseStream(stream);
    ok = false;
  }
  if (!ok) {
    Pa_Terminate();
    portAudioHeld_ = false;
    tearDownBuffers();
    return false;
  }
  stream_ = stream;
  return true;
}

bool SoundDevice::setUpBuffers(const InputFormat& f) {
  if (!ValidInput(f)) {
    tearDownBuffers();
    return false;
  }
  const int bufferBytes = f.frames * f.channels * (f.bits / 8);
  std::vector<unsigned char> memory;
  try {
    memory.assign(static_cast<size_t>(bufferBytes) * kBufferCount, 0);
  } catch (const std::bad_alloc&) {
    tearDownBuffers();
    return false;  // no memory for the buffers: closed, no message
  }
  std::lock_guard<std::mutex> lock(inputLock_);
  memory_.swap(memory);
  bufferBytes_ = bufferBytes;
  frameBytes_ = f.channels * (f.bits / 8);
  bits_ = f.bits;
  channels_ = f.channels;
  const long long ms = static_cast<long long>(f.frames) * 1000 / f.rate;
  waitStep_ = std::chrono::milliseconds(std::max(1ll, ms));
  filledCount_ = 0;
  for (int i = 0; i < kBufferCount; ++i) deviceQueue_[i] = i;
  deviceHead_ = 0;
  deviceCount_ = kBufferCount;
  fillBuffer_ = -1;
  fillPos_ = 0;
  fillReplaces_ = false;
  currentBuffer_ = -1;  // the first read waits for the first filled buffer
  readPos_ = 0;
  // An open starts a new run of reads; a wake-up meant for the old one is stale.
  wakePending_ = false;
  overrun_.store(false);
  inputRate_.store(f.rate);
  lastDeliveryNs_.store(std::chrono::steady_clock::now().time_since_epoch().count());
  inputOpen_.store(true);
  inputEvent_.notify_all();  // a reader waiting for an input can start
  return true;
}

void SoundDevice::tearDownBuffers() {
  std::vector<unsigned char> memory;
  {
    std::lock_guard<std::mutex> lock(inputLock_);
    if (!inputOpen_.load()) return;
    inputOpen_.store(false);
    inputRate_.store(0);
    memory.swap(memory_);  // released below, outside the lock
    bufferBytes_ = 0;
    filledCount_ = 0;
    deviceCount_ = 0;
    fillBuffer_ = -1;
    currentBuffer_ = -1;
    readPos_ = 0;
    overrun_.store(false);
    inputEvent_.notify_all();  // a waiting reader returns with what it has
  }
}

void SoundDevice::closeInput() {
  std::lock_guard<std::mutex> control(controlMutex_);
  stopStreamLocked();
  tearDownBuffers();
}

void SoundDevice::stopStreamLocked() {
  if (stream_ != nullptr || portAudioHeld_) {
    std::lock_guard<std::mutex> library(LibraryMutex());
    QuietLibrary quiet;
    if (stream_ != nullptr) {
      // Once the stream is closed its callback no longer runs; the input lock
      // is not held here, so a callback waiting for it can finish.
      Pa_AbortStream(stream_);
      Pa_CloseStream(stream_);
      stream_ = nullptr;
    }
    if (portAudioHeld_) {
      Pa_Terminate();
      portAudioHeld_ = false;
    }
  }
}

bool SoundDevice::openOutput(int rate, int bits, int channels, int frames) {
  const InputFormat f{rate, bits, channels, frames};
  if (!ValidInput(f)) {
    closeOutput();
    warn(kOutputFailedText);
    return false;
  }
  outputOpen_.store(true);
  return true;
}

void SoundDevice::closeOutput() {
  outputOpen_.store(false);
}

int SoundDevice::bufferBytes() const {
  std::lock_guard<std::mutex> lock(inputLock_);
  return bufferBytes_;
}

int SoundDevice::waitTimeoutMs() const {
  std::lock_guard<std::mutex> lock(inputLock_);
  return static_cast<int>(waitStep_.count());
}

int SoundDevice::filledCount() const {
  std::lock_guard<std::mutex> lock(inputLock_);
  return filledCount_;
}

void SoundDevice::WakeReader() {
  std::lock_guard<std::mutex> lock(inputLock_);
  wakePending_ = true;
  inputEvent_.notify_all();
}

BlockSource::Read SoundDevice::ReadBlock(float* block, int frames) {
  return read(block, block, frames) == frames ? Read::kBlock : Read::kNone;
}

std::chrono::steady_clock::time_point SoundDevice::lastDelivery() const {
  return std::chrono::steady_clock::time_point(
      std::chrono::steady_clock::duration(lastDeliveryNs_.load(std::memory_order_relaxed)));
}

void SoundDevice::queueFilledLocked(int index, bool replacedNewest) {
  // filledCount_ stays below kBufferCount here: the buffer being filled was
  // never in the queue. The guard keeps the queue in bounds regardless.
  if (filledCount_ >= kBufferCount) {
    filledCount_ = kBufferCount - 1;
    replacedNewest = true;
  }
  overrun_.store(replacedNewest, std::memory_order_relaxed);
  filledQueue_[filledCount_++] = index;
  inputEvent_.notify_all();
}

void SoundDevice::deliverCaptured(const void* data, size_t frames) {
  const auto* in = static_cast<const unsigned char*>(data);
  std::lock_guard<std::mutex> lock(inputLock_);
  if (!inputOpen_.load() || in == nullptr) return;
  lastDeliveryNs_.store(std::chrono::steady_clock::now().time_since_epoch().count(),
                        std::memory_order_relaxed);
  size_t bytes = frames * static_cast<size_t>(frameBytes_);
  while (bytes > 0) {
    if (fillBuffer_ < 0) {
      if (deviceCount_ > 0) {
        fillBuffer_ = deviceQueue_[deviceHead_];
        deviceHead_ = (deviceHead_ + 1) % kBufferCount;
        --deviceCount_;
        fillReplaces_ = false;
      } else if (filledCount_ >= 2) {
        // The reader is 16 buffers behind. Take the newest queued buffer back
        // and fill it again, so the newest second replaces it (never the head,
        // which the reader may be converting from).
        fillBuffer_ = filledQueue_[--filledCount_];
        fillReplaces_ = true;
        overrun_.store(true, std::memory_order_relaxed);
      } else {
        overrun_.store(true, std::memory_order_relaxed);
        return;  // no buffer at all: drop the data
      }
      fillPos_ = 0;
    }
    const size_t room = static_cast<size_t>(bufferBytes_ - fillPos_);
    const size_t n = std::min(room, bytes);
    std::memcpy(memory_.data() + static_cast<size_t>(fillBuffer_) * bufferBytes_ + fillPos_, in, n);
    in += n;
    bytes -= n;
    fillPos_ += static_cast<int>(n);
    if (fillPos_ == bufferBytes_) {
      queueFilledLocked(fillBuffer_, fillReplaces_);
      fillBuffer_ = -1;
    }
  }
}

void SoundDevice::releaseCurrentLocked() {
  // Back to the device, which fills its buffers in the order it got them.
  deviceQueue_[(deviceHead_ + deviceCount_) % kBufferCount] = currentBuffer_;
  ++deviceCount_;
  for (int i = 1; i < filledCount_; ++i) filledQueue_[i - 1] = filledQueue_[i];
  --filledCount_;
  currentBuffer_ = -1;
  readPos_ = 0;
}

int SoundDevice::read(float* left, float* right, int frames) {
  if ((left == nullptr && right == nullptr) || frames <= 0) return 0;
  std::unique_lock<std::mutex> lock(inputLock_);
  if (wakePending_) {
    wakePending_ = false;
    return 0;
  }
  if (!inputOpen_.load()) {
    // Nothing to read from: wait a while (an input may be opened, e.g. after a
    // WAV file) rather than let the caller spin on a stale block.
    inputEvent_.wait_for(lock, kIdleWait, [&] { return inputOpen_.load() || wakePending_; });
    if (!inputOpen_.load() || wakePending_) {
      wakePending_ = false;
      return 0;
    }
  }
  int done = 0;
  while (done < frames) {
    if (currentBuffer_ >= 0 && readPos_ >= bufferBytes_) releaseCurrentLocked();
    while (currentBuffer_ < 0) {
      // A close (or a close and a new open) while waiting leaves currentBuffer_
      // at −1: the reader then returns, or goes on in the new buffers.
      if (wakePending_) {
        wakePending_ = false;
        return done;
      }
      if (!inputOpen_.load()) return done;
      if (filledCount_ > 0) {
        currentBuffer_ = filledQueue_[0];
        readPos_ = 0;
      } else {
        inputEvent_.wait_for(lock, waitStep_);
      }
    }
    const unsigned char* p =
        memory_.data() + static_cast<size_t>(currentBuffer_) * bufferBytes_ + readPos_;
    const int n = std::min((bufferBytes_ - readPos_) / frameBytes_, frames - done);
    for (int i = done; i < done + n; ++i) {
      for (int ch = 0; ch < channels_; ++ch) {
        float v;
        if (bits_ == 16) {
          int16_t s;
          std::memcpy(&s, p, sizeof s);
          v = Pcm16ToFloat(s);
          p += 2;
        } else {
          v = Pcm8ToFloat(*p++);
        }
        if (channels_ == 1) {
          if (left != nullptr) left[i] = v;
          if (right != nullptr) right[i] = v;
        } else if (ch == 0) {
          if (left != nullptr) left[i] = v;
        } else if (ch == 1 && right != nullptr) {
          right[i] = v;
        }
      }
    }
    readPos_ += n * frameBytes_;
    done += n;
  }
  // A used-up buffer goes back to the device at once, so the reader can fall a
  // full 16 buffers behind before seconds are dropped.
  if (currentBuffer_ >= 0 && readPos_ >= bufferBytes_) releaseCurrentLocked();
  return done;
}

}  // namespace vs32
