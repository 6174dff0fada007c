#include "request/compile_request.h"

#include <array>

#include "request/record.h"

namespace velkor::request {

using json::Reader;
using json::ReadResult;

namespace {

constexpr std::array<std::string_view, 2> kDatasetKinds = {"csv", "inline"};
// The members any variant reads besides "kind"; the others are skipped unread.
constexpr std::array<std::string_view, 1> kTargetFields = {"mcu"};
constexpr std::array<std::string_view, 2> kDatasetFields = {"path", "candles"};

bool is_string(const BufferedValue& v) { return !v.canonical_array && v.value.is_string(); }
bool is_array(const BufferedValue& v) { return v.canonical_array || v.value.is_array(); }

ReadResult<Target> read_target(Reader& reader) {
  auto choice = read_buffered_choice(reader, "kind", "internally tagged enum Target", kTargetKindNames, kTargetFields);
  if (!choice) return std::unexpected(choice.error());
  Target target;
  target.kind = static_cast<TargetKind>(choice->variant);
  if (target.kind != TargetKind::kNoStd) {
    if (auto unit = check_unit_variant(*choice); !unit) return std::unexpected(unit.error());
    return target;
  }
  auto mcu = take_variant_field(*choice, "Target::NoStd", "mcu", is_string, "a string");
  if (!mcu) return std::unexpected(mcu.error());
  target.mcu = (*mcu)->value.as_string();
  return target;
}

ReadResult<DatasetRef> read_dataset(Reader& reader, CandlesStream* stream) {
  // Inline candles are needed only as canonical text: read them straight into it.
  const TextSink to_stream = [stream](std::string_view piece) { stream->write(piece); };
  const CanonicalArray candles_as_text{"candles", static_cast<std::size_t>(DatasetRef::Kind::kInline),
                                       stream != nullptr ? &to_stream : nullptr};
  auto choice = read_buffered_choice(reader, "kind", "internally tagged enum DatasetRef", kDatasetKinds,
                                     kDatasetFields, candles_as_text);
  if (!choice) return std::unexpected(choice.error());
  DatasetRef data;
  data.kind = static_cast<DatasetRef::Kind>(choice->variant);
  if (data.kind == DatasetRef::Kind::kCsv) {
    auto path = take_variant_field(*choice, "DatasetRef::Csv", "path", is_string, "a string");
    if (!path) return std::unexpected(path.error());
    data.path = (*path)->value.as_string();
    return data;
  }
  auto candles = take_variant_field(*choice, "DatasetRef::Inline", "candles", is_array, "a sequence");
  if (!candles) return std::unexpected(candles.error());
  data.candles_json = std::move(*(*candles)->canonical_array);
  if (stream != nullptr) data.streamed_candles = (*candles)->streamed_source;
  return data;
}

}  // namespace

ReadResult<DatasetRef> read_dataset(Reader& reader) { return read_dataset(reader, nullptr); }

namespace {

// null or a string
ReadResult<std::optional<std::string>> read_optional_string(Reader& reader) {
  if (reader.peek_after_whitespace() == 'n') {
    reader.eat();
    if (auto r = reader.parse_ident("ull"); !r) return std::unexpected(r.error());
    return std::nullopt;
  }
  auto s = reader.read_string();
  if (!s) return std::unexpected(s.error());
  return std::optional<std::string>(std::move(*s));
}

ReadResult<void> read_flag(Reader& reader, bool& flag) {
  auto b = reader.read_bool();
  if (!b) return std::unexpected(b.error());
  flag = *b;
  return {};
}

ReadResult<void> read_compile_spec(Reader& reader, CompileSpec& spec, CandlesStream* candles) {
  const TextField fields[] = {
      {"strategy", true,
       [&](Reader& r) -> ReadResult<void> {
         auto v = r.read_value();
         if (!v) return std::unexpected(v.error());
         spec.strategy = std::move(*v);
         return {};
       }},
      {"target", true,
       [&](Reader& r) -> ReadResult<void> {
         auto t = read_target(r);
         if (!t) return std::unexpected(t.error());
         spec.target = std::move(*t);
         return {};
       }},
      {"opt_level", false,
       [&](Reader& r) -> ReadResult<void> {
         auto level = read_unit_choice(r, kOptLevelNames);
         if (!level) return std::unexpected(level.error());
         spec.opt_level = static_cast<OptLevel>(*level);
         return {};
       }},
      {"embed_data", false,
       [&](Reader& r) -> ReadResult<void> {
         if (r.peek_after_whitespace() == 'n') {
           r.eat();
           spec.embed_data.reset();
           return r.parse_ident("ull");
         }
         if (candles != nullptr) candles->begin(spec.crate_name);
         auto data = read_dataset(r, candles);
         if (!data) return std::unexpected(data.error());
         spec.embed_data = std::move(*data);
         return {};
       }},
      {"crate_name", false,
       [&](Reader& r) -> ReadResult<void> {
         auto name = read_optional_string(r);
         if (!name) return std::unexpected(name.error());
         spec.crate_name = std::move(*name);
         return {};
       }},
  };
  return read_text_record(reader, "CompileSpec", fields);
}

// The members of a compile request, read as the record `record`.
ReadResult<CompileRequest> read_request_members(std::string_view text, std::string_view record_name, CmdMember cmd,
                                                CandlesStream* candles) {
  Reader reader(text);
  CompileRequest request;
  const TextField fields[] = {
      {"spec", true, [&](Reader& r) { return read_compile_spec(r, request.spec, candles); }},
      {"dry_run", false, [&](Reader& r) { return read_flag(r, request.dry_run); }},
      {"out_dir", false,
       [&](Reader& r) -> ReadResult<void> {
         auto dir = read_optional_string(r);
         if (!dir) return std::unexpected(dir.error());
         request.out_dir = std::move(*dir);
         return {};
       }},
      {"stream_build_output", false, [&](Reader& r) { return read_flag(r, request.stream_build_output); }},
      {"build_progress", false, [&](Reader& r) { return read_flag(r, request.build_progress); }},
      {"cmd", false, [](Reader& r) { return r.skip_value(Reader::Depth::kUnlimited); }},
  };
  // Without its last field, "cmd" is an unknown member (skipped as any other).
  const std::span<const TextField> all(fields);
  const std::span<const TextField> record = cmd == CmdMember::kField ? all : all.first(all.size() - 1);
  if (auto read = read_text_record(reader, record_name, record); !read) return std::unexpected(read.error());
  if (auto end = reader.end_of_text(); !end) return std::unexpected(end.error());
  return request;
}

}  // namespace

ReadResult<CompileRequest> read_compile_request(std::string_view text, CmdMember cmd, CandlesStream* candles) {
  return read_request_members(text, "CompileReq", cmd, candles);
}

ReadResult<CompileRequest> read_destination_request(std::string_view text, CandlesStream* candles) {
  return read_request_members(text, "DestinationReq", CmdMember::kSkipped, candles);
}

ReadResult<CompileRequest> read_canonical_request(std::string_view text, CandlesStream* candles) {
  return read_request_members(text, "CanonicalReq", CmdMember::kSkipped, candles);
}

}  // namespace velkor::request
