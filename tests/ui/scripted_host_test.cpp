// The scripted host the program's tests drive the user interface with.
#include "ui/scripted_host.h"

#include <gtest/gtest.h>

namespace purgelet::ui {
namespace {

TEST(ScriptedHostTest, AnswersInScriptOrderAndCountsDialogsBeyondTheScript) {
    ScriptedHost host;
    host.Answer(mrRetry).Answer(mrIgnore);
    EXPECT_EQ(host.MessageDialog("one", TMsgDlgType::mtError, mbAbortRetryIgnore, 0), mrRetry);
    EXPECT_EQ(host.MessageDialog("two", TMsgDlgType::mtWarning, mbYesNo, 0), mrIgnore);
    EXPECT_EQ(host.MessageDialog("three", TMsgDlgType::mtError, mbAbortRetry, 0), mrNone);
    EXPECT_EQ(host.unexpectedDialogs(), 1);
    ASSERT_EQ(host.dialogs().size(), 3u);
    EXPECT_EQ(host.dialogs()[1].text, "two");
    EXPECT_EQ(host.dialogs()[1].buttons, mbYesNo);
    EXPECT_EQ(host.dialogs()[1].answer, mrIgnore);

    host.AnswerRest(mrAbort);
    EXPECT_EQ(host.MessageDialog("four", TMsgDlgType::mtError, mbAbortRetry, 0), mrAbort);
    EXPECT_EQ(host.unexpectedDialogs(), 1);
}

TEST(ScriptedHostTest, RunsNumberedActionsOnceAndEveryActionEachTime) {
    ScriptedHost host;
    std::vector<std::string> log;
    host.OnProcessMessages(2, [&] {
        log.push_back("second");
        // An action may schedule a later one.
        host.OnProcessMessages(4, [&] { log.push_back("fourth"); });
    });
    host.OnProcessMessages(2, [&] { log.push_back("second again"); });
    host.OnEveryProcessMessages([&] { log.push_back("every"); });
    for (int i = 0; i < 4; ++i)
        host.ProcessMessages();
    EXPECT_EQ(log, (std::vector<std::string>{"every", "second", "second again", "every", "every",
                                             "fourth", "every"}));
    EXPECT_EQ(host.processMessagesCalls(), 4);
}

TEST(ScriptedHostTest, SleepTakesNoTimeButIsCounted) {
    ScriptedHost host;
    host.Sleep(100);
    host.Sleep(250);
    EXPECT_EQ(host.sleepCalls(), 2);
    EXPECT_EQ(host.sleptMilliseconds(), 350u);
}

} // namespace
} // namespace purgelet::ui
