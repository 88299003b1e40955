#include "engine/failure_reason.h"

#include "protocol/ss_pair.h"

const char* failureReasonCode(FailureReason reason) {
    switch (reason) {
        case FailureReason::none:
            return "";
        case FailureReason::noStartAnswer:
            return "no_start_answer";
        case FailureReason::noUploadPort:
            return "no_upload_port";
        case FailureReason::tcpNotSupported:
            return "tcp_not_supported";
        case FailureReason::connectionRefused:
            return "connection_refused";
        case FailureReason::deviceError:
            return "device_error";
        case FailureReason::transferBroken:
            return "transfer_broken";
        case FailureReason::invalidReply:
            return "invalid_reply";
        case FailureReason::noVerdict:
            return "no_verdict";
        case FailureReason::otherVersion:
            return "other_version";
        case FailureReason::noAnswerAfterReboot:
            return "no_answer_after_reboot";
        case FailureReason::noFreePort:
            return "no_free_port";
        case FailureReason::stopped:
            return "stopped";
        case FailureReason::notVerified:
            return "not_verified";
        case FailureReason::noVerifyPort:
            return "no_verify_port";
        case FailureReason::neverAnswered:
            return "never_answered";
        case FailureReason::missingKeys:
            return "missing_keys";
        case FailureReason::halted:
            return "halted";
    }
    return "";
}

std::string failureReasonText(const RowReason& r) {
    switch (r.reason) {
        case FailureReason::none:
            return "";
        case FailureReason::noStartAnswer:
            return "设备没有应答启动上传服务的请求";
        case FailureReason::noUploadPort:
            return "设备没有给出上传端口";
        case FailureReason::tcpNotSupported:
            return "设备不支持TCP上传";
        case FailureReason::connectionRefused:
            return "无法连接设备的上传端口";
        case FailureReason::deviceError:
            return "设备拒绝了升级包：" + r.detail;
        case FailureReason::transferBroken:
            return formatString("传输在%d%%处中断", r.percent);
        case FailureReason::invalidReply:
            return "设备的回复无效";
        case FailureReason::noVerdict:
            return "升级包已发送，设备没有给出结果";
        case FailureReason::otherVersion:
            return "设备重启后的版本为" + r.detail;
        case FailureReason::noAnswerAfterReboot:
            return "设备重启后没有应答";
        case FailureReason::noFreePort:
            return "没有空闲的本地端口";
        case FailureReason::stopped:
            return "程序已关闭，未传输";
        case FailureReason::notVerified:
            return "升级已取消，版本未验证";
        case FailureReason::noVerifyPort:
            return "无法验证版本：没有可用的端口";
        case FailureReason::neverAnswered:
            return "设备从未应答";
        case FailureReason::missingKeys:
            return "设备的回复缺少必需的信息";
        case FailureReason::halted:
            return "未升级：已停止";
    }
    return "";
}

FailureKind failureKind(FailureReason reason) {
    switch (reason) {
        case FailureReason::none:
        case FailureReason::notVerified:
        case FailureReason::noVerifyPort:
            return FailureKind::none;
        case FailureReason::noStartAnswer:
        case FailureReason::connectionRefused:
        case FailureReason::transferBroken:
        case FailureReason::invalidReply:
        case FailureReason::noVerdict:
        case FailureReason::noAnswerAfterReboot:
        case FailureReason::noFreePort:
        case FailureReason::stopped:
        case FailureReason::neverAnswered:
        case FailureReason::halted:  // not started: the run stopped before it
            return FailureKind::retry;
        case FailureReason::noUploadPort:
        case FailureReason::tcpNotSupported:
        case FailureReason::deviceError:
        case FailureReason::otherVersion:
        case FailureReason::missingKeys:
            return FailureKind::onSite;
    }
    return FailureKind::none;
}

const char* failureKindCode(FailureKind kind) {
    switch (kind) {
        case FailureKind::none:
            return "";
        case FailureKind::retry:
            return "retry";
        case FailureKind::onSite:
            return "on_site";
    }
    return "";
}

const char* failureKindText(FailureKind kind) {
    switch (kind) {
        case FailureKind::none:
            return "";
        case FailureKind::retry:
            return "可重试";
        case FailureKind::onSite:
            return "需现场处理";
    }
    return "";
}

std::string failureReasonTip(const RowReason& reason) {
    std::string text = failureReasonText(reason);
    const FailureKind kind = failureKind(reason.reason);
    if (kind != FailureKind::none) text += std::string("（") + failureKindText(kind) + "）";
    return text;
}
