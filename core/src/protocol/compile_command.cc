#include "protocol/compile_command.h"

#include "build/cargo.h"
#include "project/generate_project.h"
#include "project/write_project.h"
#include "protocol/response.h"
#include "request/compile_request.h"
#include "velkor/version.h"

namespace velkor {
namespace {

// The manifest, members in their fixed order: compiler_version, target,
// opt_level, crate_name, spec_hash, backtest_dep, files, project_hash.
std::string manifest_json(const project::BuildManifest& manifest) {
  std::string files = "[";
  for (const digest::FileEntry& entry : manifest.files) {
    if (files.size() > 1) files.push_back(',');
    ObjectWriter(files)
        .string("path", entry.path)
        .string("sha256", entry.sha256)
        .unsigned_integer("bytes_len", entry.bytes_len)
        .close();
  }
  files.push_back(']');
  std::string out;
  ObjectWriter(out)
      .string("compiler_version", kVersion)
      .raw("target", target_json(manifest.target))
      .string("opt_level", opt_level_name(manifest.opt_level))
      .string("crate_name", manifest.crate_name)
      .string("spec_hash", manifest.spec_hash)
      .string("backtest_dep", kBacktestDep)
      .raw("files", files)
      .string("project_hash", manifest.project_hash)
      .close();
  return out;
}

}  // namespace

std::string compile_command(CompilerState& state, std::string_view text) {
  auto request = request::read_compile_request(text);
  if (!request) return error_document("bad compile request: " + request.error().text());
  return run_compile(state, *request);
}

std::string run_compile(CompilerState& state, request::CompileRequest& request) {
  CompileSpec& spec = request.spec;

  auto project = project::generate_project(spec);
  if (!project) return error_document(project.error().display());

  std::string answer;
  ObjectWriter response(answer);
  response.raw("target", target_json(spec.target));
  if (request.dry_run) {
    response.raw("manifest", manifest_json(project->manifest)).boolean("built", false).close();
    return answer;
  }

  const std::string out_dir = request.out_dir.value_or(std::string(request::kDefaultOutDir));
  const std::string& crate_name = project->manifest.crate_name;
  if (auto written = project::write_project(out_dir, crate_name, project->files); !written) {
    return error_document(written.error().display());
  }
  const build::LiveOutputRequest live{request.stream_build_output, request.build_progress};
  auto artifact =
      build::build_project(spec.target, spec.opt_level, crate_name, project::project_dir(out_dir, crate_name), live);
  if (!artifact) return error_document(artifact.error().display());

  response.string("path", *artifact).raw("manifest", manifest_json(project->manifest)).boolean("built", true).close();
  state.last_artifact = std::move(*artifact);
  return answer;
}

}  // namespace velkor
