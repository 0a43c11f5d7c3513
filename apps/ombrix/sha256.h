// SHA-256 (FIPS 180-4), for the checksums of plug-in files and rendered
// frames that farm jobs record and check.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace ombrix::cli {

class Sha256 {
 public:
  Sha256();
  void Update(const void* data, size_t size);
  // The digest as 64 lowercase hex digits; the object is spent afterwards.
  std::string HexDigest();

 private:
  void Block(const uint8_t* p);
  std::array<uint32_t, 8> h_;
  std::array<uint8_t, 64> buf_{};
  size_t used_ = 0;
  uint64_t bytes_ = 0;
};

struct FileDigest {
  bool ok = false;  // false: the file could not be read (error says why)
  uint64_t size = 0;
  std::string sha256;
  std::string error;
};
// The size and SHA-256 of a regular file's bytes.
FileDigest DigestFile(const std::string& path);

// Records the size and SHA-256 of `file` as the line "SHA256 SIZE" in the
// file DIR/FRAME, replaced whole (farm.cpp); HostError when the file cannot
// be read or the record written.
void RecordChecksum(const std::string& dir, int64_t frame, const std::string& file);

}  // namespace ombrix::cli
