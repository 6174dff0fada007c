#include "digest/files_digest.h"

namespace velkor::digest {

std::expected<FilesDigest, DigestFailure> digest_files(const FileSet& files,
                                                       const std::map<std::string, std::string>& known) {
  FilesDigest result;
  result.entries.reserve(files.size());
  Sha256 listing;
  for (const auto& [path, content] : files) {
    FileEntry entry{path, {}, content.size()};
    if (const auto digest = known.find(path); digest != known.end()) {
      entry.sha256 = digest->second;
    } else {
      auto digest_text = sha256_hex(content);
      if (!digest_text) return std::unexpected(std::move(digest_text.error()));
      entry.sha256 = std::move(*digest_text);
    }
    listing.update(entry.path);
    listing.update("\n");
    listing.update(entry.sha256);
    listing.update("\n");
    result.entries.push_back(std::move(entry));
  }
  auto project_hash = listing.finish();
  if (!project_hash) return std::unexpected(std::move(project_hash.error()));
  result.project_hash = hex(*project_hash);
  return result;
}

}  // namespace velkor::digest
