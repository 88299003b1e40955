// The verbs `query` and `upgrade` of quenta-upgrade-cli: the window's batch flow run headless, with
// the device list printed as the window shows it (table, csv or json).
#pragma once

#include <cstdio>

int cliQuery(int argc, char** argv, std::FILE* out, std::FILE* err);
int cliUpgrade(int argc, char** argv, std::FILE* out, std::FILE* err);
