// The command envelope: the `cmd` member every command document carries.
#ifndef VELKOR_REQUEST_ENVELOPE_H_
#define VELKOR_REQUEST_ENVELOPE_H_

#include <optional>
#include <string>
#include <string_view>

namespace velkor::request {

// The `cmd` of a command document: a JSON object with a string member "cmd"
// (other members are checked as JSON, at any depth, and skipped), or a
// one-element array holding that string. Anything else, a repeated "cmd" or
// text after the value gives nullopt; why is never shown to the user.
std::optional<std::string> read_envelope(std::string_view text);

// Whether the text is an object whose first member is "cmd" with the string
// value `name`. Says nothing about the rest of the text.
bool leads_with_cmd(std::string_view text, std::string_view name);

}  // namespace velkor::request

#endif  // VELKOR_REQUEST_ENVELOPE_H_
