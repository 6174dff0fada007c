#include "digest/background_digest.h"

#include <system_error>

namespace velkor::digest {

void BackgroundDigest::update(std::string_view piece) {
  if (!worker_.joinable() && !in_place_ && hashed_in_place_ >= threaded_from_) {
    try {
      worker_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
      in_place_ = true;  // no thread to be had: the caller hashes
    }
  }
  if (!worker_.joinable()) {
    for (Sha256* sha : digests_) sha->update(piece);
    hashed_in_place_ += piece.size();
    return;
  }
  hand_over(piece, false);
}

void BackgroundDigest::join() {
  hashed_in_place_ = 0;
  in_place_ = false;
  if (!worker_.joinable()) return;
  hand_over({}, true);
  worker_.join();
  next_in_ = 0;  // a later thread starts at the first slot
}

void BackgroundDigest::hand_over(std::string_view piece, bool last) {
  free_.acquire();
  Slot& slot = slots_[next_in_];
  try {
    slot.piece.assign(piece);
  } catch (...) {
    // The slot stays free: the next hand-over (the end mark, at the latest)
    // takes it instead, and join() does not wait for a slot never given back.
    free_.release();
    throw;
  }
  slot.last = last;
  next_in_ = (next_in_ + 1) % kSlots;
  filled_.release();
}

void BackgroundDigest::run() {
  for (std::size_t next_out = 0;; next_out = (next_out + 1) % kSlots) {
    filled_.acquire();
    const Slot& slot = slots_[next_out];
    const bool last = slot.last;
    if (!last) {
      for (Sha256* sha : digests_) sha->update(slot.piece);
    }
    free_.release();
    if (last) return;
  }
}

}  // namespace velkor::digest
