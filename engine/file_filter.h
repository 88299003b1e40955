// The filters of the file dialogs, as the engine defines them (a name and its patterns), and the
// rule for the extension of a saved file. Each front end converts the list to its dialog's form.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct FileFilter {
    std::string name;                   // UTF-8, as the dialog lists it, e.g. "所有文件 (*.*)"
    std::vector<std::string> patterns;  // e.g. "*.quenta"
};
using FileFilters = std::vector<FileFilter>;

// "浏览": upgrade packages, then every file.
const FileFilters& packageFileFilters();
// "导出报告...": CSV first, then JSON.
const FileFilters& reportFileFilters();

// A filter's patterns joined by `separator` ("*.a;*.b" for Windows, "*.a *.b" for Qt).
std::string joinedPatterns(const FileFilter& filter, const std::string& separator);
// The name as Qt lists it: "name (patterns)" unless the name already ends so.
std::string nameWithPatterns(const FileFilter& filter);

// The saved file's path: `path` with the extension of the chosen filter's first pattern appended
// when it does not end with it (compared without case). `chosen` is an index into `filters`; an
// index out of range counts as the first filter, and a filter of "*.*" adds nothing.
std::string pathWithChosenExtension(const std::string& path, const FileFilters& filters, std::size_t chosen);
