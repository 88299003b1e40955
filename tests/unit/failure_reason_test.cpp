// The reasons' stable codes and their texts.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "engine/failure_reason.h"

namespace {

TEST(FailureReasonTest, EveryReasonHasItsOwnCodeAndText) {
    std::set<std::string> codes, texts;
    for (int i = static_cast<int>(FailureReason::noStartAnswer); i <= static_cast<int>(FailureReason::halted);
         ++i) {
        RowReason r{static_cast<FailureReason>(i), "X", 37};
        std::string code = failureReasonCode(r.reason);
        EXPECT_FALSE(code.empty()) << i;
        EXPECT_EQ(std::string::npos, code.find_first_not_of("abcdefghijklmnopqrstuvwxyz_")) << code;
        EXPECT_TRUE(codes.insert(code).second) << code;
        EXPECT_TRUE(texts.insert(failureReasonText(r)).second) << i;
    }
    EXPECT_STREQ("", failureReasonCode(FailureReason::none));
    EXPECT_EQ("", failureReasonText(RowReason{}));
    EXPECT_EQ("传输在37%处中断", failureReasonText(RowReason{FailureReason::transferBroken, "", 37}));
    EXPECT_EQ("设备重启后的版本为2.3.9",
              failureReasonText(RowReason{FailureReason::otherVersion, "2.3.9", 0}));
    EXPECT_EQ("设备拒绝了升级包：满", failureReasonText(RowReason{FailureReason::deviceError, "满", 0}));
}

// Every failure says whether another try may help or a person must go on site; the retry and the
// tooltip follow it.
TEST(FailureReasonTest, EveryFailureHasAKind) {
    for (int i = static_cast<int>(FailureReason::noStartAnswer);
         i <= static_cast<int>(FailureReason::missingKeys); ++i) {
        const FailureReason reason = static_cast<FailureReason>(i);
        const FailureKind kind = failureKind(reason);
        if (reason == FailureReason::notVerified || reason == FailureReason::noVerifyPort) {
            EXPECT_EQ(FailureKind::none, kind) << i << ": not a failure";
            continue;
        }
        EXPECT_NE(FailureKind::none, kind) << i;
        EXPECT_EQ(failureReasonText(RowReason{reason}) + "（" + failureKindText(kind) + "）",
                  failureReasonTip(RowReason{reason}));
    }
    for (FailureReason r :
         {FailureReason::noStartAnswer, FailureReason::transferBroken, FailureReason::noVerdict,
          FailureReason::noAnswerAfterReboot, FailureReason::invalidReply})
        EXPECT_EQ(FailureKind::retry, failureKind(r)) << failureReasonCode(r);
    for (FailureReason r : {FailureReason::tcpNotSupported, FailureReason::deviceError,
                            FailureReason::otherVersion, FailureReason::noUploadPort})
        EXPECT_EQ(FailureKind::onSite, failureKind(r)) << failureReasonCode(r);
    EXPECT_STREQ("retry", failureKindCode(FailureKind::retry));
    EXPECT_STREQ("on_site", failureKindCode(FailureKind::onSite));
    EXPECT_EQ("设备不支持TCP上传（需现场处理）", failureReasonTip(RowReason{FailureReason::tcpNotSupported}));
    EXPECT_EQ("升级已取消，版本未验证", failureReasonTip(RowReason{FailureReason::notVerified}));
    EXPECT_EQ("", failureReasonTip(RowReason{}));
}

}  // namespace
