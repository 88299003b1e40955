// Which devices a loaded package fits: by model (the package's model list) and by platform (the
// package kind and the platform code from its file name). Pure functions, no state.
#pragma once

// True when model equals one item of the comma-separated modelList exactly (case-sensitive), or the
// list is exactly "ALL". A null model or list never fits; empty items never match.
bool modelFits(const char* model, const char* modelList);

// True when a device reporting `platform` (null = empty) fits a package of this kind and code:
//   multimedia control box: code 1 "A20", code 2 "S5P4418", code 0 anything but "A20";
//   Linux extension master: code 5 "hi3516a", code 6 "hi3516ev300", code 0 never;
//   every other kind: always.
bool platformFits(const char* platform, int kind, int platformCode);
