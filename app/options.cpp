#include "app/options.h"

#include <algorithm>
#include <cerrno>
#include <cwchar>
#include <cwctype>

#include "app/commands.h"
#include "foundation/log.h"
#include "foundation/text.h"
#include "timer/game_compare.h"
#include "timer/sweep_plan.h"

namespace {

struct FlagRow {
    const wchar_t* argument;
    bool Options::*field;
};

constexpr FlagRow kFlags[] = {
    {L"--afterburner", &Options::afterburner},
    {L"--cli", &Options::cli},
    {L"--gui", &Options::gui},
    {L"--ppm", &Options::ppm},
    {L"--gpu", &Options::gpu},
    {L"--yes", &Options::yes},
    {L"-y", &Options::yes},
    {L"--no-pause", &Options::noPause},
    {L"--elevated", &Options::elevated},
    {L"--holders", &Options::holders},
    {L"--json", &Options::json},
    {L"--what-if", &Options::whatIf},
};

struct NumberRow {
    const wchar_t* argument;
    const wchar_t* displayName;
    uint32_t minimum;
    uint32_t maximum;  // 0: any 32-bit number
    uint32_t Options::*field;
    bool Options::*setFlag;  // null when the switch has none
};

// Sample counts are held in memory for the whole run: a count beyond these would take hours
// per candidate and could exhaust memory.
constexpr NumberRow kNumbers[] = {
    {L"--resolution", L"--resolution (100-ns units, e.g. 5070 = 0.507 ms)", 1, 0, &Options::resolution, nullptr},
    {L"--from", L"--from (100-ns units)", 1, 0, &Options::from, nullptr},
    {L"--to", L"--to (100-ns units)", 1, 0, &Options::to, nullptr},
    {L"--step", L"--step (100-ns units)", 1, 0, &Options::step, nullptr},
    {L"--samples", L"--samples", 10, 10000, &Options::samples, &Options::samplesSet},
    {L"--passes", L"--passes", 1, 0, &Options::passes, &Options::passesSet},
    {L"--verify", L"--verify", 100, 100000, &Options::verify, &Options::verifySet},
    {L"--margin", L"--margin (100-ns units)", 0, 0, &Options::margin, &Options::marginSet},
    {L"--minutes", L"--minutes", kGameMinutesMin, kGameMinutesMax, &Options::minutes, nullptr},
};

constexpr uint32_t kMaxPasses = 20;

// The step whose "--no-..." switch this is, read from the step catalogue; null for none.
const StepEntry* StepLeftOutBy(const std::wstring& argument) {
    for (const StepEntry& step : StepCatalogue()) {
        if (step.leaveOut != nullptr && argument == step.leaveOut) return &step;
    }
    return nullptr;
}

template <typename Row, size_t N>
const Row* FindRow(const Row (&table)[N], const std::wstring& argument) {
    for (const Row& row : table) {
        if (argument == row.argument) return &row;
    }
    return nullptr;
}

bool ParseFidelity(const std::vector<std::wstring>& arguments, size_t& index, Options& options, std::wstring& error) {
    if (index + 1 < arguments.size()) {
        const std::wstring& value = arguments[index + 1];
        int level = -1;
        if (value == L"low") level = 0;
        else if (value == L"med" || value == L"medium") level = 1;
        else if (value == L"high") level = 2;
        else if (value == L"adaptive") level = kAdaptiveFidelity;
        if (level >= 0) {
            ++index;
            options.fidelity = level;
            options.fidelitySet = true;
            return true;
        }
    }
    error = L"--fidelity requires low, medium, high or adaptive.";
    return false;
}

// "--quick" is a coarse preview, but any count the user spelled out wins whatever its position.
void ApplyQuick(Options& options) {
    if (options.step == 10) options.step = 20;
    if (!options.passesSet && options.passes == 3) {
        options.passes = 1;
        options.passesSet = true;
    }
    if (!options.samplesSet && options.samples == 150) {
        options.samples = 40;
        options.samplesSet = true;
    }
    if (!options.verifySet && options.verify == 1500) {
        options.verify = 300;
        options.verifySet = true;
    }
}

// A program's file name as Task Manager shows it: no folder, no quotes, ending in ".exe".
bool IsProgramFileName(const std::wstring& name) {
    if (name.size() < 5 || name.size() > 260 || name.find_first_of(L"\\/:\"*?<>|") != std::wstring::npos) return false;
    std::wstring extension = name.substr(name.size() - 4);
    for (wchar_t& c : extension) c = static_cast<wchar_t>(towlower(c));
    return extension == L".exe";
}

const wchar_t* CrossCheck(const Options& o) {
    if (o.from != 0 && o.to != 0 && o.from >= o.to) return L"--to must be greater than --from.";
    if (o.ppm && o.leaveOut[SlotCpu]) return L"--ppm and --no-ppm cannot be used together.";
    if (o.gpu && o.leaveOut[SlotGpuSettings]) return L"--gpu and --no-gpu cannot be used together.";
    if (o.afterburner && o.leaveOut[SlotAfterburner]) return L"--afterburner and --no-afterburner cannot be used together.";
    return nullptr;
}

}  // namespace

