// The "canonical" command: the strategy's canonical text that a compile with
// the options of a compile request would embed, and the spec hash of those
// options, without writing anything. Tools that show a document as a build
// embeds it ask this rather than writing the canonical text themselves.
#ifndef VELKOR_PROTOCOL_CANONICAL_COMMAND_H_
#define VELKOR_PROTOCOL_CANONICAL_COMMAND_H_

#include <string>
#include <string_view>

namespace velkor {

// Answers a "canonical" command text, whose members are those of a compile
// request (dry_run and the build output members are read and ignored):
// {"spec_hash":H,"canonical":TEXT}, with TEXT, as a JSON string, the bytes a
// compile writes into the project's src/spec.json and H the spec_hash of its
// manifest. The checks and their error documents are those of a dry-run
// compile; a request that cannot be read is "bad canonical request: ...".
std::string canonical_command(std::string_view text);

}  // namespace velkor

#endif  // VELKOR_PROTOCOL_CANONICAL_COMMAND_H_
