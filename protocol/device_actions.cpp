// Requests of the device protocol and the checks shared by the engine and the simulated site.
#include "protocol/device_actions.h"

#include <cstring>

std::string buildActionRequest(const char* action) {
    return formatString("%s: %s\r\n\r\n", QNKEY_ACTION, action ? action : "(null)");
}

std::string buildGetModelIPList(const char* auth, const char* account) {
    std::string text;
    appendFormat(text, "%s: %s\r\n", QNKEY_ACTION, QNACTION_GET_MODEL_IP_LIST);
    appendFormat(text, "%s: %s\r\n", QNKEY_AUTH, auth ? auth : "(null)");
    appendFormat(text, "%s: %s\r\n", QNKEY_ACCOUNT, account ? account : "(null)");
    appendFormat(text, "\r\n");
    return text;
}

std::string buildActionMessage(const char* action, const SS_PairList& fields) {
    std::string text;
    appendFormat(text, "%s: %s\r\n", QNKEY_ACTION, action ? action : "(null)");
    for (const SS_Pair& field : fields) {
        if (!isValidText(field.key.c_str()) || !isValidText(field.value.c_str())) continue;
        appendFormat(text, "%s: %s\r\n", field.key.c_str(), field.value.c_str());
    }
    appendFormat(text, "\r\n");
    return text;
}

bool listenerActionIs(const char* action, const char* name) {
    if (action == nullptr || name == nullptr) return false;
    return std::strncmp(action, name, kListenerActionCompareLength) == 0;
}

bool systemInfoHasRequiredKeys(const SS_PairList& list) {
    for (const char* key : kGetSystemInfoOkRequiredKeys) {
        std::optional<std::string> value;
        pairListGetString(&list, key, value);
        if (!value) return false;
    }
    return true;
}
