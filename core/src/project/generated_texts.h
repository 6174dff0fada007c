// Recognising the files this compiler generated, so that a project compiled
// for another target or data kind loses what an earlier compile generated and
// nothing else: the texts it writes, or an earlier version wrote, at the paths
// a new file set may lack.
#ifndef VELKOR_PROJECT_GENERATED_TEXTS_H_
#define VELKOR_PROJECT_GENERATED_TEXTS_H_

#include <cstddef>
#include <span>
#include <string_view>

namespace velkor::project {

// The paths whose file a build removes when the new set lacks them and the
// file holds a generated text (is_generated_text), in byte order:
// .cargo/config.toml, src/lib.rs and src/main.rs. Data files (src/candles.csv, src/candles.json) are never
// removed; Cargo.toml and src/spec.json are in every set.
std::span<const std::string_view> removable_paths();

// Whether `content` is byte for byte a text this compiler generates at
// `relative` for some target (the target kinds' source files;
// .cargo/config.toml for the wasm triple and every allowlisted MCU) or one
// that an earlier version generated there (earlier_generated_texts).
bool is_generated_text(std::string_view relative, std::string_view content);

// The length of the longest text is_generated_text accepts: a longer file is
// the user's without being read.
std::size_t longest_generated_text();

struct EarlierText {
  std::string_view path;
  std::string_view text;
};

// Texts that earlier versions generated and the current templates may no
// longer hold. They are never edited: a project such a version wrote keeps
// being recognised after the templates change.
std::span<const EarlierText> earlier_generated_texts();

}  // namespace velkor::project

#endif  // VELKOR_PROJECT_GENERATED_TEXTS_H_
