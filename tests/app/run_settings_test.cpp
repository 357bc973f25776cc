// A run's settings from values: the wizard's pages and the unattended run hand the options and
// the method to the same code, so a run is made alike whichever of them starts it.
#include "program_fixture.h"

#include "app/run_settings.h"
#include "lang/catalogue.h"
#include "methods/method.h"

namespace purgelet::testing {
namespace {

using ui::TWizardButton;

// Every setting of a run, the report's options section and the proof fields included.
void ExpectSameSettings(const TWipeSettings& page, TWipeSettings values) {
    EXPECT_EQ(page.Method, values.Method);
    EXPECT_EQ(page.FormatPartitions, values.FormatPartitions);
    EXPECT_EQ(page.AllowUserAbort, values.AllowUserAbort);
    EXPECT_EQ(page.Unattended, values.Unattended);
    EXPECT_EQ(page.UseIsaac, values.UseIsaac);
    EXPECT_EQ(page.NoBuffering, values.NoBuffering);
    EXPECT_EQ(page.QuickEraseCDDVD, values.QuickEraseCDDVD);
    EXPECT_EQ(page.BufferBytes, values.BufferBytes);
    EXPECT_EQ(page.TransfersInFlight, values.TransfersInFlight);
    EXPECT_EQ(page.GenerateReportFile, values.GenerateReportFile);
    EXPECT_EQ(page.UseDoDLogStyle, values.UseDoDLogStyle);
    EXPECT_EQ(page.AppendLog, values.AppendLog);
    EXPECT_EQ(page.LogFileName, values.LogFileName);
    EXPECT_EQ(page.RecordFile, values.RecordFile);
    EXPECT_EQ(page.Certificate, values.Certificate);
    EXPECT_EQ(page.WipeInParallel, values.WipeInParallel);
    TWipeSettings shown = page;
    const auto pageProof = ProofSettings(shown.Attestation, shown.CertificateLogo);
    const auto valueProof = ProofSettings(values.Attestation, values.CertificateLogo);
    ASSERT_EQ(pageProof.size(), valueProof.size());
    for (std::size_t i = 0; i < pageProof.size(); ++i)
        EXPECT_EQ(*pageProof[i].second, *valueProof[i].second) << pageProof[i].first;

    const TReportSettings& a = page.Report;
    const TReportSettings& b = values.Report;
    EXPECT_EQ(a.MethodName, b.MethodName);
    EXPECT_EQ(a.OptionsCaption, b.OptionsCaption);
    EXPECT_EQ(a.BufferCaption, b.BufferCaption);
    EXPECT_EQ(a.BufferText, b.BufferText);
    for (const auto& [left, right] : {std::pair{&a.Before, &b.Before}, {&a.After, &b.After}}) {
        ASSERT_EQ(left->size(), right->size());
        for (std::size_t i = 0; i < left->size(); ++i) {
            EXPECT_EQ((*left)[i].Caption, (*right)[i].Caption);
            EXPECT_EQ((*left)[i].Checked, (*right)[i].Checked) << (*left)[i].Caption;
        }
    }
}

class RunSettingsTest : public ProgramTest {
protected:
    // What the unattended run makes of the options as they stand and the method box's choice.
    TWipeSettings FromValues() {
        const int index = Main().cbxAlgorithm.ItemIndex();
        const std::vector<TMethodChoice> methods = MethodChoices();
        return WipeSettingsOf(*Options, index >= 0 ? methods[static_cast<std::size_t>(index)]
                                                   : TMethodChoice{});
    }
};

TEST_F(RunSettingsTest, TheWizardsPagesAndTheOptionsAloneMakeTheSameRun) {
    Boot();
    {
        TPLOptions stored;
        stored.GenerateReportFile = true; // with no name: the default one is taken
        stored.LogFileName.clear();
        stored.UseDoDLogStyle = true;
        stored.OverwriteBuffer = 3;
        stored.UseIsaac = true;
        stored.NoBuffering = false;
        stored.QuickEraseCDDVD = true;
        stored.ShowAskDialog = true;
        stored.WipeInParallel = false;
        stored.Attestation.Operator.Person = "Jo Smith";
        stored.CertificateLogo = "logo.png";
    }
    ASSERT_EQ(Start(), 0);
    ASSERT_GE(Main().cbxAlgorithm.Count(), 3);
    EXPECT_FALSE(Options->LogFileName.empty());
    ExpectSameSettings(Main().WipeSettingsFromControls(), FromValues());
    // The first method is listed, the report's captions are the language file's.
    EXPECT_NE(FromValues().Method, nullptr);
    EXPECT_EQ(FromValues().Report.OptionsCaption, Main().gbWipeOptions.Caption);

    // Changed on the options page, and another method chosen.
    Main().JvWizard.SetActivePage(Main().JvWIPOptions);
    host_.Toggle("cbUseIsaac")
        .Toggle("cbAllowUserAbort")
        .Toggle("cbWipeWithoutIntervention")
        .Toggle("cbFormarPartitions")
        .Choose("cbbBuffer", 7);
    Run();
    Main().cbxAlgorithm.SetItemIndex(2);
    ExpectSameSettings(Main().WipeSettingsFromControls(), FromValues());
    EXPECT_EQ(FromValues().BufferBytes, 64 << 10);

    // No method chosen: none either way, and no name for the report.
    Main().cbxAlgorithm.SetItemIndex(-1);
    ExpectSameSettings(Main().WipeSettingsFromControls(), FromValues());
    EXPECT_EQ(FromValues().Method, nullptr);
    EXPECT_EQ(FromValues().Report.MethodName, "");
}

// The switches reach both alike: the wizard's command line through its pages, the values
// straight from the options.
TEST_F(RunSettingsTest, SwitchesGiveTheSameRunThroughThePagesAsWithout) {
    Boot();
    const std::string report = (pc_->folder() / "run.log").string();
    ASSERT_EQ(Start({"/R" + report, "/B5", "/U", "/W", "/N", "/K", "/A", "/M1"}), 0);
    EXPECT_EQ(Main().cbxAlgorithm.ItemIndex(), 1);
    ExpectSameSettings(Main().WipeSettingsFromControls(), FromValues());
    EXPECT_EQ(FromValues().LogFileName, report);
    EXPECT_EQ(FromValues().BufferBytes, 16 << 10);
}

} // namespace
} // namespace purgelet::testing
