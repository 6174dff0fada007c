#include "digest/files_digest.h"

#include "digest/sha256.h"

namespace velkor::digest {

FilesDigest digest_files(const FileSet& files, const std::map<std::string, std::string>& known) {
  FilesDigest result;
  result.entries.reserve(files.size());
  Sha256 listing;
  for (const auto& [path, content] : files) {
    const auto digest = known.find(path);
    FileEntry entry{path, digest != known.end() ? digest->second : sha256_hex(content), content.size()};
    listing.update(entry.path);
    listing.update("\n");
    listing.update(entry.sha256);
    listing.update("\n");
    result.entries.push_back(std::move(entry));
  }
  result.project_hash = hex(listing.finish());
  return result;
}

std::vector<FileEntry> file_entries(const FileSet& files) { return digest_files(files).entries; }

std::string files_digest(const FileSet& files) { return digest_files(files).project_hash; }

}  // namespace velkor::digest
