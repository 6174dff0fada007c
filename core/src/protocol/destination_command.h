// The "destination" command: where a build with the options of a compile
// request would write the project, and which files already there it would
// replace or remove, without writing anything. It is what a dry run tells
// its user besides the manifest.
#ifndef VELKOR_PROTOCOL_DESTINATION_COMMAND_H_
#define VELKOR_PROTOCOL_DESTINATION_COMMAND_H_

#include <string>
#include <string_view>

namespace velkor {

// Answers a "destination" command text, whose members are those of a compile
// request (dry_run and the build output members are read and ignored):
// {"project_dir":DIR,"replace":[PATH,...],"remove":[PATH,...]}, with DIR
// out_dir (default "_out") joined with the crate name, "replace" the paths of
// the project with something at their place in DIR and "remove" the files a
// build would remove there (project/write_project.h), both in path order.
// The checks and their error documents are those of a dry-run compile;
// a request that cannot be read is "bad destination request: ...".
std::string destination_command(std::string_view text);

}  // namespace velkor

#endif  // VELKOR_PROTOCOL_DESTINATION_COMMAND_H_
