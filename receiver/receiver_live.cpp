// The receiver's live runs: the worker thread. Left out of builds without a
// sound card, which keep the batch path.
#include "audio/sound_device.h"
#include "audio/wav_file.h"
#include "engine/receive_worker.h"
#include "receiver/receiver.h"

namespace vs32 {

void Receiver::AttachSound(SoundDevice& sound) {
  if (worker_) return;
  wav_ = std::make_unique<WavFile>();
  worker_ = decltype(worker_)(new ReceiveWorker(*chain_, sound, *wav_, events_),
                              [](ReceiveWorker* worker) { delete worker; });
  if (clock_) worker_->setClock(clock_);
}

void Receiver::Start(BlockSource* live) {
  if (!worker_ || worker_->running()) return;
  live_ = live;
  worker_->SetLiveSource(live);
  worker_->Start();
}

void Receiver::Stop(bool reportPending) {
  if (!worker_ || !worker_->running()) return;
  worker_->Stop();
  if (!reportPending) return;
  // The next run starts with an empty slot table, and closing ends them all:
  // decodes still waiting to go quiet are final now, so they are reported.
  results_->Flush(Now());
}

void Receiver::Restart() {
  Stop();
  Start(live_);
}

bool Receiver::StartWav(const std::string& path, std::string* error) {
  return worker_ && worker_->StartWav(path, error);
}

}  // namespace vs32
