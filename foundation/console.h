#pragma once
// Console output for the command-line roles. Text goes to a real console through the wide
// console API (the runtime's wide printf stops at the first character outside the console
// code page, which would cut "·", "→" and "—"); to a file or pipe it goes as UTF-8.
#include <string>
#include <string_view>

enum class StdStream { Output, Error };

bool StdOutputIsConsole();
bool StdErrorIsConsole();
bool StdInputIsConsole();
// Sent to a file or pipe by whoever started the process.
bool StdOutputIsRedirected();
bool StdErrorIsRedirected();
// Questions are asked only when someone can see them and answer: standard input and output
// are both a console.
bool CanAskQuestions();

// Writes the text as it is (no newline added). Nothing happens when the stream has no handle,
// nor, for standard output, once it is reserved.
void WriteStd(StdStream stream, std::wstring_view text);

// From now on standard output carries one document and nothing else: the lines every message
// writes there (and the progress row) are dropped; the log still gets them.
void ReserveStdOutput();
bool StdOutputReserved();
// Writes the document's bytes (UTF-8) to the reserved standard output.
void WriteReservedStdOutput(std::string_view bytes);

// Reads one line from standard input (at most maxChars characters are kept, without its line
// end). False at end of input or on a read failure.
bool ReadStdLine(std::wstring& line, size_t maxChars);

// Gives a GUI-subsystem process a console for its standard streams: the parent's when it has
// one, else a new one. Streams the caller already redirected to a file or pipe stay there.
void EnsureConsole();

// The rewritable progress row; both do nothing unless standard output is a console.
void ShowProgress(std::wstring_view text);
void ClearProgress();
