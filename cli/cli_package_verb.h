// `quenta-upgrade-cli inspect PACKAGE`: runs the package load checks and prints what the window
// would show, one "key: value" line each (UTF-8): models, version, kind, platform, digest.
// A refused package prints the window's message on stderr and exits 1; a wrong extension draws a
// warning on stderr and the checks go on.
#pragma once

#include <cstdio>
#include <string>

namespace CLI {
class App;
}

// Declares PACKAGE on the verb's subcommand; parsing stores it in `path`.
void cliAddInspectOptions(CLI::App& verb, std::string& path);
// Writes results to `out`, messages to `err`; returns the exit code: 0 loaded, 1 refused.
int cliInspect(const std::string& path, std::FILE* out, std::FILE* err);
