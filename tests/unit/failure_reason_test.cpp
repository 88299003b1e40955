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

}  // namespace
