#include "support/server_fixture.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "core/netgame.h"
#include "core/rpc.h"
#include "core/settings.h"
#include "server/server.h"

InProcessServer::InProcessServer(std::string mainLua) {
  char cwd[4096];
  if (getcwd(cwd, sizeof cwd)) previousDir_ = cwd;
  std::string pattern = (std::filesystem::temp_directory_path() / "qlm-server-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  dir_ = pattern;
  if (chdir(dir_.c_str()) != 0) throw std::runtime_error("chdir failed");
  if (!mainLua.empty()) WriteFile("Main.lua", mainLua);
}

InProcessServer::~InProcessServer() {
  if (started_) StopServerForTesting();
  if (!previousDir_.empty()) (void)chdir(previousDir_.c_str());
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

bool InProcessServer::Start(const std::function<void()>& adjust) {
  started_ = true;
  return StartServer([&] {
    gServerSettings.port = 0;
    gServerSettings.announce = 0;
    if (adjust) adjust();
  });
}

void InProcessServer::Pump() { RunMainLoopIteration(); }

bool InProcessServer::PumpUntil(const std::function<bool()>& condition, uint32_t timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    Pump();
    if (condition()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
  }
}

uint16_t InProcessServer::Port() const {
  return GetGamePeer() ? GetGamePeer()->GetBoundPort() : 0;
}

std::string InProcessServer::ReadFile(const std::string& name) const {
  std::ifstream in(dir_ + "/" + name, std::ios::binary);
  std::stringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

void InProcessServer::WriteFile(const std::string& name, const std::string& contents) const {
  std::ofstream out(dir_ + "/" + name, std::ios::binary | std::ios::trunc);
  out << contents;
}
