// A temporary directory for tests that need real files, removed with
// everything in it when the object goes away.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace support {

class TempDir {
 public:
  // Creates a fresh directory under $TMPDIR (or /tmp). Path() is empty when
  // creation failed; tests should ASSERT_TRUE(dir.Valid()).
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  bool Valid() const { return !path_.empty(); }
  const std::string& Path() const { return path_; }
  // The absolute path of `relative` inside the directory.
  std::string Path(const std::string& relative) const;

  // Writes `content` to `relative`, creating parent directories. False on failure.
  bool Write(const std::string& relative, const std::string& content) const;
  // The whole file, or nothing when it cannot be read.
  std::optional<std::string> Read(const std::string& relative) const;

 private:
  std::string path_;
};

// Changes the working directory for the lifetime of the object and restores
// the previous one afterwards (code under test that opens relative paths).
class ScopedChdir {
 public:
  explicit ScopedChdir(const std::string& dir);
  ~ScopedChdir();
  ScopedChdir(const ScopedChdir&) = delete;
  ScopedChdir& operator=(const ScopedChdir&) = delete;
  bool Ok() const { return ok_; }

 private:
  std::filesystem::path previous_;
  bool ok_ = false;
};

}  // namespace support
