// The proof dialog from the options page: what it keeps goes into the options (and the
// registry with them) and into the next run's record and certificate; Cancel keeps nothing.
#include "program_fixture.h"

#include "app/options.h"
#include "record/certificate.h"

#include <nlohmann/json.hpp>

namespace purgelet::testing {
namespace {

using ui::TWizardButton;

TEST_F(ProgramTest, TheProofDialogFillsTheRecordAndCancelLeavesTheSettingsAsTheyWere) {
    auto machine = ProgramMachine();
    machine["registry"]["HKEY_CURRENT_USER"]["Software\\Quillon\\Purgelet 2005"]["RecordFile"] =
        "1";
    machine["helpViewer"] = true; // documents can be opened
    Boot(machine);
    const std::string report = (pc_->folder() / "run.log").string();
    ASSERT_EQ(Start(), 0);
    ScriptTick({"D"});
    ScriptRunWithoutFormat([&] {
        host_.Toggle("cbGenerateReport").Type("edtLogFileName", report);
        // Cancelled: nothing of it is kept.
        host_.Click("btnProof").Type("edtOrganisation", "Nobody").Click("btnProofCancel");
        host_.Then([] { EXPECT_TRUE(Options->Attestation.Organisation.Name.empty()); });
        host_.Click("btnProof")
            .Type("edtOrganisation", "Example Recycling Ltd")
            .Type("edtOperatorName", "Zo\xEB M\xFCller") // the program's Windows-1252
            .Type("edtOperatorTitle", "Technician")
            .Type("edtValidatorName", "Ann Checker")
            .Choose("cbbConfidentiality", 3)
            .Choose("cbbBackupMade", 2)
            .Choose("cbbDestination", 2)
            .Click("btnProofOk");
        host_.Then([] {
            const record::TAttestation& kept = Options->Attestation;
            EXPECT_EQ(kept.Organisation.Name, "Example Recycling Ltd");
            EXPECT_EQ(kept.Media.Confidentiality, "high");
            EXPECT_EQ(kept.Media.Backup, "no");
            EXPECT_EQ(kept.Media.Destination, "recycle");
        });
    });
    host_.Answer(mrOk); // the run's end
    // The finished page says where the proof went, and opens the certificate.
    host_.Then([&] {
        const std::string& files = Main().lblProofFiles.Caption;
        EXPECT_NE(files.find("Report: " + report), std::string::npos) << files;
        EXPECT_NE(files.find("record: " + report + ".json"), std::string::npos) << files;
        EXPECT_TRUE(Main().btnOpenCertificate.Visible());
        EXPECT_TRUE(Main().btnOpenCertificate.UserClick());
    });
    Run();
    EXPECT_EQ(host_.unexpectedDialogs(), 0);
    {
        std::vector<std::string> opened;
        for (const auto& call : pc_->machine().calls)
            if (call.name == "ShellExecuteA")
                opened.push_back(call.device);
        EXPECT_EQ(opened, (std::vector<std::string>{"open " + report + ".pdf"}));
    }
    const auto record = nlohmann::json::parse(ReadFile(report + ".json")).back();
    EXPECT_EQ(record["organisation"]["name"], "Example Recycling Ltd");
    EXPECT_EQ(record["operator"]["person"], "Zo\xC3\xAB M\xC3\xBC"
                                            "ller");
    EXPECT_EQ(record["operator"]["title"], "Technician");
    EXPECT_EQ(record["validator"]["name"], "Ann Checker");
    EXPECT_EQ(record["media"],
              nlohmann::json(
                  {{"confidentiality", "high"}, {"backup", "no"}, {"destination", "recycle"}}));
    EXPECT_FALSE(record.contains("logo"));
}

} // namespace
} // namespace purgelet::testing
