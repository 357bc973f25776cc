// Escape on a modal form: the cancel button when there is one, else a close (only on forms
// that ask for it), which the close query may refuse.
#include "ui/controls.h"
#include "ui/form.h"
#include "ui/scripted_host.h"

#include <gtest/gtest.h>

namespace purgelet::ui {
namespace {

struct Dialog : TForm {
    explicit Dialog(Host& host)
        : TForm("Dialog", host, OuterFor(20, 3)), ok(Add<TButton>("ok", TRect{1, 1, 6, 1})),
          cancel(Add<TButton>("cancel", TRect{8, 1, 8, 1})) {
        ok.ModalResult = mrOk;
        cancel.OnClick = [this] { ++cancelClicks; };
        cancel.ModalResult = mrAbort;
        OnClose = [this] { ++closes; };
    }
    TButton& ok;
    TButton& cancel;
    int cancelClicks = 0;
    int closes = 0;
};

TEST(FormEscape, PressesTheCancelButtonElseClosesWhereAllowed) {
    ScriptedHost host;
    Dialog dialog(host);
    dialog.CancelButton = &dialog.cancel;
    dialog.EscapeCloses = true;
    host.Key({TKey::Escape});
    EXPECT_EQ(dialog.ShowModal(), mrAbort);
    EXPECT_EQ(dialog.cancelClicks, 1);
    EXPECT_EQ(dialog.closes, 0);

    dialog.CancelButton = nullptr;
    host.Key({TKey::Escape});
    EXPECT_EQ(dialog.ShowModal(), mrCancel);
    EXPECT_EQ(dialog.cancelClicks, 1);
    EXPECT_EQ(dialog.closes, 1);

    // Refused by the close query, then allowed.
    bool allow = false;
    dialog.OnCloseQuery = [&] { return allow; };
    host.Key({TKey::Escape}).Then([&] {
        EXPECT_TRUE(dialog.IsModal());
        allow = true;
    });
    host.Key({TKey::Escape});
    EXPECT_EQ(dialog.ShowModal(), mrCancel);

    // A form that does not ask for it ignores Escape.
    dialog.EscapeCloses = false;
    host.Key({TKey::Escape}).Then([&] { EXPECT_TRUE(dialog.IsModal()); }).Click("ok");
    EXPECT_EQ(dialog.ShowModal(), mrOk);
}

} // namespace
} // namespace purgelet::ui
