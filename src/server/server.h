// Start-up, the main loop and the operator console: the one place that knows
// every subsystem and wires them together.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/platform.h"

// The hand-off between the main loop and the console thread.
platform::Handoff& MainLoopHandoff();

// Start-up up to the main loop: world, settings, game mode, network, banner,
// query reply, master list. `afterScript` runs right after the game mode's top
// level (tests adjust settings there). False when the network could not
// start: that is logged, and nothing after it (the banner on) is done.
bool StartServer(const std::function<void()>& afterScript = {});
// Makes the texts the game mode set fit for the query reply (after each run
// of Main.lua's top level).
void SanitizeScriptSettings();
// Starts the game peer of the network game; false (logged) when it cannot listen.
bool StartNetwork(const char* bindAddress, const char* password, int passwordLength,
                  uint16_t maxPlayers, uint16_t port);
// One pass of the core work.
void ProcessServerFrame();
// One iteration of the main loop: the pass, the script timers, the hand-off and
// 1 ms of sleep.
void RunMainLoopIteration();
[[noreturn]] void RunMainLoop();
// Frees everything StartServer made (tests run many servers in one process).
void StopServerForTesting();

// The restart: tells every client, frees and re-creates the world, drops the
// players and the script state, and marks the restart pending; the main loop
// completes it more than 5000 ms later.
void RestartServer();
void ResetGlobalPools();
void ResetNetGame();
// The completion, when due (a step of ProcessServerFrame).
void CompleteRestartIfDue();

// One console line's command, run while the caller holds the hand-off.
void ExecuteConsoleCommand(const char* line);

// The banner's text for the current settings.
void LogStartupBanner();

// The console thread's routine, and the handling of one line that has been
// read (taking and returning the hand-off).
void ConsoleInputThread();
void HandleConsoleLine(const char* line);
// Starts the console thread (static initialisation of the executable).
void StartConsoleThread();

// Stamp of the main loop's 200-ms step.
extern uint32_t gLastIrcTickMs;
