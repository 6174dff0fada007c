// Digests of a generated file set: one entry per file (path, content digest,
// length) and the project hash over the listing of all of them.
#ifndef VELKOR_DIGEST_FILES_DIGEST_H_
#define VELKOR_DIGEST_FILES_DIGEST_H_

#include <cstdint>
#include <expected>
#include <map>
#include <string>
#include <vector>

#include "digest/sha256.h"

namespace velkor::digest {

// Relative path -> content. std::string orders its bytes as unsigned char, so
// iteration follows the byte order of the paths' UTF-8 encodings, the one order
// of paths and keys throughout.
using FileSet = std::map<std::string, std::string>;

struct FileEntry {
  std::string path;
  DigestText sha256;  // of the content
  std::uint64_t bytes_len = 0;
};

// A file whose digest was computed elsewhere (while it was streamed, for one
// that is never held whole).
struct KnownFile {
  DigestText sha256;
  std::uint64_t bytes_len = 0;
};

struct FilesDigest {
  std::vector<FileEntry> entries;  // in path order
  DigestText project_hash;
};

// The entries and the project hash together, hashing each content once. The
// project hash is the SHA-256 of, for each file in path order, its path, a line
// feed, its content digest text and a line feed; an empty set hashes nothing.
// `known` holds the digests and lengths of files already hashed (see
// spec_hash), whether `files` holds their content or not; every other file is
// hashed here.
std::expected<FilesDigest, DigestFailure> digest_files(const FileSet& files,
                                                       const std::map<std::string, KnownFile>& known = {});
// The same on a context the caller already holds (restarted before each
// digest), so that a compile sets up one context for all its small digests.
std::expected<FilesDigest, DigestFailure> digest_files(Sha256& sha, const FileSet& files,
                                                       const std::map<std::string, KnownFile>& known);

}  // namespace velkor::digest

#endif  // VELKOR_DIGEST_FILES_DIGEST_H_
