// The about box shows the version and build CMake generated, and closes with its OK button,
// Enter or Escape.
#include "app/about.h"
#include "build_info.h"
#include "ui/scripted_host.h"

#include <gtest/gtest.h>

#include <string>

namespace purgelet {
namespace {

TEST(About, ShowsNameVersionAndBuildAndClosesWithOk) {
    ui::ScriptedHost host;
    TFAbout about(host);
    EXPECT_EQ(about.Name, "FAbout");
    EXPECT_EQ(about.lblProductName.Caption, "Quillon Purgelet 2005");
    EXPECT_EQ(about.lblProductLine.Caption, "Purgelet");
    EXPECT_EQ(about.lblVersion.Caption,
              std::string("Version ") + build::Version + " (build " + build::Id + ")");
    EXPECT_FALSE(std::string(build::Version).empty());
    EXPECT_EQ(std::string(build::Version).find('@'), std::string::npos); // substituted
    EXPECT_FALSE(std::string(build::Id).empty());
    EXPECT_EQ(std::string(build::Id).find('@'), std::string::npos);

    host.Click("btnOK");
    EXPECT_EQ(about.ShowModal(), mrOk);
    host.Key({ui::TKey::Enter});
    EXPECT_EQ(about.ShowModal(), mrOk);
    host.Key({ui::TKey::Escape});
    EXPECT_EQ(about.ShowModal(), mrOk);
    EXPECT_EQ(host.modalForms(), (std::vector<std::string>{"FAbout", "FAbout", "FAbout"}));
}

} // namespace
} // namespace purgelet
