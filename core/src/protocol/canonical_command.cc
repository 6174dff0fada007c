#include "protocol/canonical_command.h"

#include "project/file_set.h"
#include "project/generate_project.h"
#include "project/streamed_candles.h"
#include "protocol/response.h"
#include "request/compile_request.h"

namespace velkor {

std::string canonical_command(std::string_view text) {
  project::StreamedCandles candles;
  auto request = request::read_canonical_request(text, &candles);
  if (!request) return error_document("bad canonical request: " + request.error().text());
  // As a dry run: the data file is only hashed, never held.
  auto project = project::generate_project(request->spec, &candles, project::DataFile::kLeftOut);
  if (!project) return error_document(project.error().display());

  const std::string& spec_json = project->files.at(std::string(project::kSpecPath));
  std::string answer;
  answer.reserve(spec_json.size() + spec_json.size() / 8 + 128);
  ObjectWriter(answer)
      .unescaped_string("spec_hash", project->manifest.spec_hash)
      .string("canonical", spec_json)
      .close();
  return answer;
}

}  // namespace velkor
