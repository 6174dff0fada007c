// Building a written project with cargo and locating the artifact.
#ifndef VELKOR_BUILD_CARGO_H_
#define VELKOR_BUILD_CARGO_H_

#include <expected>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "build/live_output.h"
#include "request/compile_spec.h"
#include "support/compile_error.h"

namespace velkor::build {

// cargo's profile directory: "debug" for debug, "release" for release and size.
std::string_view profile_dir(OptLevel level);

// The arguments after "cargo": "build", then "--target" and the triple for
// wasm and no_std, then "--release" unless the level is debug.
std::vector<std::string> cargo_build_args(const Target& target, OptLevel level);

// Where the artifact lies, relative to the project directory:
// "target/{profile}/{crate}" for a binary, "target/{mcu}/{profile}/lib{crate}.a"
// for no_std, "pkg/{crate}_bg.wasm" for wasm.
std::string artifact_relative_path(const Target& target, OptLevel level, std::string_view crate_name);

// Runs `cargo` (found on PATH, environment inherited) with cargo_build_args in
// `project_dir` and returns the artifact path.
//
// The artifact is where cargo put it: project_dir joined with
// artifact_relative_path, unless cargo was told to use another target
// directory (CARGO_TARGET_DIR, CARGO_BUILD_TARGET_DIR, or `build.target-dir`
// in a cargo configuration). When the environment names one, or when the
// file is not at its project-relative place, cargo is asked where its
// target directory is (`cargo metadata --format-version 1 --no-deps
// --offline`, in the project directory, environment inherited) and the
// artifact is looked for there: "{target dir}/{profile}/{crate}" and so on,
// the path cargo reports, absolute. Otherwise no second process runs. When
// that question fails, the project-relative path is the answer, as before.
//
// For wasm, cargo leaves the module at
// {target dir}/wasm32-unknown-unknown/{profile}/{crate}.wasm; it is copied to
// pkg/{crate}_bg.wasm below the project directory (creating pkg/) so the
// returned path names a real file. The copy replaces what was there as one
// step (support/replace_file.h; a module with the same bytes is left as it
// is): a link at pkg/{crate}_bg.wasm is replaced, not written through, and
// pkg/ must be a directory, not a link to one ("File exists (os error 17)").
// Temporary files a copy killed while writing left in pkg/ are removed.
// After any successful build the artifact (and for wasm the module) must be a
// regular file, links followed, or the build fails.
//
// `live` asks for output on the process's standard error while cargo runs
// (build/live_output.h); by default nothing is written. When cargo's output
// is streamed to a terminal, cargo is asked for colour ("--color always"
// after "build") unless CARGO_TERM_COLOR or NO_COLOR already says what the
// user wants; the kept error text then has the colour escapes removed, so
// the answer is the one a build without streaming gives.
//
// cargo runs in a process group of its own (build/child_process.h).
// `stop_requested`, when given, is asked about every 100 ms while cargo
// builds; true ends cargo and everything it started (SIGTERM to its group,
// SIGKILL within half a second) and the build fails with
// "interrupted: cargo was stopped; the project in {project_dir} is left half-built",
// unless cargo had already finished successfully, which then counts.
//
// Errors, all kind Build except a failed copy (Io):
//   "spawning cargo: {cause}"             cargo could not be started
//   the tail of cargo's standard error    cargo did not exit with code 0
//   "waiting for cargo: {cause}"          its exit status could not be collected
//   "interrupted: cargo was stopped; ..." stop_requested said stop
//   "cargo reported success but the artifact {path} does not exist"
//   "cargo reported success but the artifact {path} is not a regular file"
//   "cargo reported success but the artifact {path} cannot be examined: {cause}"
//   the same three with "the module {path}" (wasm)
//   "copying {from} to {to}: {cause}"     (Io)
std::expected<std::string, CompileError> build_project(const Target& target, OptLevel level,
                                                       const std::string& crate_name, const std::string& project_dir,
                                                       LiveOutputRequest live = {},
                                                       const std::function<bool()>& stop_requested = {});

}  // namespace velkor::build

#endif  // VELKOR_BUILD_CARGO_H_
