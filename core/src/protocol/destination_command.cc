#include "protocol/destination_command.h"

#include <span>
#include <vector>

#include "project/generate_project.h"
#include "project/streamed_candles.h"
#include "project/write_project.h"
#include "protocol/response.h"
#include "request/compile_request.h"

namespace velkor {
namespace {

// The paths are the generated project's, fixed in the code: no escapes.
std::string path_list(std::span<const std::string> paths) {
  std::string list = "[";
  for (const std::string& path : paths) {
    if (list.size() > 1) list.push_back(',');
    list.push_back('"');
    list += path;
    list.push_back('"');
  }
  list.push_back(']');
  return list;
}

}  // namespace

std::string destination_command(std::string_view text) {
  project::StreamedCandles candles;
  auto request = request::read_destination_request(text, &candles);
  if (!request) return error_document("bad destination request: " + request.error().text());
  // As a dry run: the data file is only hashed, never held.
  auto project = project::generate_project(request->spec, &candles, project::DataFile::kLeftOut);
  if (!project) return error_document(project.error().display());

  const std::string out_dir = request->out_dir.value_or(std::string(request::kDefaultOutDir));
  const std::string dir = project::project_dir(out_dir, project->manifest.crate_name);
  std::vector<std::string_view> paths;
  for (const digest::FileEntry& entry : project->manifest.files) paths.push_back(entry.path);
  const project::ProjectChanges changes = project::planned_changes(dir, paths);

  std::string answer;
  ObjectWriter(answer)
      .string("project_dir", dir)
      .raw("replace", path_list(changes.replaced))
      .raw("remove", path_list(changes.removed))
      .close();
  return answer;
}

}  // namespace velkor
