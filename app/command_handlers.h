#pragma once
// What each command does once the entry has settled its rights and lock. Declared apart from the
// table so the table stays free of Windows headers; each returns the command's exit code.
#include <string>
#include <vector>

struct Options;
using CommandArguments = std::vector<std::wstring>;

int DefaultFlowCommand(const Options& options, const CommandArguments& arguments);
int HelpCommand(const Options& options, const CommandArguments& arguments);
int VersionCommand(const Options& options, const CommandArguments& arguments);
int BenchmarkCommand(const Options& options, const CommandArguments& arguments);
int CompareGameCommand(const Options& options, const CommandArguments& arguments);
int InstallCommand(const Options& options, const CommandArguments& arguments);
int HoldCommand(const Options& options, const CommandArguments& arguments);
int StatusCommand(const Options& options, const CommandArguments& arguments);
int HealthCommand(const Options& options, const CommandArguments& arguments);
int GuardCommand(const Options& options, const CommandArguments& arguments);
int SelfTestCommand(const Options& options, const CommandArguments& arguments);
int StopCommand(const Options& options, const CommandArguments& arguments);
int StartCommand(const Options& options, const CommandArguments& arguments);
int UninstallCommand(const Options& options, const CommandArguments& arguments);
int SingleTweakCommand(const Options& options, const CommandArguments& arguments);
int CpuTuneCommand(const Options& options, const CommandArguments& arguments);
int GpuConfigCommand(const Options& options, const CommandArguments& arguments);
int AfterburnerCommand(const Options& options, const CommandArguments& arguments);
int ServiceCommand(const Options& options, const CommandArguments& arguments);
int CheckDriverCommand(const Options& options, const CommandArguments& arguments);
int ApplyDriverCommand(const Options& options, const CommandArguments& arguments);
int CheckUpdateCommand(const Options& options, const CommandArguments& arguments);
int UpdateCommand(const Options& options, const CommandArguments& arguments);
int ChangesCommand(const Options& options, const CommandArguments& arguments);
int RevertCommand(const Options& options, const CommandArguments& arguments);
