#include "support/server_fixture.h"

#include <chrono>

#include "core/rpc.h"
#include "core/settings.h"
#include "server/server.h"

InProcessServer::InProcessServer(std::string mainLua) {
  if (!mainLua.empty()) WriteFile("Main.lua", mainLua);
}

InProcessServer::~InProcessServer() {
  if (started_) StopServerForTesting();
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

uint16_t InProcessServer::Port() const { return GetGamePeer() ? GetGamePeer()->GetBoundPort() : 0; }

std::string InProcessServer::ReadFile(const std::string& name) const {
  return dir_.Read(name).value_or("");
}

void InProcessServer::WriteFile(const std::string& name, const std::string& contents) const {
  dir_.Write(name, contents);
}
