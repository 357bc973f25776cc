#include "app/program.h"

#include "app/about.h"
#include "app/ask_dialog.h"
#include "app/disk_view.h"
#include "app/main_form.h"
#include "app/options.h"
#include "disk/disk_manager.h"
#include "disk/nt/format.h"
#include "lang/catalogue.h"
#include "lang/language.h"
#include "methods/generators.h"
#include "methods/method.h"
#include "platform/system.h"
#include "report/errorlog.h"
#include "report/exceptions.h"

#include <filesystem>

namespace purgelet {

void LoadProgramTexts() {
    try {
        LoadCatalogue();
    } catch (const XException&) {
        // The file was there a moment ago; without it every text keeps its English default.
    }
}

std::unique_ptr<TGUIDiskManager> CreateDiskManager(ui::Host& host) {
    try {
        return std::make_unique<TGUIDiskManager>(host);
    } catch (const std::exception&) {
        host.MessageDialog(CatalogueText("DISKIOERROR"), TMsgDlgType::mtError, mbOKButton, 0);
        return nullptr;
    }
}

TPurgeletApp::TPurgeletApp(ui::Host& host) : host_(host) {
    // The application's error display: what leaves an event handler is shown, and the
    // program goes on.
    host_.OnException = [this](const std::exception& error) {
        host_.MessageDialog(error.what(), TMsgDlgType::mtError, mbOKButton, 0);
    };
    host_.OnInterrupt = [this] {
        if (FrmMain)
            FrmMain->InterruptRequested();
    };
}

TPurgeletApp::~TPurgeletApp() {
    host_.OnException = nullptr;
    host_.OnInterrupt = nullptr;
    // The windows go in the reverse order of their creation; the main window's close handler
    // has saved the options when the program ended through it.
    FAbout.reset();
    AskDlg.reset();
    FrmDiskview.reset();
    FrmMain.reset();
}

std::string TPurgeletApp::ExeFolder() const {
    const std::filesystem::path exe(platform::k32().GetModuleFileNameA());
    return exe.parent_path().string() +
           static_cast<char>(std::filesystem::path::preferred_separator);
}

int TPurgeletApp::Initialise() {
    // The methods' RNDCH characters are drawn once, as they are read, from the clock's seed;
    // each wipe run seeds its own generators.
    TGenerators generators;
    Randomize(generators);
    try {
        LoadMethods(generators);
    } catch (const XException& error) {
        host_.MessageDialog(error.what(), TMsgDlgType::mtError, mbOKButton, 0);
        return 1;
    }
    InitErrorLog();
    LoadFormatLibrary(); // does nothing outside the NT family
    LanguageTable.Clear();
    ReadDesktopFolder();
    return 0;
}

int TPurgeletApp::Prepare() {
    if (int code = Initialise(); code != 0)
        return code;
    Title = "Quillon Purgelet 2005";
    HelpFile = "purgelet.hlp";

    auto& k = platform::k32();
    const std::string languageFile = k.GetModuleFileNameA() + ".lng";
    const DWORD attributes = k.GetFileAttributesA(languageFile.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        host_.MessageDialog("Language File Missing. Program halted.", TMsgDlgType::mtError,
                            mbOKButton, 0);
        return 1;
    }
    return 0;
}

int TPurgeletApp::CreateMainWindow() {
    try {
        FrmMain = std::make_unique<TFrmMain>(host_, *this);
    } catch (const ProgramHalt& halt) {
        return halt.ExitCode;
    }
    return 0;
}

int TPurgeletApp::Start(const std::vector<std::string>& arguments) {
    if (int code = Prepare(); code != 0)
        return code;

    // The updater runs beside us; whether it starts is not our concern.
    const std::string folder = ExeFolder();
    const std::string updater = "\"" + folder + "Update.exe\" \"" + folder + "Update.ini\"";
    platform::sys().shell32->WinExec(updater.c_str(), SW_SHOW);

    if (int code = CreateMainWindow(); code != 0)
        return code;
    FrmDiskview = std::make_unique<TFrmDiskview>(host_);
    AskDlg = std::make_unique<TAskDlg>(host_);
    FAbout = std::make_unique<TFAbout>(host_);
    FrmMain->Show();
    FrmMain->ProcessCommandLine(arguments);
    return 0;
}

int TPurgeletApp::StartUnattended() {
    if (int code = Prepare(); code != 0)
        return code;
    LoadProgramTexts();
    return 0;
}

void TPurgeletApp::Run() {
    if (FrmMain)
        host_.Run(*FrmMain);
}

int TPurgeletApp::Main(const std::vector<std::string>& arguments) {
    if (int code = Start(arguments); code != 0)
        return code;
    Run();
    return 0;
}

} // namespace purgelet
