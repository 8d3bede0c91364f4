#pragma once
// How an operation that can fail says so, the one way this program does: done, failed with the
// sentence the user reads, or stopped by the user before it finished. Callers that branch on the
// kind switch on Kind(); the others ask Ok() and show Error().
#include <string>
#include <utility>

class Outcome {
public:
    enum class Kind : unsigned char { Done, Failed, Stopped };

    static Outcome Done() { return Outcome(Kind::Done, {}); }
    static Outcome Failed(std::wstring error) { return Outcome(Kind::Failed, std::move(error)); }
    static Outcome Stopped() { return Outcome(Kind::Stopped, {}); }

    Kind Which() const { return kind_; }
    bool Ok() const { return kind_ == Kind::Done; }
    bool WasStopped() const { return kind_ == Kind::Stopped; }
    const std::wstring& Error() const { return error_; }
    // The command's exit code: 0 done, 1 failed, 2 stopped.
    int ExitCode() const { return kind_ == Kind::Done ? 0 : kind_ == Kind::Failed ? 1 : 2; }

private:
    Outcome(Kind kind, std::wstring error) : kind_(kind), error_(std::move(error)) {}
    Kind kind_;
    std::wstring error_;
};
