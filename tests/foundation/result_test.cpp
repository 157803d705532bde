// Result codes and their err. names.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "Result.h"

TEST(Result, TableHoldsEveryNamedCodeInOrder) {
    EXPECT_EQ(ResultNamesCount(), 51u);
    EXPECT_EQ(ResultNamesEnd() - ResultNamesBegin(), 51);
    EXPECT_EQ(ResultNamesBegin()[0].code, Result::ConfigurationChanged);
    EXPECT_EQ(ResultNamesEnd()[-1].code, Result::QorNoMem);

    std::set<int32_t> codes;
    std::set<std::string> names;
    int constants = 0;
    for (const ResultName *n = ResultNamesBegin(); n != ResultNamesEnd(); ++n) {
        EXPECT_TRUE(codes.insert(ResultCode(n->code)).second) << n->errName;
        EXPECT_TRUE(names.insert(n->errName).second);
        EXPECT_EQ(std::string(n->errName).rfind("err.", 0), 0u);
        EXPECT_STREQ(ResultToErrName(n->code), n->errName);
        if (n->templateConstant) ++constants;
    }
    EXPECT_EQ(constants, 48);
}

TEST(Result, ValuesAndNames) {
    EXPECT_EQ(ResultCode(Result::SessTblFull), -4004);
    EXPECT_STREQ(ResultToErrName(Result::SessTblFull), "err.SessTblFull");
    EXPECT_STREQ(ResultToName(Result::SessTblFull), "SessTblFull");
    EXPECT_EQ(ResultCode(Result::CommTransTerminated), 1001);
    EXPECT_EQ(ResultCode(Result::ParserInvalidRegularStorePath), -3005);
    EXPECT_EQ(ResultCode(Result::QorNoMem), -5007);
    EXPECT_EQ(ResultCode(Result::CommScreenFormatNotFound), -1010);
    EXPECT_TRUE(IsError(Result::CommClosed));
    EXPECT_FALSE(IsError(Result::SessTblRecordLocked));
    EXPECT_FALSE(IsError(Result::Success));
    // No names: success, the socket-poll codes, plain numbers.
    EXPECT_EQ(ResultToName(Result::Success), nullptr);
    EXPECT_EQ(ResultToName(Result::CommPollFailed), nullptr);
    EXPECT_EQ(ResultToName(Result::CommPollDataReady), nullptr);
    EXPECT_EQ(ResultCode(Result::CommPollFailed), -1011);
    EXPECT_EQ(ResultCode(Result::CommPollDataReady), 1012);
    EXPECT_EQ(ResultToName(static_cast<Result>(kResultNotifySent)), nullptr);
}

TEST(Result, OnlyThreeNamesAreNotTemplateConstants) {
    std::set<std::string> fieldsOnly;
    for (const ResultName *n = ResultNamesBegin(); n != ResultNamesEnd(); ++n)
        if (!n->templateConstant) fieldsOnly.insert(n->errName);
    EXPECT_EQ(fieldsOnly, (std::set<std::string>{"err.ConfigurationChanged",
                                                 "err.SessTblNoCleanerProcess",
                                                 "err.SessTblStopCleanerProcess"}));
}

TEST(Result, ThrownByValue) {
    try {
        throw Result::CommNoHost;
    } catch (Result r) {
        EXPECT_EQ(ResultCode(r), -1005);
    }
}
