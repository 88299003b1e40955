// Start-up helpers of the window programs; see app_startup.h.
#include "engine/app_startup.h"

#include <cstdio>
#include <cstring>

#include "engine/box_seam.h"
#include "engine/front_end_text.h"
#include "engine/upgrade_flow.h"
#include "ss/ss_dir.h"
#include "ss/ss_log.h"

namespace {
constexpr char kDebugFlagFile[] = "C:\\Work/quenta/bin/SS_DEBUG_ENABLED";
constexpr char kLogFolder[] = "C:\\Work/quenta/temp";
}  // namespace

void openStartupDebugLog() {
    const int flag = ss_file_attributes(kDebugFlagFile);
    if (flag == -1 || (flag & SS_FILE_ATTRIBUTE_DIRECTORY) != 0) return;
    const int folder = ss_file_attributes(kLogFolder);
    if (folder == -1 || (folder & SS_FILE_ATTRIBUTE_DIRECTORY) == 0) ss_dir_createTree(kLogFolder);
    char logPath[255];
    std::memset(logPath, 0, sizeof logPath);
    std::snprintf(logPath, sizeof logPath, "%s/%s/%s/%s", "C:\\Work", "quenta", "temp", "quenta_upgrade.log");
    ss_log_open(logPath);
}

bool reportAlreadyRunning() {
    SS_LOG_FN(SS_LOG_ERROR, "Cquenta_upgradeApp::InitInstance", "QUENTA_UPGRADE si running already!\n");
    ShownBox box{flowtext::kAlreadyRunning, flowtext::kErrorTitle, BoxIcon::stop, BoxButtons::ok, IDOK};
    return !answerWithoutShowing(box);
}
