// The whole command path, dispatch_command, on arbitrary text. Every input is
// applied twice to one fresh state (so that state changes such as handle
// numbering and reset are exercised), and every answer must be one compact
// JSON object on one line: an error document is exactly {"ok":false,"error":"..."}.
//
// Containment. A command may read any file it names (artifact_bytes, a csv
// dataset), write a project below any out_dir and start cargo. The harness
// keeps all of that inside a scratch directory:
// - it runs with its working directory in a fresh scratch directory, emptied
//   before each input, holding only two small files ("a" and "c.csv") that
//   commands may name;
// - PATH names an empty directory, so cargo is never found (an empty PATH
//   would not do: the C library then searches /bin and /usr/bin);
// - it skips any input that could name a path outside the scratch directory:
//   one holding "/" (which also covers the "\/" escape), a \u002X escape
//   (which could spell "/" or "."), or "..". What remains can only name
//   relative paths below the working directory, so reads of devices or FIFOs
//   (which could block or never end) and writes elsewhere are impossible.
// Rewriting requests to force dry_run would not be sound: the reader decides
// what a text means (escapes, repeated members, the positional form), and a
// harness that second-guesses it could miss a request that still builds.
// Reproducing a finding: build/fuzz/fuzz/dispatch_fuzz /absolute/path/to/input
// (an absolute path, since the harness changes directory before reading it).
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "json/reader.h"
#include "velkor/compiler.h"

namespace {

namespace fs = std::filesystem;
using velkor::fuzz::check;
using velkor::fuzz::fail;

fs::path scratch;

bool may_escape_the_scratch_directory(std::string_view text) {
  return text.find('/') != std::string_view::npos || text.find("\\u002") != std::string_view::npos ||
         text.find("..") != std::string_view::npos;
}

void write_file(const char* name, std::string_view content) {
  std::ofstream out(name, std::ios::binary);
  out << content;
}

void reset_scratch() {
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(scratch)) fs::remove_all(entry.path(), ignored);
  write_file("a", "artifact bytes\n");
  write_file("c.csv", "t,o,h,l,c,v\n1,1,2,0.5,1.5,10\n");
}

void check_answer(std::string_view input, const std::string& answer) {
  check(answer.find('\n') == std::string::npos, "an answer is one line", answer);
  auto doc = velkor::json::parse_document(answer, velkor::json::Reader::Depth::kUnlimited);
  if (!doc) fail("an answer is one JSON document", answer);
  check(doc->is_object(), "an answer is an object", answer);
  const auto& members = doc->as_object().members();
  const velkor::json::Value* ok = doc->as_object().find("ok");
  if (ok == nullptr) return;
  check(ok->is_bool(), "ok is a boolean", answer);
  if (ok->as_bool()) {
    check(answer == R"({"ok":true})", "only reset answers ok:true", answer);
    return;
  }
  check(members.size() == 2 && members[0].key == "ok" && members[1].key == "error" &&
            members[1].value.is_string(),
        "an error document is {ok:false,error:string}", answer);
  (void)input;
}

void check_state(const velkor::CompilerState& state) {
  for (const auto& [handle, bytes] : state.artifact_cache) {
    check(handle < state.next_handle, "every cached handle is below next_handle");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char scratch_template[] = "/tmp/velkor-dispatch-fuzz-XXXXXX";
  if (::mkdtemp(scratch_template) == nullptr) fail("creating the scratch directory");
  scratch = scratch_template;
  fs::create_directory(scratch / "empty-path");
  fs::create_directory(scratch / "work");
  ::setenv("PATH", (scratch / "empty-path").c_str(), 1);
  scratch /= "work";
  fs::current_path(scratch);
  std::atexit([] { std::error_code ignored; fs::remove_all(scratch.parent_path(), ignored); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (may_escape_the_scratch_directory(text)) return -1;  // -1: not added to the corpus
  reset_scratch();

  velkor::CompilerState state;
  for (int round = 0; round < 2; ++round) {
    const std::string answer = velkor::dispatch_command(state, text);
    check_answer(text, answer);
    check_state(state);
  }
  return 0;
}
