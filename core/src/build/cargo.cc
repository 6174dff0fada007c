#include "build/cargo.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "build/child_process.h"
#include "build/stderr_tail.h"
#include "project/path_join.h"
#include "support/os_error.h"

namespace velkor::build {
namespace {

// 0 when `path` exists, else the errno of the look-up.
int stat_errno(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? 0 : errno;
}

std::expected<void, CompileError> missing_after_success(std::string_view what, const std::string& path) {
  int err = stat_errno(path);
  if (err == 0) return {};
  std::string message = "cargo reported success but the ";
  message += what;
  message += ' ';
  message += path;
  if (err == ENOENT || err == ENOTDIR) {
    message += " does not exist";
  } else {
    message += " cannot be examined: ";
    message += os_error_text(err);
  }
  return std::unexpected(build_error(std::move(message)));
}

// cargo builds the wasm module under target/; the answer names pkg/, where
// packaging tools put it. Copying it there keeps the reported path true.
std::expected<void, CompileError> place_wasm_module(OptLevel level, const std::string& crate_name,
                                                    const std::string& project_dir, const std::string& artifact) {
  std::string module = project::join_path(
      project_dir, "target/wasm32-unknown-unknown/" + std::string(profile_dir(level)) + "/" + crate_name + ".wasm");
  if (auto present = missing_after_success("module", module); !present) return present;
  std::error_code ec;
  std::filesystem::create_directories(project::join_path(project_dir, "pkg"), ec);
  if (!ec) std::filesystem::copy_file(module, artifact, std::filesystem::copy_options::overwrite_existing, ec);
  if (ec) return std::unexpected(io_error("copying " + module + " to " + artifact + ": " + os_error_text(ec.value())));
  return {};
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
                                                       const std::string& crate_name, const std::string& project_dir) {
  auto run = run_child("cargo", cargo_build_args(target, level), project_dir, kStderrRawKeep);
  if (!run) {
    const char* step = run.error().stage == ChildFault::Stage::kSpawn ? "spawning cargo: " : "waiting for cargo: ";
    return std::unexpected(build_error(step + run.error().cause));
  }
  if (!run->succeeded) return std::unexpected(build_error(stderr_tail(run->stderr_tail)));

  std::string artifact = project::join_path(project_dir, artifact_relative_path(target, level, crate_name));
  if (target.kind == TargetKind::kWasm) {
    if (auto placed = place_wasm_module(level, crate_name, project_dir, artifact); !placed) {
      return std::unexpected(std::move(placed.error()));
    }
  }
  if (auto present = missing_after_success("artifact", artifact); !present) {
    return std::unexpected(std::move(present.error()));
  }
  return artifact;
}

}  // namespace velkor::build
