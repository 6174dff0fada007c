// SHA-256 digests fed on a worker thread, so that one command uses two cores
// on a large text: the caller makes the text while the worker hashes it.
#ifndef VELKOR_DIGEST_BACKGROUND_DIGEST_H_
#define VELKOR_DIGEST_BACKGROUND_DIGEST_H_

#include <array>
#include <cstddef>
#include <semaphore>
#include <span>
#include <string>
#include <string_view>
#include <thread>

#include "digest/sha256.h"

namespace velkor::digest {

// Hands the pieces given to update() to each of `digests` (the caller's
// list, which must outlive this object), in order, on a worker thread.
// The thread starts once `threaded_from` bytes were hashed in place (below
// that, starting and joining a thread costs more than it saves); when it
// cannot be started, every piece is hashed in place.
// join() waits until every piece is hashed and ends the thread; the digests
// are then the caller's alone again, and the next piece starts over in place.
// The destructor joins, so no thread outlives the object on any path.
//
// The pieces travel through a ring of kSlots copies guarded by two
// semaphores (free slots, filled slots): the caller runs at most kSlots
// pieces ahead, and neither side makes a system call unless it has to wait.
// (Semaphores rather than a condition variable: libstdc++ implements them in
// its headers, while its condition variable's wait is a newer library symbol
// than the oldest systems the wheel supports provide.)
class BackgroundDigest {
 public:
  static constexpr std::size_t kThreadedFrom = 1 << 20;

  explicit BackgroundDigest(std::span<Sha256* const> digests, std::size_t threaded_from = kThreadedFrom)
      : digests_(digests), threaded_from_(threaded_from) {}
  ~BackgroundDigest() { join(); }
  BackgroundDigest(const BackgroundDigest&) = delete;
  BackgroundDigest& operator=(const BackgroundDigest&) = delete;

  // Copies the piece for the worker, so the caller may reuse its buffer at once.
  void update(std::string_view piece);
  void join();

 private:
  static constexpr std::ptrdiff_t kSlots = 4;
  // A piece handed to the worker, or the mark that no more follow.
  struct Slot {
    std::string piece;
    bool last = false;
  };

  void hand_over(std::string_view piece, bool last);
  void run();

  std::span<Sha256* const> digests_;
  std::thread worker_;
  std::array<Slot, kSlots> slots_;
  std::size_t next_in_ = 0;  // the slot the caller fills next
  std::counting_semaphore<kSlots> free_{kSlots};
  std::counting_semaphore<kSlots> filled_{0};
  std::size_t threaded_from_;
  std::size_t hashed_in_place_ = 0;
  bool in_place_ = false;  // the thread could not be started
};

}  // namespace velkor::digest

#endif  // VELKOR_DIGEST_BACKGROUND_DIGEST_H_