bool ParseWholeNumber(const std::vector<std::wstring>& arguments, size_t& index, uint32_t& value, uint32_t minimum,
                      const std::wstring& displayName, std::wstring& error) {
    if (index + 1 >= arguments.size()) {
        error = FormatText(L"%ls requires a value.", displayName.c_str());
        return false;
    }
    ++index;
    const std::wstring& text = arguments[index];
    const wchar_t* begin = text.c_str();
    wchar_t* end = nullptr;
    errno = 0;
    const unsigned long parsed = std::wcstoul(begin, &end, 10);
    // wcstoul wraps a leading minus and saturates on overflow; neither is a whole number we can hold.
    const bool negative = text.find(L'-') != std::wstring::npos;
    const bool fits = errno != ERANGE && parsed <= 0xFFFFFFFFul;
    if (end == begin || *end != L'\0' || negative || !fits || parsed < minimum) {
        error = FormatText(L"%ls requires a whole number >= %lu.", displayName.c_str(), static_cast<unsigned long>(minimum));
        return false;
    }
    value = static_cast<uint32_t>(parsed);
    return true;
}

bool ParseOptionsText(const std::vector<std::wstring>& arguments, Options& options, std::wstring& error) {
    bool quick = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring& argument = arguments[i];
        if (const CommandRow* row = CommandForSwitch(argument)) {
            options.command = row->word;
            // --revert names what it puts back: a change's id or a step.
            if (options.command == L"revert") {
                if (i + 1 >= arguments.size() || arguments[i + 1].rfind(L"--", 0) == 0) {
                    error = L"--revert requires the id of a change (as --changes lists it) or a step (ppm, gpu, memory, "
                            L"storage, prepare, install, afterburner).";
                    return false;
                }
                options.revertTarget = arguments[++i];
            }
            if (options.command == L"compare-game") {
                if (i + 1 >= arguments.size() || arguments[i + 1].rfind(L"--", 0) == 0) {
                    error = L"--compare-game requires the game's program name, for example --compare-game game.exe.";
                    return false;
                }
                options.gameName = arguments[++i];
                if (!IsProgramFileName(options.gameName)) {
                    error = FormatText(L"--compare-game takes the game's program file name, such as game.exe, not %ls.",
                                       options.gameName.c_str());
                    return false;
                }
            }
        } else if (const StepEntry* step = StepLeftOutBy(argument)) {
            options.leaveOut[static_cast<size_t>(step->slot)] = true;
        } else if (const auto* flag = FindRow(kFlags, argument)) {
            options.*(flag->field) = true;
        } else if (const auto* number = FindRow(kNumbers, argument)) {
            uint32_t value = 0;
            if (!ParseWholeNumber(arguments, i, value, number->minimum, number->displayName, error)) return false;
            if (number->maximum != 0 && value > number->maximum) {
                error = FormatText(L"%ls requires a whole number from %lu to %lu.", number->displayName,
                                   static_cast<unsigned long>(number->minimum), static_cast<unsigned long>(number->maximum));
                return false;
            }
            if (number->field == &Options::passes) value = std::min(value, kMaxPasses);
            options.*(number->field) = value;
            if (number->setFlag != nullptr) options.*(number->setFlag) = true;
        } else if (argument == L"--fidelity") {
            if (!ParseFidelity(arguments, i, options, error)) return false;
        } else if (argument == L"--presentmon") {
            if (i + 1 >= arguments.size() || arguments[i + 1].rfind(L"--", 0) == 0) {
                error = L"--presentmon requires the full path of PresentMon's console program.";
                return false;
            }
            options.presentMon = arguments[++i];
        } else if (argument == L"--quick") {
            quick = true;
        } else {
            error = FormatText(L"Unknown argument: %ls (try --help)", argument.c_str());
            return false;
        }
    }
    if (quick) ApplyQuick(options);
    if (const wchar_t* conflict = CrossCheck(options)) {
        error = conflict;
        return false;
    }
    return true;
}

bool ParseOptions(const std::vector<std::wstring>& arguments, Options& options) {
    std::wstring error;
    if (ParseOptionsText(arguments, options, error)) return true;
    LogError(error);
    return false;
}

bool WantsConsole(const std::vector<std::wstring>& arguments, const Options& options) {
    if (options.gui) return false;
    if (options.cli || options.json || options.whatIf || !options.command.empty()) return true;
    return std::any_of(arguments.begin(), arguments.end(), [](const std::wstring& a) {
        return a == L"--help" || a == L"-h" || a == L"/?" || a == L"--version";
    });
}

std::wstring CommandSwitch(const std::wstring& command) {
    const CommandRow* row = CommandForWord(command);
    return row != nullptr && row->switches[0] != nullptr ? std::wstring(row->switches[0]) : command;
}

