// The whole program on a simulated PC, driven by a scripted user. The machine's "executable"
// lies in the test's scratch folder with copies of the shipped method files and language
// file, so a test can damage or remove them without touching the build.
#pragma once

#include "app/main_form.h"
#include "app/options.h"
#include "app/program.h"
#include "platform/sim/kernel32.h"
#include "platform/system.h"
#include "support/sim_pc.h"
#include "ui/scripted_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace purgelet::testing {

inline constexpr std::int64_t kPartC = 32768;   // byte offset of C: on the disk
inline constexpr std::int64_t kPartD = 2 << 20; // byte offset of D:
inline constexpr std::int64_t kPartLength = 1 << 20;
inline constexpr std::int64_t kStickSize = 512 << 10;

// One 8 MiB disk with C: (NTFS, in use) and D: (FAT32), a USB stick R:, a floppy drive A:
// with a 1.44 MB medium, and a network drive N:.
inline nlohmann::json ProgramMachine() {
    return nlohmann::json::parse(R"J({
      "executable": "app/purgelet.exe",
      "physicalDisks": [{"friendlyName": "SIM DISK 0", "deviceNumber": 0, "image": "disk.img",
                         "geometry": {"cylinders": 16, "tracksPerCylinder": 16,
                                      "sectorsPerTrack": 64, "bytesPerSector": 512}}],
      "drives": [
        {"letter": "C", "disk": 0, "offset": 32768, "length": 1048576, "partitionType": 7,
         "boot": true, "partitionNumber": 1, "displayName": "SYSTEM (C:)",
         "volume": {"label": "SYSTEM", "fileSystem": "NTFS", "freeBytes": 4096}},
        {"letter": "D", "disk": 0, "offset": 2097152, "length": 1048576, "partitionType": 12,
         "partitionNumber": 2, "displayName": "DATA (D:)",
         "volume": {"label": "DATA", "fileSystem": "FAT32"}},
        {"letter": "R", "kind": "removable", "image": "stick.img", "size": 524288,
         "displayName": "STICK (R:)", "volume": {"label": "STICK", "fileSystem": "FAT16"}},
        {"letter": "A", "kind": "floppy", "supportedMedia": ["F3_1Pt44_512"],
         "medium": {"type": "F3_1Pt44_512", "image": "floppy.img"}},
        {"letter": "N", "kind": "network", "image": "net.img", "size": 65536}
      ]})J");
}

class ProgramTest : public ::testing::Test {
protected:
    // Sets the machine up; the program starts with Start.
    // The whole disks stay out of the drive list unless the machine's registry asks for them:
    // the drive list is the drive letters', as the tests written for it expect; so does the
    // record (option RecordFile).
    void Boot(const nlohmann::json& machine = ProgramMachine()) {
        nlohmann::json booted = machine;
        auto& options = booted["registry"]["HKEY_CURRENT_USER"]["Software\\Quillon\\Purgelet 2005"];
        if (!options.contains("ShowWholeDisks"))
            options["ShowWholeDisks"] = "0";
        // No record unless the test asks for one: these machines have no desktop, and a run's
        // record would go to the test's working folder, where every run keeps its own.
        if (!options.contains("RecordFile"))
            options["RecordFile"] = "0";
        pc_ = std::make_unique<SimPC>(booted);
        const std::filesystem::path real(NativeModule());
        const std::filesystem::path app = pc_->folder() / "app";
        std::filesystem::create_directories(app / "Methods");
        for (const auto& entry :
             std::filesystem::directory_iterator(real.parent_path() / "Methods"))
            std::filesystem::copy_file(entry.path(), app / "Methods" / entry.path().filename());
        std::filesystem::copy_file(real.string() + ".lng", app / "purgelet.exe.lng");
        // Every image starts full of old data, so that a wipe shows in every byte.
        for (const char* image : {"disk.img", "stick.img", "floppy.img"})
            Fill(image, 0xAA);
    }
    // The program up to its message loop; the script given so far runs in Run.
    int Start(const std::vector<std::string>& arguments = {}) {
        app_ = std::make_unique<TPurgeletApp>(host_);
        return app_->Start(arguments);
    }
    void Run() { app_->Run(); }

