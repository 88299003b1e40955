// What the files of UpgradeFlow share and nobody else needs: the window's log line macro and the
// text conversions between the wire's GBK and the window's UTF-8.
#pragma once

#include <string>

#include "ss/ss_dir.h"
#include "ss/ss_log.h"

// The main window's log lines keep the source file and line the tool has always written.
#define DLG_LOG(level, line, function, ...) \
    ss_log_write(level, "quenta_upgradeDlg.cpp", line, "Cquenta_upgradeDlg::" function, __VA_ARGS__)

namespace upgrade_flow_internal {

inline std::string utf8(const std::string& gbk) {
    return ss_text_gbkToUtf8(gbk);
}
inline std::string gbk(const std::string& utf8Text) {
    return ss_text_utf8ToGbk(utf8Text);
}

}  // namespace upgrade_flow_internal
