#include "build/cargo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>

#include "build/child_process.h"
#include "build/stderr_tail.h"
#include "json/reader.h"
#include "json/value.h"
#include "support/os_error.h"
#include "support/path_join.h"
#include "support/replace_file.h"
#include "support/whole_file.h"

namespace velkor::build {
namespace {

// What cargo reports as built must be a regular file (links followed): a
// directory or a FIFO at the artifact's place is not an artifact, and a
// later artifact_bytes of it would fail or block.
std::expected<void, CompileError> require_built_file(std::string_view what, const std::string& path) {
  struct stat st;
  const int err = ::stat(path.c_str(), &st) == 0 ? 0 : errno;
  if (err == 0 && S_ISREG(st.st_mode)) return {};
  std::string message = "cargo reported success but the ";
  message += what;
  message += ' ';
  message += path;
  if (err == 0) {
    message += " is not a regular file";
  } else if (err == ENOENT || err == ENOTDIR) {
    message += " does not exist";
  } else {
    message += " cannot be examined: ";
    message += os_error_text(err);
  }
  return std::unexpected(build_error(std::move(message)));
}

// cargo builds the wasm module under target/; the answer names pkg/, where
// packaging tools put it. Copying it there keeps the reported path true. The
// copy replaces what is at pkg/ the way project files are replaced, so a
// link there is not written through; and pkg/, below the project directory
// like src/, must be a directory itself, not a link to one, so the module is
// never written outside the project. A copy killed while writing left a
// temporary file there, which goes first.
std::expected<void, CompileError> place_wasm_module(const std::string& module, const std::string& artifact) {
  if (auto present = require_built_file("module", module); !present) return present;
  auto copy_error = [&](std::string_view cause) {
    return std::unexpected(io_error("copying " + module + " to " + artifact + ": " + std::string(cause)));
  };
  const std::string pkg(parent_path(artifact));
  if (::mkdir(pkg.c_str(), 0777) != 0) {
    const int err = errno;
    struct stat st;
    if (err != EEXIST || ::lstat(pkg.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return copy_error(os_error_text(err));
  }
  const std::string_view names[] = {std::string_view(artifact).substr(pkg.size() + 1)};
  remove_abandoned_temporaries(pkg, false, names);
  auto bytes = read_whole_file<std::string>(module);
  if (!bytes) return copy_error(bytes.error());
  if (auto placed = update_file(artifact, *bytes); !placed) return copy_error(placed.error());
  return {};
}

// True when `path` is missing: nothing there, or a folder on the way is not one.
bool missing(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

bool set_in_environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// cargo's target directory for the project, as cargo itself reports it; none
// when it cannot say (cargo fails, or its answer lacks the member).
std::optional<std::string> ask_target_directory(const std::string& project_dir) {
  ChildWatch watch;
  watch.keep_stdout = true;
  auto run = run_child("cargo", {"metadata", "--format-version", "1", "--no-deps", "--offline"}, project_dir,
                       kStderrRawKeep, watch);
  if (!run || !run->succeeded) return std::nullopt;
  auto metadata = json::parse_document(run->stdout_text, json::Reader::Depth::kUnlimited);
  if (!metadata || !metadata->is_object()) return std::nullopt;
  const json::Value* directory = metadata->as_object().find("target_directory");
  if (directory == nullptr || !directory->is_string() || directory->as_string().empty()) return std::nullopt;
  return std::string(directory->as_string());
}

// Colour only where someone watches a terminal, and only when the user has
// not said otherwise through cargo's own setting or the common NO_COLOR.
bool wants_colour() {
  const char* no_colour = std::getenv("NO_COLOR");
  return ::isatty(STDERR_FILENO) == 1 && std::getenv("CARGO_TERM_COLOR") == nullptr &&
         (no_colour == nullptr || *no_colour == '\0');
}

}  // namespace

std::string_view profile_dir(OptLevel level) { return level == OptLevel::kDebug ? "debug" : "release"; }

std::vector<std::string> cargo_build_args(const Target& target, OptLevel level) {
  std::vector<std::string> args = {"build"};
  if (target.kind != TargetKind::kBinary) {
    args.emplace_back("--target");
    args.emplace_back(build_triple(target));
  }
  if (level != OptLevel::kDebug) args.emplace_back("--release");
  return args;
}

std::string artifact_relative_path(const Target& target, OptLevel level, std::string_view crate_name) {
  std::string path;
  switch (target.kind) {
    case TargetKind::kBinary:
      path = "target/";
      path += profile_dir(level);
      path += '/';
      path += crate_name;
      break;
    case TargetKind::kNoStd:
      path = "target/";
      path += target.mcu;
      path += '/';
      path += profile_dir(level);
      path += "/lib";
      path += crate_name;
      path += ".a";
      break;
    case TargetKind::kWasm:
      path = "pkg/";
      path += crate_name;
      path += "_bg.wasm";
      break;
  }
  return path;
}

std::expected<std::string, CompileError> build_project(const Target& target, OptLevel level,
                                                       const std::string& crate_name, const std::string& project_dir,
                                                       LiveOutputRequest live,
                                                       const std::function<bool()>& stop_requested) {
  std::vector<std::string> args = cargo_build_args(target, level);
  ChildWatch watch;
  std::optional<LiveOutput> shown;
  // A host running with standard error closed gets nothing, not even a try.
  if ((live.stream || live.progress) && ::fcntl(STDERR_FILENO, F_GETFD) != -1) {
    if (live.stream && wants_colour()) {
      args.insert(args.begin() + 1, {"--color", "always"});
      watch.plain_tail = true;
    }
    shown.emplace(STDERR_FILENO, live, crate_name);
    watch.on_output = [&shown](std::string_view piece) { shown->output(piece); };
    watch.on_tick = [&shown] { shown->tick(); };
  }
  watch.stop_requested = stop_requested;
  auto run = run_child("cargo", args, project_dir, kStderrRawKeep, watch);
  if (shown) shown->finish();
  if (!run) return std::unexpected(std::move(run.error()));
  if (run->stopped && !run->succeeded) {
    return std::unexpected(
        build_error("interrupted: cargo was stopped; the project in " + project_dir + " is left half-built"));
  }
  if (!run->succeeded) return std::unexpected(build_error(stderr_tail(run->stderr_tail)));

  // What cargo itself writes, below its target directory: the artifact, or
  // for wasm the module that is copied to pkg/.
  const std::string built_relative =
      target.kind == TargetKind::kWasm
          ? "wasm32-unknown-unknown/" + std::string(profile_dir(level)) + "/" + crate_name + ".wasm"
          : artifact_relative_path(target, level, crate_name).substr(std::string_view("target/").size());
  std::string built = join_path(project_dir, "target/" + built_relative);
  // Only a target-dir setting sends cargo elsewhere; without one no second
  // process runs. One in the environment is always asked about: an artifact
  // an earlier build left at the project-relative place would be stale.
  if (set_in_environment("CARGO_TARGET_DIR") || set_in_environment("CARGO_BUILD_TARGET_DIR") || missing(built)) {
    if (auto directory = ask_target_directory(project_dir)) built = join_path(*directory, built_relative);
  }
  if (target.kind != TargetKind::kWasm) {
    if (auto present = require_built_file("artifact", built); !present) {
      return std::unexpected(std::move(present.error()));
    }
    return built;
  }
  std::string artifact = join_path(project_dir, artifact_relative_path(target, level, crate_name));
  if (auto placed = place_wasm_module(built, artifact); !placed) return std::unexpected(std::move(placed.error()));
  if (auto present = require_built_file("artifact", artifact); !present) {
    return std::unexpected(std::move(present.error()));
  }
  return artifact;
}

}  // namespace velkor::build
