// The device list's context menu; see list_menu.h.
#include "engine/list_menu.h"

#include "engine/upgrade_flow.h"

std::vector<ListMenuEntry> listMenuEntries(const UpgradeFlow& flow) {
    return {{ListCommand::retryFailed, flowtext::kRetryFailed, flow.canRetry(), false},
            {ListCommand::retrySelected, flowtext::kRetrySelected, flow.canRetrySelected(), false},
            {ListCommand::recoverUnanswered, flowtext::kRecoverUnanswered, flow.canRecover(), false},
            {ListCommand::exportReport, flowtext::kExportReport, flow.canExportReport(), true}};
}

void runListCommand(UpgradeFlow& flow, ListCommand command) {
    if (flow.destroyed()) return;
    switch (command) {
        case ListCommand::retryFailed:
            flow.retryFailed();
            break;
        case ListCommand::retrySelected:
            flow.retrySelected();
            break;
        case ListCommand::recoverUnanswered:
            flow.recoverUnanswered();
            break;
        case ListCommand::exportReport:
            flow.exportReport();
            break;
    }
}
