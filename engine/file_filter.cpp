// File-dialog filters; see file_filter.h.
#include "engine/file_filter.h"

#include <algorithm>
#include <cctype>

const FileFilters& packageFileFilters() {
    static const FileFilters filters{{"昆塔升级文件", {"*.quenta"}}, {"所有文件 (*.*)", {"*.*"}}};
    return filters;
}

const FileFilters& reportFileFilters() {
    static const FileFilters filters{{"CSV 文件 (*.csv)", {"*.csv"}}, {"JSON 文件 (*.json)", {"*.json"}}};
    return filters;
}

std::string joinedPatterns(const FileFilter& filter, const std::string& separator) {
    std::string joined;
    for (const std::string& pattern : filter.patterns) {
        if (!joined.empty()) joined += separator;
        joined += pattern;
    }
    return joined;
}

std::string nameWithPatterns(const FileFilter& filter) {
    const std::string suffix = "(" + joinedPatterns(filter, " ") + ")";
    const std::string& name = filter.name;
    if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
        return name;
    return name + " " + suffix;
}

std::string pathWithChosenExtension(const std::string& path, const FileFilters& filters, std::size_t chosen) {
    if (filters.empty()) return path;
    const FileFilter& filter = chosen < filters.size() ? filters[chosen] : filters.front();
    if (filter.patterns.empty()) return path;
    const std::string& pattern = filter.patterns.front();
    if (pattern.size() < 3 || pattern.compare(0, 2, "*.") != 0 || pattern == "*.*") return path;
    const std::string extension = pattern.substr(1);
    auto lower = [](unsigned char c) { return std::tolower(c); };
    const bool has =
        path.size() >= extension.size() &&
        std::equal(extension.begin(), extension.end(), path.end() - static_cast<long>(extension.size()),
                   [&](char a, char b) { return lower(a) == lower(b); });
    return has ? path : path + extension;
}
