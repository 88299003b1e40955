// Why a row ended 升级失败 or 连接失败, or why a 升级完成 row carries no verification: a stable English
// code for machine-readable output (command line, report) and a Chinese text for people (the status
// cell's tooltip, the report). Also what one upload job found out, handed from the job to the flow.
#pragma once

#include <cstdint>
#include <string>

enum class FailureReason {
    none,
    noStartAnswer,        // no StartUploadServiceOK
    noUploadPort,         // "Port" missing or outside 1..65535
    tcpNotSupported,      // "TcpSupport" missing or false
    connectionRefused,    // the TCP connection to the upload port could not be made
    deviceError,          // the device answered the put with its own error text (detail)
    transferBroken,       // the connection broke during the content (percent)
    invalidReply,         // the put's reply: an unknown command, too long an error text, or too slow
    noVerdict,            // the content went out whole, but no reply came
    otherVersion,         // after the reboot the device reports another version (detail)
    noAnswerAfterReboot,  // the device did not answer within the verification time
    noFreePort,           // no private UDP port could be bound for the job
    stopped,              // the tool was closed before the job could transfer
    notVerified,          // 升级完成 without verification: the run was cancelled while watching
    noVerifyPort,         // 升级完成 without verification: no private UDP port for the verifier
    neverAnswered,        // 连接失败: the device never answered GetSystemInfo
    missingKeys,          // answered without the keys a row needs: no row, only the report names it
    halted,               // not started: the run stopped it (first devices failed, or its model's brake)
};

struct RowReason {
    FailureReason reason = FailureReason::none;
    std::string detail;  // UTF-8: the device's error text, or the version it came back with
    int percent = 0;     // transferBroken: how far the content got
};

// "no_start_answer", "device_error", ...; "" for none.
const char* failureReasonCode(FailureReason reason);
// The Chinese text, with the detail or percent filled in; "" for none.
std::string failureReasonText(const RowReason& reason);

// What a failure asks for: another try (the transfer broke or fell silent, no verdict, no answer
// after the reboot, a timeout) or a person on site (storage full, no TCP upload, a mismatch, a refused
// package). "重试失败的设备" and --retry take only the first kind.
enum class FailureKind { none, retry, onSite };
FailureKind failureKind(FailureReason reason);
// "retry" / "on_site" for machine-readable output; "" for none.
const char* failureKindCode(FailureKind kind);
// "可重试" / "需现场处理"; "" for none.
const char* failureKindText(FailureKind kind);
// What the status cell's tooltip shows: the reason's text and, for a failure, its kind
// ("设备不支持TCP上传（需现场处理）"); "" for none.
std::string failureReasonTip(const RowReason& reason);

// What one upload job reports when it ends.
struct UploadOutcome {
    RowReason reason;            // none when the device accepted the package
    std::int64_t bytesSent = 0;  // content bytes that went out
    bool rebootMissing = false;  // the transfer was accepted but no RebootOK came
    bool watched = false;        // to be verified: the flow hands the device to the verifier
};