    void TearDown() override {
        app_.reset();
        pc_.reset();
    }

    static std::string NativeModule() {
        static const std::string path =
            platform::CreateNativeSystem()->kernel32->GetModuleFileNameA();
        return path;
    }
    std::filesystem::path AppFolder() const { return pc_->folder() / "app"; }
    void Fill(const std::string& image, std::uint8_t value) {
        std::error_code ec;
        const auto size = std::filesystem::file_size(pc_->folder() / image, ec);
        if (ec)
            return;
        pc_->WriteImage(image, 0, std::vector<std::uint8_t>(size, value));
    }
    // Whether every byte of the range holds value.
    bool All(const std::string& image, std::int64_t offset, std::int64_t size,
             std::uint8_t value) const {
        const auto bytes = pc_->ReadImage(image, offset, size);
        if (static_cast<std::int64_t>(bytes.size()) != size)
            return false;
        for (std::uint8_t b : bytes)
            if (b != value)
                return false;
        return true;
    }
    std::string ReadFile(const std::filesystem::path& path) const {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    TFrmMain& Main() { return *app_->FrmMain; }
    // The texts of the dialogs the program showed, in order.
    std::vector<std::string> DialogTexts() const {
        std::vector<std::string> texts;
        for (const auto& dialog : host_.dialogs())
            texts.push_back(dialog.text);
        return texts;
    }
    // Whether a dialog the program showed holds part.
    bool Told(const std::string& part) const {
        return std::any_of(host_.dialogs().begin(), host_.dialogs().end(), [&](const auto& dialog) {
            return dialog.text.find(part) != std::string::npos;
        });
    }
    // The drive list row of a disk by its name ("C"); -1 when it has none.
    int RowOf(const std::string& name) {
        auto& list = Main().lwDisksList;
        for (int i = 0; i < list.Count(); ++i)
            if (auto* disk = static_cast<TDisk*>(list.Items(i).Data); disk && disk->Name == name)
                return i;
        return -1;
    }
    // Script: from the welcome page to the drive list, ticking the named drives.
    void ScriptTick(const std::vector<std::string>& names) {
        host_.Press(ui::TWizardButton::Next);
        for (const auto& name : names)
            host_.Then([this, name] {
                const int row = RowOf(name);
                ASSERT_GE(row, 0) << name;
                ASSERT_TRUE(Main().lwDisksList.UserToggle(row));
            });
    }
    // Script: on the method page, the method shown as name chosen; its description is kept in
    // description.
    void ScriptChooseMethod(const std::string& name, std::string& description) {
        host_.Then([this, name, &description] {
            auto& box = Main().cbxAlgorithm;
            for (int i = 0; i < box.Count(); ++i)
                if (box.Items(i).Text == name)
                    box.SetItemIndex(i);
            Main().cbxAlgorithmChange();
            description = Main().lblMethodDescription.Caption;
        });
    }
    // Script: Next through the method and options pages to the confirmation, with the format
    // after the wipe switched off and what options scripts on the options page, then into the
    // wipe.
    void ScriptRunWithoutFormat(const std::function<void()>& options = {}) {
        host_.Press(ui::TWizardButton::Next).Press(ui::TWizardButton::Next);
        host_.Toggle("cbFormarPartitions");
        if (options)
            options();
        host_.Press(ui::TWizardButton::Next).Press(ui::TWizardButton::Next);
    }

    ui::ScriptedHost host_;
    std::unique_ptr<SimPC> pc_;
    std::unique_ptr<TPurgeletApp> app_;
};

} // namespace purgelet::testing
