#pragma once
// Reads back everything the program tunes and rates each item, changing nothing.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

enum HealthStatus : int {
    HealthPassing = 0,
    HealthAttention = 1,
    HealthInformational = 2,
    HealthDisabled = 3,
    HealthUnsupported = 4,
    HealthUnknown = 5,
    HealthInaccessible = 6,
    HealthError = 7,
    HealthRestartRequired = 8,
};

struct HealthCheck {
    std::wstring id;
    std::wstring group;
    std::wstring title;
    std::wstring expected;
    std::wstring observed;
    int status = HealthUnknown;
    std::wstring explanation;
    std::wstring repairStep;
    uint64_t checkedAt = 0;
};

struct HealthSummary {
    int passing = 0;
    int attention = 0;
    int informational = 0;
    int other = 0;
    std::wstring text;
};

const wchar_t* HealthStatusName(int status);
// Needs attention, an error, or a restart required: what counts as drifted everywhere.
bool IsAttentionStatus(int status);
HealthSummary SummarizeHealth(const std::vector<HealthCheck>& checks);
// The same counts for one group's items (no text).
HealthSummary CountHealthGroup(const std::vector<HealthCheck>& checks, const std::wstring& group);
int HealthSelfTest();

// The rating rules, given what the Monitor key says about the check and its step.
void FinishTweakCheck(HealthCheck& check, bool disabled, bool readOk, bool live, const std::wstring& expected,
                      const std::wstring& observed);
void DecideTweakCheck(HealthCheck& check, bool disabled, bool unsupported, bool readOk, bool live, bool stepWanted);
// A check of a step the user left off is never a failure to repair: whatever needed attention is
// informational and carries no repair.
void ApplyStepChoice(HealthCheck& check, bool stepWanted);

// The whole catalogue in its fixed order; stops early once *cancel is set (may be null).
std::vector<HealthCheck> RunHealthChecks(const std::atomic<bool>* cancel);
