// The console edge of quenta-upgrade-cli. The verbs take UTF-8 arguments and write UTF-8 text to
// stdout and stderr; the platform file (cli_console_posix.cpp / cli_console_win32.cpp) supplies the
// program's entry point, which hands cliMain the arguments in UTF-8 and makes the console show the
// UTF-8 output (Windows: wide command line, UTF-16 to the console; files and pipes get UTF-8).
#pragma once

// The command line proper: argv[1] is the verb. Returns the exit code.
int cliMain(int argc, char** argv);
