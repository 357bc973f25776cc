// The program: initialisation before any window exists, then the entry (title, help file,
// language file check, updater, the four windows, the command line, the message loop). The
// application object owns the four windows; a renderer or a test hands in its Host.
#pragma once

#include "ui/host.h"

#include <memory>
#include <string>
#include <vector>

namespace purgelet {

class TFrmMain;
class TFrmDiskview;
class TAskDlg;
class TFAbout;
class TGUIDiskManager;

// The catalogue's texts from the language file; where the file cannot be read now, every
// text keeps its English default.
void LoadProgramTexts();
// The disk manager the program works with; null, once the user has been told, when the
// system's disks cannot be reached.
std::unique_ptr<TGUIDiskManager> CreateDiskManager(ui::Host& host);

class TPurgeletApp {
public:
    explicit TPurgeletApp(ui::Host& host);
    ~TPurgeletApp();
    TPurgeletApp(const TPurgeletApp&) = delete;
    TPurgeletApp& operator=(const TPurgeletApp&) = delete;

    // Initialisation and entry up to the message loop; 0 when the loop may run, else the
    // exit code of a start-up that ended (its message has been shown).
    int Start(const std::vector<std::string>& arguments);
    // The message loop, until the main window closes.
    void Run();
    // Start and Run: the whole program.
    int Main(const std::vector<std::string>& arguments);
    // A run with no one at the keyboard: the initialisation, the language file check and the
    // texts, as Start makes them, without the updater, any window or the command line; the run
    // makes its disk manager and options itself. 0, else the exit code of a start-up that
    // ended (its message has been shown).
    int StartUnattended();

    ui::Host& Host() { return host_; }
    std::string Title;             // the application title, as the task bar shows it
    std::string HelpFile;          // full path of the help file beside the executable
    std::string ExeFolder() const; // the executable's folder, with its separator

    // The four windows, created in this order by Start.
    std::unique_ptr<TFrmMain> FrmMain;
    std::unique_ptr<TFrmDiskview> FrmDiskview;
    std::unique_ptr<TAskDlg> AskDlg;
    std::unique_ptr<TFAbout> FAbout;

private:
    int Initialise();
    // Initialise, the title and help file, the language file check.
    int Prepare();
    // FrmMain; the exit code when its creation halted the program.
    int CreateMainWindow();

    ui::Host& host_;
};

} // namespace purgelet
