#include "digest/files_digest.h"

namespace velkor::digest {

std::expected<FilesDigest, DigestFailure> digest_files(const FileSet& files,
                                                       const std::map<std::string, KnownFile>& known) {
  Sha256 sha;
  return digest_files(sha, files, known);
}

std::expected<FilesDigest, DigestFailure> digest_files(Sha256& sha, const FileSet& files,
                                                       const std::map<std::string, KnownFile>& known) {
  FilesDigest result;
  result.entries.reserve(files.size() + known.size());
  // One context serves every file and then the listing, which is assembled as
  // text first: a path, a digest and two line feeds per file.
  std::string listing;
  listing.reserve((files.size() + known.size()) * 96);
  auto add = [&](const std::string& path, const std::string* content) -> std::expected<void, DigestFailure> {
    FileEntry entry{path, {}, 0};
    if (const auto digest = known.find(path); digest != known.end()) {
      entry.sha256 = digest->second.sha256;
      entry.bytes_len = digest->second.bytes_len;
    } else {
      sha.restart();
      sha.update(*content);
      auto content_digest = sha.finish();
      if (!content_digest) return std::unexpected(std::move(content_digest.error()));
      entry.sha256 = hex(*content_digest);
      entry.bytes_len = content->size();
    }
    listing += entry.path;
    listing += '\n';
    listing += entry.sha256;
    listing += '\n';
    result.entries.push_back(std::move(entry));
    return {};
  };
  // The held files and the known ones, merged in path order; a path in both
  // is listed once.
  auto held = files.begin();
  auto other = known.begin();
  while (held != files.end() || other != known.end()) {
    std::expected<void, DigestFailure> added;
    if (other == known.end() || (held != files.end() && held->first <= other->first)) {
      if (other != known.end() && held->first == other->first) ++other;
      added = add(held->first, &held->second);
      ++held;
    } else {
      added = add(other->first, nullptr);
      ++other;
    }
    if (!added) return std::unexpected(std::move(added.error()));
  }
  sha.restart();
  sha.update(listing);
  auto project_hash = sha.finish();
  if (!project_hash) return std::unexpected(std::move(project_hash.error()));
  result.project_hash = hex(*project_hash);
  return result;
}

}  // namespace velkor::digest
