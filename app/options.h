#pragma once
// The parsed command line: filled once at entry, then read by the console, the GUI and the benchmark.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "service/step_catalogue.h"

struct Options {
    std::wstring command;  // empty: the default flow
    std::wstring revertTarget;  // --revert: a change's id or a step
    std::wstring gameName;      // --compare-game: the game's program file name
    std::wstring presentMon;    // --presentmon: the frame capture program the user has
    uint32_t minutes = 4;       // --minutes: how long the game comparison runs
    uint32_t resolution = 0;
    uint32_t from = 0;
    uint32_t to = 0;
    uint32_t step = 10;
    uint32_t samples = 150;
    uint32_t passes = 3;
    uint32_t verify = 1500;
    uint32_t margin = 0;
    bool marginSet = false;
    bool yes = false;
    bool noPause = false;
    bool elevated = false;
    bool holders = false;  // --status names the programs holding the clock
    bool json = false;     // one JSON document on standard output instead of text
    bool whatIf = false;   // list what the steps would write; write nothing
    bool cli = false;
    bool gui = false;
    bool ppm = false;
    bool gpu = false;
    bool afterburner = false;
    std::array<bool, kSlotCount> leaveOut{};  // by slot: the step's "--no-..." switch was given
    int fidelity = 1;  // 0 low, 1 medium, 2 high
    bool fidelitySet = false;
    bool samplesSet = false;
    bool passesSet = false;
    bool verifySet = false;
};

// Parses the whole command line; on the first error reports it with LogError and returns false.
bool ParseOptions(const std::vector<std::wstring>& arguments, Options& options);
// The same, handing the error text back instead of logging it.
bool ParseOptionsText(const std::vector<std::wstring>& arguments, Options& options, std::wstring& error);

// Consumes the argument after index (advancing index past it) as an unsigned base-10 number >= minimum.
bool ParseWholeNumber(const std::vector<std::wstring>& arguments, size_t& index, uint32_t& value, uint32_t minimum,
                      const std::wstring& displayName, std::wstring& error);

bool WantsConsole(const std::vector<std::wstring>& arguments, const Options& options);

// The switch that stores a command word ("ppm" -> "--apply-ppm"), for messages about that command.
std::wstring CommandSwitch(const std::wstring& command);

