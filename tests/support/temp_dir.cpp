#include "support/temp_dir.h"

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

namespace support {

namespace fs = std::filesystem;

TempDir::TempDir() {
  const char* base = getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/qlm-test-XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) != nullptr) path_ = buf.data();
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string TempDir::Path(const std::string& relative) const {
  return (fs::path(path_) / relative).string();
}

bool TempDir::Write(const std::string& relative, const std::string& content) const {
  if (path_.empty()) return false;
  fs::path p = fs::path(path_) / relative;
  std::error_code ec;
  fs::create_directories(p.parent_path(), ec);
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  return static_cast<bool>(out);
}

std::optional<std::string> TempDir::Read(const std::string& relative) const {
  if (path_.empty()) return std::nullopt;
  std::ifstream in(fs::path(path_) / relative, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

ScopedChdir::ScopedChdir(const std::string& dir) {
  std::error_code ec;
  previous_ = fs::current_path(ec);
  if (ec) return;
  ok_ = chdir(dir.c_str()) == 0;
}

ScopedChdir::~ScopedChdir() {
  if (ok_) {
    std::error_code ec;
    fs::current_path(previous_, ec);
  }
}

}  // namespace support
