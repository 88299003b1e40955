// The console edge of quenta-upgrade-cli. The verbs take UTF-8 arguments and write UTF-8 text to
// stdout and stderr; the platform file (cli_console_posix.cpp / cli_console_win32.cpp) supplies the
// program's entry point, which hands cliMain the arguments in UTF-8 and makes the console show the
// UTF-8 output (Windows: wide command line, UTF-16 to the console; files and pipes get UTF-8).
#pragma once

// The command line proper: argv[1] is the verb. Returns the exit code.
int cliMain(int argc, char** argv);

// Ctrl+C (and Ctrl+Break on Windows) while an upgrade runs. Between cliWatchInterrupts(true) and
// (false) the first one is only counted and announced with `utf8Notice` on stderr (the run then
// cancels as "取消" does); a second one ends the program at once with kCliInterruptedExit. Outside
// the watch Ctrl+C ends the program as usual.
inline constexpr int kCliInterruptedExit = 130;
void cliWatchInterrupts(bool on, const char* utf8Notice = "");
int cliInterruptCount();
