// The Windows host on real windows: posted messages travel as window messages and are handled
// in order, and a modal form disables its owner for as long as it is up.
#include "ui/controls.h"
#include "ui/win32/win32_host.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

namespace purgelet::ui::win32 {
namespace {

TEST(Win32Host, PostedMessagesAreHandledInOrderByTheMessageLoop) {
    Win32Host host;
    TForm form("Form", host, TForm::OuterFor(30, 10));
    std::vector<unsigned> handled;
    for (unsigned message : {1u, 2u, 3u})
        form.SetMessageHandler(message, [&handled, message] { handled.push_back(message); });
    form.Post(2);
    form.Post(1);
    form.Post(3);
    EXPECT_TRUE(handled.empty()); // nothing runs before the loop turns
    host.ProcessMessages();
    EXPECT_EQ(handled, (std::vector<unsigned>{2, 1, 3}));
}

TEST(Win32Host, AModalFormDisablesItsOwnerUntilItCloses) {
    Win32Host host;
    TForm main("Main", host, TForm::OuterFor(40, 12));
    TForm dialog("Dialog", host, TForm::OuterFor(20, 6));
    bool ownerEnabledDuring = true, dialogShown = false, ownerEnabledAfter = false;
    int result = 0;
    dialog.SetMessageHandler(2, [&] {
        ownerEnabledDuring = IsWindowEnabled(host.WindowOf(main)->Handle()) != FALSE;
        dialogShown = host.WindowOf(dialog) != nullptr &&
                      IsWindowVisible(host.WindowOf(dialog)->Handle()) != FALSE;
        dialog.ModalResult = mrYes;
    });
    main.SetMessageHandler(1, [&] {
        dialog.Post(2);
        result = dialog.ShowModal();
        ownerEnabledAfter = IsWindowEnabled(host.WindowOf(main)->Handle()) != FALSE;
        main.Close();
    });
    main.Show();
    main.Post(1);
    host.Run(main);
    EXPECT_TRUE(dialogShown);
    EXPECT_FALSE(ownerEnabledDuring);
    EXPECT_TRUE(ownerEnabledAfter);
    EXPECT_EQ(result, mrYes);
    EXPECT_TRUE(main.IsClosed());
    EXPECT_EQ(host.WindowOf(dialog), nullptr);
}

TEST(Win32Host, AnExceptionOutOfAHandlerGoesToTheErrorDisplay) {
    Win32Host host;
    std::vector<std::string> shown;
    host.OnException = [&shown](const std::exception& error) { shown.push_back(error.what()); };
    TForm form("Form", host, TForm::OuterFor(30, 10));
    form.SetMessageHandler(1, [] { throw std::runtime_error("the drive went away"); });
    form.Post(1);
    host.ProcessMessages();
    EXPECT_EQ(shown, std::vector<std::string>{"the drive went away"});
}

} // namespace
} // namespace purgelet::ui::win32
