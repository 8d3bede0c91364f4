#include "foundation/text.h"
#include "health/health_check.h"

const wchar_t* HealthStatusName(int status) {
    switch (status) {
    case HealthPassing: return L"Passing";
    case HealthAttention: return L"Needs attention";
    case HealthInformational: return L"Informational";
    case HealthDisabled: return L"Disabled";
    case HealthUnsupported: return L"Unsupported";
    case HealthInaccessible: return L"Inaccessible";
    case HealthError: return L"Error";
    case HealthRestartRequired: return L"Restart required";
    default: return L"Unknown";
    }
}

namespace {

void Count(HealthSummary& s, int status) {
    switch (status) {
    case HealthPassing: ++s.passing; break;
    case HealthAttention:
    case HealthError:
    case HealthRestartRequired: ++s.attention; break;
    case HealthInformational: ++s.informational; break;
    default: ++s.other; break;
    }
}

}  // namespace

HealthSummary CountHealthGroup(const std::vector<HealthCheck>& checks, const std::wstring& group) {
    HealthSummary s;
    for (const HealthCheck& c : checks) {
        if (c.group == group) Count(s, c.status);
    }
    return s;
}

HealthSummary SummarizeHealth(const std::vector<HealthCheck>& checks) {
    HealthSummary s;
    for (const HealthCheck& c : checks) Count(s, c.status);
    if (s.attention != 0) s.text = FormatText(L"%d item%ls need attention.", s.attention, s.attention == 1 ? L"" : L"s");
    else if (s.other == 0) s.text = L"Nothing needs attention.";
    else s.text = L"No drifted tweaks. Some checks could not be completed.";
    return s;
}

int HealthSelfTest() {
    std::vector<HealthCheck> checks(3);
    checks[0].status = HealthPassing;
    checks[1].status = HealthAttention;
    checks[2].status = HealthError;
    const HealthSummary first = SummarizeHealth(checks);
    checks[1].status = HealthUnknown;
    checks[2].status = HealthInaccessible;
    const HealthSummary second = SummarizeHealth(checks);
    const bool ok = first.passing == 1 && first.attention == 2 && first.text.find(L'2') != std::wstring::npos &&
                    second.passing == 1 && second.attention == 0 && second.other == 2 &&
                    second.text.find(L"could not") != std::wstring::npos;
    return ok ? 0 : 1;
}

void FinishTweakCheck(HealthCheck& check, bool disabled, bool readOk, bool live, const std::wstring& expected,
                      const std::wstring& observed) {
    check.expected = expected;
    check.observed = observed;
    if (disabled) {
        check.status = HealthDisabled;
        check.explanation = L"This check is turned off in Settings. Quorvantis is not treating it as healthy or failed.";
        check.repairStep.clear();
    } else if (!readOk) {
        check.status = HealthInaccessible;
        check.explanation = L"The live value could not be read. That is not a pass.";
    } else if (!live) {
        check.status = HealthAttention;
        check.explanation = L"Not live. The setting has changed, or it was never applied. Repair puts the Quorvantis value back.";
    } else {
        check.status = HealthPassing;
        check.explanation = L"Live. This tweak is currently applied.";
        check.repairStep.clear();
    }
}

bool IsAttentionStatus(int status) {
    return status == HealthAttention || status == HealthError || status == HealthRestartRequired;
}

void ApplyStepChoice(HealthCheck& check, bool stepWanted) {
    if (stepWanted || !IsAttentionStatus(check.status)) return;
    check.status = HealthInformational;
    check.explanation = L"You left this step off. It is not currently applied, and Quorvantis will not change it.";
    check.repairStep.clear();
}

void DecideTweakCheck(HealthCheck& check, bool disabled, bool unsupported, bool readOk, bool live, bool stepWanted) {
    if (disabled) {
        check.status = HealthDisabled;
        check.explanation = L"This check is turned off in Settings.";
        check.repairStep.clear();
    } else if (unsupported) {
        check.status = HealthUnsupported;
        check.explanation = L"This processor or device does not expose this setting.";
        check.repairStep.clear();
    } else if (readOk && live) {
        check.status = HealthPassing;
        check.explanation = L"Live. This tweak is currently applied.";
        check.repairStep.clear();
    } else if (readOk && stepWanted) {
        check.status = HealthAttention;
        check.explanation = L"Not live. Repair puts the Quorvantis value back.";
    } else if (readOk) {
        check.status = HealthInformational;
        check.explanation = L"You left this step off. It is not currently applied.";
        check.repairStep.clear();
    } else {
        check.status = HealthInaccessible;
        check.explanation = L"The live value could not be read. That is not a pass.";
    }
}
