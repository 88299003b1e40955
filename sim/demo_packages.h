// The demo packages that fit the demo site (sim/demo/site.json): a general package, a multimedia
// control box package for the A20 platform and an address box package, made with the package maker.
#pragma once

#include <string>
#include <vector>

// Writes the demo packages into `folder` (created when missing); `made` receives their paths.
// 0, or -1 with `error`.
int makeDemoPackages(const std::string& folder, std::vector<std::string>& made, std::string& error);
