// The natively built parser shares the command table, whose rows name what runs each command.
// Those handlers need Windows and are never called here: each one only fails.
#include "app/command_handlers.h"

int DefaultFlowCommand(const Options&, const CommandArguments&) { return 1; }
int HelpCommand(const Options&, const CommandArguments&) { return 1; }
int VersionCommand(const Options&, const CommandArguments&) { return 1; }
int BenchmarkCommand(const Options&, const CommandArguments&) { return 1; }
int CompareGameCommand(const Options&, const CommandArguments&) { return 1; }
int InstallCommand(const Options&, const CommandArguments&) { return 1; }
int HoldCommand(const Options&, const CommandArguments&) { return 1; }
int StatusCommand(const Options&, const CommandArguments&) { return 1; }
int HealthCommand(const Options&, const CommandArguments&) { return 1; }
int GuardCommand(const Options&, const CommandArguments&) { return 1; }
int SelfTestCommand(const Options&, const CommandArguments&) { return 1; }
int StopCommand(const Options&, const CommandArguments&) { return 1; }
int StartCommand(const Options&, const CommandArguments&) { return 1; }
int UninstallCommand(const Options&, const CommandArguments&) { return 1; }
int SingleTweakCommand(const Options&, const CommandArguments&) { return 1; }
int CpuTuneCommand(const Options&, const CommandArguments&) { return 1; }
int GpuConfigCommand(const Options&, const CommandArguments&) { return 1; }
int AfterburnerCommand(const Options&, const CommandArguments&) { return 1; }
int ServiceCommand(const Options&, const CommandArguments&) { return 1; }
int CheckDriverCommand(const Options&, const CommandArguments&) { return 1; }
int ApplyDriverCommand(const Options&, const CommandArguments&) { return 1; }
int CheckUpdateCommand(const Options&, const CommandArguments&) { return 1; }
int UpdateCommand(const Options&, const CommandArguments&) { return 1; }
int ChangesCommand(const Options&, const CommandArguments&) { return 1; }
int RevertCommand(const Options&, const CommandArguments&) { return 1; }
