// The actions and keys of the device protocol, its ports, and the requests the tool builds.
// Shared by the engine (requests, answer keys) and the simulated site (answers).
#pragma once

#include <string>

#include "protocol/ss_pair.h"

// Ports.
inline constexpr int QN_PORT_DEVICE = 5360;       // every device: GetSystemInfo, StartUploadService, Reboot
inline constexpr int QN_PORT_ADDRESS_BOX = 5160;  // the address box: GetModelIPList
inline constexpr int QN_PORT_LISTENER_FIRST = 5360;  // the tool's listener: first of these that binds
inline constexpr int QN_PORT_LISTENER_LAST = 5459;
inline constexpr int QN_PORT_PRIVATE_FIRST = 50000;  // private reply ports of jobs and single queries

// Actions.
inline constexpr char QNACTION_GET_MODEL_IP_LIST[] = "GetModelIPList";
inline constexpr char QNACTION_UPDATE_IP_ADDRESS[] = "UpdateIPAddress";
inline constexpr char QNACTION_GET_SYSTEM_INFO[] = "GetSystemInfo";
inline constexpr char QNACTION_GET_SYSTEM_INFO_OK[] = "GetSystemInfoOK";
inline constexpr char QNACTION_START_UPLOAD_SERVICE[] = "StartUploadService";
inline constexpr char QNACTION_START_UPLOAD_SERVICE_OK[] = "StartUploadServiceOK";
inline constexpr char QNACTION_REBOOT[] = "Reboot";
inline constexpr char QNACTION_REBOOT_OK[] = "RebootOK";

// Keys.
inline constexpr char QNKEY_ACTION[] = "Action";
inline constexpr char QNKEY_AUTH[] = "Auth";
inline constexpr char QNKEY_ACCOUNT[] = "Account";
inline constexpr char QNKEY_IP[] = "IP";
inline constexpr char QNKEY_MODEL[] = "Model";
inline constexpr char QNKEY_MASTER[] = "Master";
inline constexpr char QNKEY_SLAVE[] = "Slave";
inline constexpr char QNKEY_HARD_VERSION[] = "HardVersion";
inline constexpr char QNKEY_PLATFORM[] = "Platform";
inline constexpr char QNKEY_KERNEL_VERSION[] = "KernelVersion";
inline constexpr char QNKEY_SOFT_VERSION[] = "SoftVersion";
inline constexpr char QNKEY_SERIAL_NUM[] = "SerialNum";
inline constexpr char QNKEY_TCP_SUPPORT[] = "TcpSupport";
inline constexpr char QNKEY_UPLOAD_PATH[] = "UploadPath";
inline constexpr char QNKEY_PORT[] = "Port";

// The keys of a GetSystemInfoOK answer, in the order a device writes them.
inline constexpr const char* kGetSystemInfoOkKeys[] = {
    QNKEY_IP,           QNKEY_MODEL,       QNKEY_MASTER,         QNKEY_SLAVE,
    QNKEY_HARD_VERSION, QNKEY_PLATFORM,    QNKEY_KERNEL_VERSION, QNKEY_SOFT_VERSION,
    QNKEY_SERIAL_NUM,   QNKEY_TCP_SUPPORT, QNKEY_UPLOAD_PATH};
// The keys a GetSystemInfoOK needs (as valid texts) to produce a row.
inline constexpr const char* kGetSystemInfoOkRequiredKeys[] = {
    QNKEY_IP, QNKEY_MODEL, QNKEY_HARD_VERSION, QNKEY_KERNEL_VERSION, QNKEY_SOFT_VERSION, QNKEY_SERIAL_NUM};

// Number of leading characters over which the listener compares an action name.
inline constexpr int kListenerActionCompareLength = 15;

// "Action: <action>\r\n\r\n" (e.g. "Action: GetSystemInfo\r\n\r\n").
std::string buildActionRequest(const char* action);
// "Action: GetModelIPList\r\nAuth: <auth>\r\nAccount: <account>\r\n\r\n", built with appendFormat.
std::string buildGetModelIPList(const char* auth, const char* account);
// "Action: <action>\r\n", then "<key>: <value>\r\n" per field in order, then "\r\n" (answers of the
// simulated site; fields with an invalid key or value are left out).
std::string buildActionMessage(const char* action, const SS_PairList& fields);
// The listener's test: the action equals `name` over the first 15 characters.
bool listenerActionIs(const char* action, const char* name);
// The GetSystemInfoOK row test: every required key is present with a valid text.
bool systemInfoHasRequiredKeys(const SS_PairList& list);
