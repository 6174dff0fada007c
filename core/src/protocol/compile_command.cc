#include "protocol/compile_command.h"

#include "build/cargo.h"
#include "project/generate_project.h"
#include "project/write_project.h"
#include "protocol/response.h"
#include "request/compile_request.h"

namespace velkor {

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
    response.raw("manifest", project->manifest_json).boolean("built", false).close();
    return answer;
  }

  const std::string out_dir = request.out_dir.value_or(std::string(request::kDefaultOutDir));
  if (auto written = project::write_project(out_dir, project->crate_name, project->files); !written) {
    return error_document(written.error().display());
  }
  auto artifact = build::build_project(spec.target, spec.opt_level, project->crate_name,
                                       project::project_dir(out_dir, project->crate_name));
  if (!artifact) return error_document(artifact.error().display());

  response.string("path", *artifact).raw("manifest", project->manifest_json).boolean("built", true).close();
  state.last_artifact = std::move(*artifact);
  return answer;
}

}  // namespace velkor
