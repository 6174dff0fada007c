// The "compile" request: compile options plus where (and whether) to build.
#ifndef VELKOR_REQUEST_COMPILE_REQUEST_H_
#define VELKOR_REQUEST_COMPILE_REQUEST_H_

#include <optional>
#include <string>
#include <string_view>

#include "json/reader.h"
#include "request/compile_spec.h"

namespace velkor::request {

inline constexpr std::string_view kDefaultOutDir = "_out";

// Takes the canonical text of inline candles piece by piece while the request
// is read, so that a request that only hashes them never holds them.
class CandlesStream {
 public:
  virtual ~CandlesStream() = default;
  // Called before an embed_data value is read, with the crate name read so
  // far (the spec hash text puts it before the candles).
  virtual void begin(const std::optional<std::string>& crate_name) = 0;
  virtual void write(std::string_view piece) = 0;
};

struct CompileRequest {
  CompileSpec spec;
  bool dry_run = false;
  std::optional<std::string> out_dir;  // absent or null: kDefaultOutDir
  // What the build shows on the process's standard error while cargo runs;
  // nothing unless asked, so that a host embedding the module gets no output.
  bool stream_build_output = false;  // cargo's own output, teed live
  bool build_progress = false;       // one line updated in place once a second
};

// How the top-level "cmd" member is treated: skipped like any unknown member,
// or read as an optional field, so that a repeated "cmd" is a fault. The
// second serves a reading that must also vouch for the envelope.
enum class CmdMember { kSkipped, kField };

// Reads the request members beside "cmd" in the whole command text. With
// `candles`, inline candles go through it (DatasetRef::streamed_candles);
// without, their canonical text is kept in DatasetRef::candles_json.
json::ReadResult<CompileRequest> read_compile_request(std::string_view text, CmdMember cmd = CmdMember::kSkipped,
                                                      CandlesStream* candles = nullptr);

// Reads an "embed_data" value (record DatasetRef) as a compile request does,
// inline candles kept as canonical text.
json::ReadResult<DatasetRef> read_dataset(json::Reader& reader);

// Reads a "destination" request: the members of a compile request, read as
// read_compile_request reads them ("cmd" skipped), as the record
// DestinationReq (so that a fault reads "expected struct DestinationReq").
json::ReadResult<CompileRequest> read_destination_request(std::string_view text, CandlesStream* candles = nullptr);

// Reads a "canonical" request as read_destination_request reads a
// "destination" one, as the record CanonicalReq.
json::ReadResult<CompileRequest> read_canonical_request(std::string_view text, CandlesStream* candles = nullptr);

}  // namespace velkor::request

#endif  // VELKOR_REQUEST_COMPILE_REQUEST_H_
