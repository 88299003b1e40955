// The device list as the command line prints it: a table as the window shows it, CSV or JSON rows
// (deviceListFields). Rows are written one at a time, so a list of any length needs little memory.
#pragma once

#include <cstdio>
#include <string>

class UpgradeFlow;

// format: "table", "csv" or "json". Write errors are left in the stream's error state.
void writeDeviceList(UpgradeFlow& flow, const std::string& format, std::FILE* out);
