#include "protocol/compile_command.h"

#include "build/cargo.h"
#include "project/generate_project.h"
#include "project/write_project.h"
#include "protocol/response.h"
#include "request/compile_request.h"
#include "velkor/version.h"

namespace velkor {
namespace {

// Appends the manifest, members in their fixed order: compiler_version,
// target, opt_level, crate_name, spec_hash, backtest_dep, files, project_hash.
void append_manifest(std::string& out, const project::BuildManifest& manifest) {
  ObjectWriter writer(out);
  writer.unescaped_string("compiler_version", kVersion);
  append_target_json(writer.member("target"), manifest.target);
  writer.unescaped_string("opt_level", opt_level_name(manifest.opt_level))
      .string("crate_name", manifest.crate_name)
      .unescaped_string("spec_hash", manifest.spec_hash)
      .unescaped_string("backtest_dep", kBacktestDep);
  std::string& files = writer.member("files");
  files.push_back('[');
  for (const digest::FileEntry& entry : manifest.files) {
    if (&entry != &manifest.files.front()) files.push_back(',');
    // The paths are the generated project's, fixed in the code, and digest
    // texts are hex digits: neither needs an escape.
    ObjectWriter(files)
        .unescaped_string("path", entry.path)
        .unescaped_string("sha256", entry.sha256)
        .unsigned_integer("bytes_len", entry.bytes_len)
        .close();
  }
  files.push_back(']');
  writer.unescaped_string("project_hash", manifest.project_hash).close();
}

// Room for the answer with its manifest in one allocation: a manifest entry
// is a path, a digest and a length with their keys.
std::size_t answer_capacity(const project::BuildManifest& manifest) {
  return 512 + manifest.crate_name.size() + manifest.files.size() * 160;
}

}  // namespace

std::string compile_command(CompilerState& state, std::string_view text, const CommandHooks& hooks) {
  project::StreamedCandles candles;
  auto request = request::read_compile_request(text, request::CmdMember::kSkipped, &candles);
  if (!request) return error_document("bad compile request: " + request.error().text());
  return run_compile(state, *request, &candles, hooks);
}

std::string run_compile(CompilerState& state, request::CompileRequest& request, project::StreamedCandles* candles,
                        const CommandHooks& hooks) {
  CompileSpec& spec = request.spec;

  // A dry run only hashes the data file: it is never held whole.
  const auto data_file = request.dry_run ? project::DataFile::kLeftOut : project::DataFile::kHeld;
  auto project = project::generate_project(spec, candles, data_file);
  if (!project) return error_document(project.error().display());

  std::string answer;
  answer.reserve(answer_capacity(project->manifest));
  ObjectWriter response(answer);
  append_target_json(response.member("target"), spec.target);
  if (request.dry_run) {
    append_manifest(response.member("manifest"), project->manifest);
    response.boolean("built", false).close();
    return answer;
  }

  const std::string out_dir = request.out_dir.value_or(std::string(request::kDefaultOutDir));
  const std::string& crate_name = project->manifest.crate_name;
  if (auto written = project::write_project(out_dir, crate_name, project->files); !written) {
    return error_document(written.error().display());
  }
  const std::string project_dir = project::project_dir(out_dir, crate_name);
  if (hooks.stop_requested && hooks.stop_requested()) {
    return error_document(
        build_error("stopped before cargo started: the project in " + project_dir + " is written, nothing was built")
            .display());
  }
  const build::LiveOutputRequest live{request.stream_build_output, request.build_progress};
  auto artifact =
      build::build_project(spec.target, spec.opt_level, crate_name, project_dir, live, hooks.stop_requested);
  if (!artifact) return error_document(artifact.error().display());

  response.string("path", *artifact);
  append_manifest(response.member("manifest"), project->manifest);
  response.boolean("built", true).close();
  state.last_artifact = std::move(*artifact);
  return answer;
}

}  // namespace velkor
