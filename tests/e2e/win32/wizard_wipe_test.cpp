// purgelet.exe under Wine on a simulated PC, driven through its windows as a user would: the
// whole wizard with two drives wiped and a report, every page with the keyboard alone, real
// clicks on the drive list and the method list, a wipe aborted midway, the main window's close
// refusal, a damaged machine file, and the pages at 144 DPI. Screenshots of every page and of
// message dialogs go to build/win32/screens/ (build/win64/screens/ where the tests run as
// 64-bit programs).
#include "e2e/win32/gui_driver.h"
#include "ui/win32/control_id.h"
#include "ui/win32/form_window.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace purgelet::testing::gui {
namespace {

using ui::win32::HeaderTitleId;

constexpr std::int64_t MiB = 1 << 20;
// Disk 0: the partition table's first MiB, C: (in use), F:, D:, and a free tail.
constexpr std::int64_t C_Offset = MiB, C_Length = 3 * MiB;
constexpr std::int64_t F_Offset = 4 * MiB, F_Length = MiB;
constexpr std::int64_t D_Offset = 5 * MiB, D_Length = 2 * MiB;
constexpr std::int64_t DiskSize = 8 * MiB;
constexpr std::uint8_t Fill = 0xAA;

std::string ExeFolder() {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder = path;
    return folder.substr(0, folder.find_last_of("\\/") + 1);
}

std::string ScreensFolder() {
    std::string folder = ExeFolder() + "..\\screens\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

std::string JsonPath(std::string path) {
    std::string out;
    for (char c : path)
        out += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return out;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    while (!lines.empty() && lines.back().empty())
        lines.pop_back();
    return lines;
}

// Wine draws the windows' frames itself (no window manager runs on the test display), as
// Windows would: the screenshots show the caption and its buttons.
class WineFrames : public ::testing::Environment {
public:
    void SetUp() override {
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\X11 Driver", 0, nullptr, 0,
                            KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
            RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
            RegCloseKey(key);
        }
    }
};
const auto* const wineFrames = ::testing::AddGlobalTestEnvironment(new WineFrames);

class WizardWipe : public ::testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH] = "";
        GetTempPathA(MAX_PATH, temp);
        folder_ = std::string(temp) + "purgelet-gui-" + std::to_string(GetCurrentProcessId()) +
                  "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        CreateDirectoryA(folder_.c_str(), nullptr);
        folder_ += "\\";
        std::ofstream(folder_ + "disk.img", std::ios::binary)
            << std::string(static_cast<std::size_t>(DiskSize), static_cast<char>(Fill));
        WriteMachine(3 * MiB);
        report_ = folder_ + "report.txt";
    }

    void TearDown() override {
        process_.reset(); // a program still running ends before its files go
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    // The machine file; the disk moves bytesPerSecond.
    void WriteMachine(std::int64_t bytesPerSecond) {
        std::ofstream(folder_ + "machine.json") << R"json({"imageDir": ")json" << JsonPath(folder_)
                                                << R"json(",
  "physicalDisks": [{"friendlyName": "GUI DISK", "deviceNumber": 0, "image": "disk.img",
    "bytesPerSecond": )json" << bytesPerSecond << R"json(,
    "geometry": {"cylinders": 16, "tracksPerCylinder": 16, "sectorsPerTrack": 64,
                 "bytesPerSector": 512}}],
  "drives": [
    {"letter": "C", "disk": 0, "offset": 1048576, "length": 3145728, "partitionType": 7,
     "partitionNumber": 1, "inUse": true, "displayName": "SYSTEM (C:)",
     "volume": {"label": "SYSTEM", "fileSystem": "NTFS"}},
    {"letter": "F", "disk": 0, "offset": 4194304, "length": 1048576, "partitionType": 12,
     "partitionNumber": 2, "displayName": "KEEP (F:)",
     "volume": {"label": "KEEP", "fileSystem": "FAT32"}},
    {"letter": "D", "disk": 0, "offset": 5242880, "length": 2097152, "partitionType": 12,
     "partitionNumber": 3, "displayName": "DATA (D:)",
     "volume": {"label": "DATA", "fileSystem": "FAT32"}}]})json";
    }

    void Start(const std::string& machine = "") {
        process_ = std::make_unique<TProcess>(
            ExeFolder() + "purgelet.exe", folder_,
            std::vector<std::pair<std::string, std::string>>{
                {"PURGELET_MACHINE", machine.empty() ? folder_ + "machine.json" : machine}});
        ASSERT_TRUE(process_->Started());
        ASSERT_TRUE(WaitUntil([this] { return (main_ = process_->MainWindow()) != nullptr; }))
            << "no main window";
        ASSERT_TRUE(WaitUntil([this] {
            return TextOf(ChildByName(main_, "lblWelcomeText")).find("wizard") != std::string::npos;
        })) << "no welcome text";
    }

    std::string Title() const { return TextOf(Child(main_, HeaderTitleId)); }
    void Screenshot(HWND window, const std::string& name) {
        Sleep(300); // the last paint
        EXPECT_TRUE(Capture(window).SavePng(ScreensFolder() + name)) << name;
    }
    void Next() { Click(ChildByName(main_, "ButtonNext")); }
    void WaitForPage(const std::string& title) {
        ASSERT_TRUE(WaitUntil([&] { return Title() == title; }))
            << "waited for the page " << title << ", the header says " << Title();
    }
    int Row(HWND list, const std::string& caption) {
        for (int i = 0; i < process_->ListCount(list); ++i)
            if (process_->ListText(list, i) == caption)
                return i;
        return -1;
    }

    // From the welcome page to the confirmation page with the drives ticked, the first
    // method and a report.
    void ToConfirmation(const std::vector<std::string>& drives, bool screens) {
        if (screens)
            Screenshot(main_, "01-welcome.png");
        Next();
        WaitForPage("Data Selection");
        HWND list = ChildByName(main_, "lwDisksList");
        ASSERT_TRUE(WaitUntil([&] { return Row(list, drives.front()) >= 0; }));
        EXPECT_FALSE(IsWindowEnabled(ChildByName(main_, "ButtonNext")));
        for (const auto& drive : drives) {
            const int row = Row(list, drive);
            process_->ListSetChecked(list, row, true);
            ASSERT_TRUE(WaitUntil([&] { return process_->ListChecked(list, row); }));
        }
        // A header row refuses a tick: the model says it has no box.
        process_->ListSetChecked(list, 1, true);
        ASSERT_TRUE(WaitUntil([&] { return !process_->ListChecked(list, 1); }));
        ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(ChildByName(main_, "ButtonNext")); }));
        if (screens) {
            Screenshot(main_, "02-drives.png");
            CheckRuleRow(list);
        }

        Next();
        WaitForPage("Algorithm Selection");
        Choose(ChildByName(main_, "cbxAlgorithm"), 0);
        method_ = TextOf(ChildByName(main_, "cbxAlgorithm"));
        if (screens)
            Screenshot(main_, "03-method.png");

        Next();
        WaitForPage("Wipe Options");
        HWND format = ChildByName(main_, "cbFormarPartitions");
        if (SendMessageA(format, BM_GETCHECK, 0, 0) == BST_CHECKED)
            Click(format);
        ASSERT_TRUE(WaitUntil([&] { return SendMessageA(format, BM_GETCHECK, 0, 0) == 0; }));
        HWND report = ChildByName(main_, "cbGenerateReport");
        if (SendMessageA(report, BM_GETCHECK, 0, 0) != BST_CHECKED)
            Click(report);
        HWND path = ChildByName(main_, "edtLogFileName");
        ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(path) != FALSE; }));
        HWND append = ChildByName(main_, "cbAppendLog");
        if (SendMessageA(append, BM_GETCHECK, 0, 0) == BST_CHECKED)
            Click(append);
        Type(path, report_);
        ASSERT_TRUE(WaitUntil([&] { return TextOf(path) == report_; }));
        if (screens)
            Screenshot(main_, "04-options.png");

        Next();
        WaitForPage("Confirmation");
        const std::string operations = TextOf(ChildByName(main_, "mmOperations"));
        for (const auto& drive : drives)
            EXPECT_NE(operations.find("  - " + drive), std::string::npos) << operations;
        EXPECT_NE(operations.find(report_), std::string::npos) << operations;
        if (screens)
            Screenshot(main_, "05-confirmation.png");
    }

    // The list's rule rows: a gradient from RGB(63,105,255) on the left to RGB(214,223,247).
    void CheckRuleRow(HWND list) {
        const int row = Row(list, "-");
        ASSERT_GE(row, 0);
        const RECT item = process_->ListItemRect(list, row);
        POINT origin{item.left, item.top};
        ClientToScreen(list, &origin);
        RECT window;
        GetWindowRect(main_, &window);
        const TPicture picture = Capture(main_);
        const int y = origin.y - window.top;
        const int x = origin.x - window.left;
        EXPECT_TRUE(Near(picture.At(x + 1, y), RGB(63, 105, 255), 12))
            << std::hex << picture.At(x + 1, y);
        // The right end: the last gradient pixel before the list's background.
        int end = x + 1;
        while (end + 1 < picture.Width && !Near(picture.At(end + 1, y), RGB(255, 255, 255), 2))
            ++end;
        EXPECT_GT(end - x, 100);
        EXPECT_TRUE(Near(picture.At(end, y), RGB(214, 223, 247), 12))
            << std::hex << picture.At(end, y);
        // The row below the line is the list's background: the rule is one line.
        EXPECT_TRUE(Near(picture.At(x + 20, y + 3), RGB(255, 255, 255), 8));
    }

    // Answers every dialog with the button of that caption (the first when none), until the
    // page appears; the dialogs' texts are kept.
    void AnswerDialogsUntil(const std::string& page, const std::string& answer,
                            const std::string& screen = "") {
        ASSERT_TRUE(WaitUntil(
            [&] {
                if (HWND dialog = process_->Dialog()) {
                    const std::string text = TextOf(ChildByName(dialog, "Message"));
                    dialogs_.push_back(text);
                    if (!screen.empty() && dialogs_.size() == 1)
                        Screenshot(dialog, screen);
                    HWND button = ButtonByCaption(dialog, answer);
                    if (button == nullptr)
                        button = GetDlgItem(dialog, ui::win32::ControlIdOf("ButtonOK"));
                    EXPECT_NE(button, nullptr) << text;
                    Click(button);
                    WaitUntil([&] { return process_->Dialog() != dialog; }, 5000);
                }
                return Title() == page;
            },
            60000))
            << "waited for " << page;
    }

    std::string TitleAfter() {
        Sleep(200);
        return Title();
    }
    // A dialog's buttons stand inside its client area with a margin below them.
    void CheckButtonsInside(HWND dialog) {
        RECT client;
        GetClientRect(dialog, &client);
        for (const TChild& child : VisibleChildren(dialog)) {
            if (lstrcmpiA(child.ClassName.c_str(), "Button") != 0)
                continue;
            RECT r = child.Rect;
            MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
            EXPECT_GE(client.bottom - r.bottom, 4) << TextOf(child.Window) << " touches the edge";
        }
    }

    std::vector<std::uint8_t> Image() {
        const std::string data = ReadFile(folder_ + "disk.img");
        return {data.begin(), data.end()};
    }
    static bool All(const std::vector<std::uint8_t>& image, std::int64_t offset,
                    std::int64_t length, std::uint8_t value) {
        return std::all_of(image.begin() + offset, image.begin() + offset + length,
                           [value](std::uint8_t b) { return b == value; });
    }

    std::string folder_;
    std::string report_;
    std::string method_;
    std::unique_ptr<TProcess> process_;
    HWND main_ = nullptr;
    std::vector<std::string> dialogs_;
};

TEST_F(WizardWipe, TwoDrivesThroughEveryPageToFinish) {
    Start();
    ToConfirmation({"SYSTEM (C:)", "DATA (D:)"}, true);
    Next();
    // C: is in use: the lock asks to force the dismount.
    ASSERT_TRUE(WaitUntil([this] { return process_->Dialog() != nullptr; }));
    HWND question = process_->Dialog();
    Screenshot(question, "06-message-dialog.png");
    Click(ButtonByCaption(question, "&Yes"));
    WaitForPage("Wiping");
    Screenshot(main_, "07-wipe.png");
    AnswerDialogsUntil("Finished", "OK");
    Screenshot(main_, "08-finished.png");
    Click(ChildByName(main_, "ButtonFinish"));
    ASSERT_EQ(process_->Wait(20000), 0);

    const auto image = Image();
    EXPECT_TRUE(All(image, 0, C_Offset, Fill)) << "the partition table changed";
    EXPECT_TRUE(All(image, C_Offset, C_Length, 0)) << "C: is not all zeros";
    EXPECT_TRUE(All(image, F_Offset, F_Length, Fill)) << "F: changed";
    EXPECT_TRUE(All(image, D_Offset, D_Length, 0)) << "D: is not all zeros";
    EXPECT_TRUE(All(image, D_Offset + D_Length, DiskSize - D_Offset - D_Length, Fill));

    const auto lines = Lines(ReadFile(report_));
    ASSERT_GE(lines.size(), 4u) << ReadFile(report_);
    auto find = [&](const std::string& text, std::size_t from) {
        for (std::size_t i = from; i < lines.size(); ++i)
            if (lines[i].find(text) != std::string::npos)
                return i;
        return lines.size();
    };
    const std::size_t method = find(method_, 0);
    const std::size_t c = find("SYSTEM (C:)", 0);
    const std::size_t d = find("DATA (D:)", c);
    EXPECT_LT(method, lines.size()) << ReadFile(report_);
    EXPECT_LT(c, d) << ReadFile(report_);
    EXPECT_LT(d, lines.size()) << ReadFile(report_);
    EXPECT_EQ(find("KEEP (F:)", 0), lines.size()) << ReadFile(report_);
    // The last drive's section ends with the run's outcome, then the closing rule.
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2].rfind("WIPE COMPLETED at", 0), 0u) << ReadFile(report_);
    EXPECT_EQ(lines.back().rfind("*****", 0), 0u) << ReadFile(report_);
}

TEST_F(WizardWipe, AbortMidWipeThenTheSameDriveAgain) {
    WriteMachine(MiB); // three seconds for C:, time to abort in the middle
    Start();
    ToConfirmation({"SYSTEM (C:)"}, false);
    Next();
    ASSERT_TRUE(WaitUntil([this] { return process_->Dialog() != nullptr; }));
    Click(ButtonByCaption(process_->Dialog(), "&Yes"));
    WaitForPage("Wiping");
    HWND abort = ChildByName(main_, "btnAbort");
    ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(abort) != FALSE; }));
    Click(abort);
    AnswerDialogsUntil("Finished", "&Yes", "09-abort-question.png");
    const auto lines = Lines(ReadFile(report_));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2].rfind("WIPE ABORTED at", 0), 0u) << ReadFile(report_);
    EXPECT_FALSE(All(Image(), C_Offset, C_Length, 0)) << "the abort came too late";

    // The device and its lock were released: the same drive wipes again in the same program.
    Click(ChildByName(main_, "rbRestartWizard"));
    ASSERT_TRUE(WaitUntil([&] {
        return SendMessageA(ChildByName(main_, "rbRestartWizard"), BM_GETCHECK, 0, 0) ==
               BST_CHECKED;
    }));
    Click(ChildByName(main_, "ButtonFinish"));
    WaitForPage("Data Selection");
    for (const char* page : {"Algorithm Selection", "Wipe Options", "Confirmation", "Wiping"}) {
        ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(ChildByName(main_, "ButtonNext")); }));
        Next();
        WaitForPage(page);
    }
    AnswerDialogsUntil("Finished", "OK");
    Click(ChildByName(main_, "rbExitProgram"));
    Click(ChildByName(main_, "ButtonFinish"));
    ASSERT_EQ(process_->Wait(20000), 0);
    EXPECT_TRUE(All(Image(), C_Offset, C_Length, 0)) << "the second wipe did not finish";
}

TEST_F(WizardWipe, CloseIsRefusedMinimiseWorksCancelEnds) {
    Start();
    // The system menu's Close, Alt+F4 and the taskbar all end in WM_CLOSE: refused.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(main_, WM_SYSCOMMAND, SC_CLOSE, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
    SendMessageTimeoutA(main_, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
    Sleep(300);
    EXPECT_TRUE(IsWindow(main_) && IsWindowVisible(main_)) << "WM_CLOSE closed the wizard";
    EXPECT_TRUE(process_->Running());
    EXPECT_EQ(GetWindowLongA(main_, GWL_STYLE) & WS_MAXIMIZEBOX, 0);
    SendMessageTimeoutA(main_, WM_SYSCOMMAND, SC_MINIMIZE, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
    EXPECT_TRUE(WaitUntil([this] { return IsIconic(main_) != FALSE; }, 5000));
    SendMessageTimeoutA(main_, WM_SYSCOMMAND, SC_RESTORE, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
    EXPECT_TRUE(WaitUntil([this] { return IsIconic(main_) == FALSE; }, 5000));

    Click(ChildByName(main_, "ButtonCancel"));
    EXPECT_EQ(process_->Wait(20000), 0);
}

TEST_F(WizardWipe, KeysMoveThroughTheWizard) {
    Start();
    // Enter presses the focused Next, Alt+B presses "< Back", and the keys reach the form
    // whichever of its controls has the focus.
    HWND next = ChildByName(main_, "ButtonNext");
    PostMessageA(next, WM_KEYDOWN, VK_RETURN, 0);
    WaitForPage("Data Selection");
    HWND list = ChildByName(main_, "lwDisksList");
    ASSERT_TRUE(WaitUntil([&] { return Row(list, "SYSTEM (C:)") >= 0; }));
    PostMessageA(list, WM_SYSCHAR, 'b', 1 << 29);
    ASSERT_TRUE(WaitUntil([this] { return Title().empty(); })) << Title(); // the welcome page
    EXPECT_TRUE(IsWindowVisible(ChildByName(main_, "lblWelcomeText")));
    PostMessageA(next, WM_SYSCHAR, 'n', 1 << 29);
    WaitForPage("Data Selection");
    Click(ChildByName(main_, "ButtonCancel"));
    EXPECT_EQ(process_->Wait(20000), 0);
}

// A user without a mouse: every page with real keys (SendInput) only, to the end of a wipe.
TEST_F(WizardWipe, EveryPageWithTheKeyboardAlone) {
    ParkPointer(); // an open list follows the pointer over it
    Start();
    ASSERT_TRUE(Activate(main_));
    EXPECT_EQ(FocusOf(main_), ChildByName(main_, "ButtonNext"));
    PressKey(VK_RETURN);
    WaitForPage("Data Selection");
    HWND list = ChildByName(main_, "lwDisksList");
    ASSERT_TRUE(WaitUntil([&] { return Row(list, "SYSTEM (C:)") >= 0; }));
    auto selected = [&] {
        return static_cast<int>(
            SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    };
    // The list has the keyboard, on its first drive row.
    ASSERT_TRUE(WaitUntil([&] { return FocusOf(main_) == list; }));
    ASSERT_TRUE(WaitUntil([&] { return selected() == Row(list, "SYSTEM (C:)"); }));
    Screenshot(main_, "17-drives-keyboard.png");
    // Down passes to the next drive row and the details bar shows it; Space ticks it.
    HWND details = ChildByName(main_, "JvXPBarDetails");
    PressKey(VK_DOWN);
    ASSERT_TRUE(WaitUntil([&] { return selected() == Row(list, "DATA (D:)"); }));
    ASSERT_TRUE(WaitUntil([&] {
        RECT r;
        return IsWindowVisible(details) && GetWindowRect(details, &r) &&
               r.bottom - r.top > 3 * ui::win32::TUnits{}.Y / 2;
    })) << "the details bar shows no lines";
    PressKey(VK_SPACE);
    ASSERT_TRUE(WaitUntil([&] { return process_->ListChecked(list, Row(list, "DATA (D:)")); }));
    EXPECT_FALSE(process_->ListChecked(list, Row(list, "SYSTEM (C:)")));
    // Up passes back over the header rows, and the ends go to the first and last drive rows.
    PressKey(VK_END);
    ASSERT_TRUE(WaitUntil([&] { return selected() == Row(list, "GUI DISK (cannot be wiped)"); }));
    PressKey(VK_HOME);
    ASSERT_TRUE(WaitUntil([&] { return selected() == Row(list, "SYSTEM (C:)"); }));
    ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(ChildByName(main_, "ButtonNext")); }));
    Screenshot(main_, "18-drives-details.png");

    PressKey(VK_RETURN);
    WaitForPage("Algorithm Selection");
    // The method list has the keyboard; Alt+Down opens it, Down and Enter choose.
    HWND methods = ChildByName(main_, "cbxAlgorithm");
    ASSERT_TRUE(WaitUntil([&] { return FocusOf(main_) == methods; }));
    const auto first = SendMessageA(methods, CB_GETCURSEL, 0, 0);
    PressKey(VK_DOWN, false, true);
    ASSERT_TRUE(WaitUntil([&] { return SendMessageA(methods, CB_GETDROPPEDSTATE, 0, 0) != 0; }));
    Screenshot(main_, "19-method-list-open.png");
    PressKey(VK_DOWN);
    PressKey(VK_RETURN);
    ASSERT_TRUE(WaitUntil([&] { return SendMessageA(methods, CB_GETDROPPEDSTATE, 0, 0) == 0; }));
    EXPECT_EQ(SendMessageA(methods, CB_GETCURSEL, 0, 0), first + 1);
    // Back to the first method, a single pass of zeros.
    PressKey(VK_UP);
    ASSERT_TRUE(WaitUntil([&] { return SendMessageA(methods, CB_GETCURSEL, 0, 0) == first; }));
    EXPECT_EQ(TitleAfter(), "Algorithm Selection");

    PressKey(VK_RETURN);
    WaitForPage("Wipe Options");
    Screenshot(main_, "20-options-keyboard.png");
    // Tab to "Format Partitions" and Space unticks it: the drive is left all zeros.
    HWND format = ChildByName(main_, "cbFormarPartitions");
    for (int i = 0; i < 20 && FocusOf(main_) != format; ++i)
        PressKey(VK_TAB);
    ASSERT_EQ(FocusOf(main_), format);
    if (SendMessageA(format, BM_GETCHECK, 0, 0) == BST_CHECKED)
        PressKey(VK_SPACE);
    ASSERT_TRUE(WaitUntil([&] { return SendMessageA(format, BM_GETCHECK, 0, 0) == 0; }));
    PressKey(VK_RETURN);
    WaitForPage("Confirmation");
    Screenshot(main_, "21-confirmation-keyboard.png");
    PressKey(VK_RETURN);
    // The end of the run is told in a message box; Enter presses its OK.
    ASSERT_TRUE(WaitUntil([this] { return process_->Dialog() != nullptr; }, 60000));
    HWND box = process_->Dialog();
    Screenshot(box, "22-end-of-run.png");
    CheckButtonsInside(box);
    ASSERT_TRUE(Activate(box));
    PressKey(VK_RETURN);
    WaitForPage("Finished");
    // The keyboard is on the chosen way out, and Enter takes it.
    HWND exit = ChildByName(main_, "rbExitProgram");
    ASSERT_TRUE(WaitUntil([&] { return FocusOf(main_) == exit; }));
    EXPECT_EQ(SendMessageA(exit, BM_GETCHECK, 0, 0), BST_CHECKED);
    Screenshot(main_, "23-finished-keyboard.png");
    PressKey(VK_RETURN);
    ASSERT_EQ(process_->Wait(20000), 0);
    EXPECT_TRUE(All(Image(), D_Offset, D_Length, 0)) << "D: is not all zeros";
    EXPECT_TRUE(All(Image(), C_Offset, C_Length, Fill)) << "C: changed";
}

// The mouse: a click on a row shows its details and "View Disk", a click on a box ticks it, and
// a click on the method list opens it with the methods in view.
TEST_F(WizardWipe, ClicksShowTheDetailsAndOpenTheMethodList) {
    ParkPointer();
    Start();
    ASSERT_TRUE(Activate(main_));
    Next();
    WaitForPage("Data Selection");
    HWND list = ChildByName(main_, "lwDisksList");
    ASSERT_TRUE(WaitUntil([&] { return Row(list, "KEEP (F:)") >= 0; }));
    const int rowHeight = ui::win32::TTheme().Units.Y; // the program's, at this DPI
    auto rows = [](HWND bar) {
        RECT r{};
        return IsWindowVisible(bar) && GetWindowRect(bar, &r) ? r.bottom - r.top : 0;
    };
    HWND details = ChildByName(main_, "JvXPBarDetails");
    HWND functions = ChildByName(main_, "JvXPBarFunctions");
    RECT keep = process_->ListItemRect(list, Row(list, "KEEP (F:)"));
    ClickAt(list, keep.left + 80, (keep.top + keep.bottom) / 2);
    ASSERT_TRUE(WaitUntil([&] { return rows(details) > 3 * rowHeight; }))
        << "the details bar shows no lines after a click on a row";
    EXPECT_GE(rows(functions), 3 * rowHeight) << "no View Disk";
    EXPECT_FALSE(process_->ListChecked(list, Row(list, "KEEP (F:)")));

    // The box of another row: ticked, and its details shown.
    RECT data = process_->ListItemRect(list, Row(list, "DATA (D:)"));
    ClickAt(list, data.left + 9, (data.top + data.bottom) / 2);
    ASSERT_TRUE(WaitUntil([&] { return process_->ListChecked(list, Row(list, "DATA (D:)")); }));
    ASSERT_TRUE(WaitUntil([&] {
        return SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED) ==
               Row(list, "DATA (D:)");
    }));
    EXPECT_GT(rows(details), 3 * rowHeight);
    Screenshot(main_, "24-drives-clicked.png");

    Next();
    WaitForPage("Algorithm Selection");
    HWND methods = ChildByName(main_, "cbxAlgorithm");
    RECT field;
    GetClientRect(methods, &field);
    ClickAt(methods, field.right - 5, field.bottom / 2);
    ASSERT_TRUE(WaitUntil([&] { return SendMessageA(methods, CB_GETDROPPEDSTATE, 0, 0) != 0; }));
    // The open list: a window of its own on the desktop.
    HWND dropped = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
        const auto lists = process_->Windows("ComboLBox");
        dropped = lists.empty() ? nullptr : lists.front();
        return dropped != nullptr;
    }));
    RECT open;
    GetWindowRect(dropped, &open);
    const auto itemHeight = static_cast<int>(SendMessageA(methods, CB_GETITEMHEIGHT, 0, 0));
    const auto count = static_cast<int>(SendMessageA(methods, CB_GETCOUNT, 0, 0));
    ASSERT_GT(count, 3);
    EXPECT_GE(open.bottom - open.top, std::min(count, 10) * itemHeight)
        << "the open list has no room for the methods";
    Screenshot(main_, "25-method-list-clicked.png");
    PressKey(VK_ESCAPE);
    ASSERT_TRUE(WaitUntil([&] { return SendMessageA(methods, CB_GETDROPPEDSTATE, 0, 0) == 0; }));
    EXPECT_EQ(Title(), "Algorithm Selection");
    Click(ChildByName(main_, "ButtonCancel"));
    EXPECT_EQ(process_->Wait(20000), 0);
}

TEST_F(WizardWipe, HelpMenuTellsWhenNoHelpViewerExists) {
    Start();
    Click(ChildByName(main_, "ButtonHelp"));
    HWND menu = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
        auto menus = process_->Windows("#32768");
        menu = menus.empty() ? nullptr : menus.front();
        return menu != nullptr;
    })) << "no popup menu";
    // The first item, "Help", by the keys a user would press.
    PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
    ASSERT_TRUE(WaitUntil([this] { return process_->Dialog() != nullptr; }));
    HWND dialog = process_->Dialog();
    EXPECT_NE(TextOf(ChildByName(dialog, "Message")).find("purgelet.hlp"), std::string::npos);
    Screenshot(dialog, "13-no-help-viewer.png");
    Click(ChildByName(dialog, "ButtonOK"));
    ASSERT_TRUE(WaitUntil([this] { return process_->Dialog() == nullptr; }));
    Click(ChildByName(main_, "ButtonCancel"));
    EXPECT_EQ(process_->Wait(20000), 0);
}

TEST_F(WizardWipe, BlockViewerInputBoxSaveDialogAndProofDialog) {
    Start();
    Next();
    WaitForPage("Data Selection");
    HWND list = ChildByName(main_, "lwDisksList");
    ASSERT_TRUE(WaitUntil([&] { return Row(list, "KEEP (F:)") >= 0; }));
    process_->ListSetChecked(list, Row(list, "KEEP (F:)"), true); // ticking selects the row
    ASSERT_TRUE(
        WaitUntil([this] { return IsWindowVisible(ChildByName(main_, "JvXPBarDetails")); }));
    // "View Disk", the function bar's second item: one title line, then one line an item.
    HWND bar = ChildByName(main_, "JvXPBarFunctions");
    RECT r;
    GetClientRect(bar, &r);
    const int line = r.bottom / 3;
    PostMessageA(bar, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, line * 2 + line / 2));
    PostMessageA(bar, WM_LBUTTONUP, 0, MAKELPARAM(20, line * 2 + line / 2));
    ASSERT_TRUE(WaitUntil([this] { return process_->Dialog() != nullptr; }));
    HWND viewer = process_->Dialog();
    HWND status = ChildByName(viewer, "StatusBar");
    ASSERT_TRUE(WaitUntil([&] { return TextOf(ChildByName(viewer, "Memo")).size() > 100; }));
    // Block 0 of F: is the test's fill, shown as hex in a fixed-pitch font.
    EXPECT_NE(TextOf(ChildByName(viewer, "Memo")).find("AA AA AA"), std::string::npos)
        << TextOf(ChildByName(viewer, "Memo"));
    Screenshot(viewer, "14-block-viewer.png");

    // Goto... asks for a block number in the input box.
    Click(ChildByName(viewer, "tbGoto"));
    HWND input = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
        for (HWND w : process_->Windows("PurgeletForm"))
            if (w != viewer && w != main_)
                input = w;
        return input != nullptr;
    }));
    Type(ChildByName(input, "Value"), "5");
    Screenshot(input, "15-input-box.png");
    Click(ChildByName(input, "ButtonOK"));
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(input); }));
    ASSERT_TRUE(WaitUntil([&] { return TextOf(status).find("Block 5 ") != std::string::npos; }))
        << TextOf(status);
    PostMessageA(viewer, WM_CLOSE, 0, 0); // the viewer closes as a dialog does
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(viewer); }));

    // The report's "..." opens the system's save dialog; cancelled, the path stays.
    Next();
    WaitForPage("Algorithm Selection");
    Next();
    WaitForPage("Wipe Options");
    HWND report = ChildByName(main_, "cbGenerateReport");
    if (SendMessageA(report, BM_GETCHECK, 0, 0) != BST_CHECKED)
        Click(report);
    HWND browse = ChildByName(main_, "btnBrowseLog");
    ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(browse) != FALSE; }));
    const std::string before = TextOf(ChildByName(main_, "edtLogFileName"));
    Click(browse);
    HWND save = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
        auto dialogs = process_->Windows("#32770");
        save = dialogs.empty() ? nullptr : dialogs.front();
        return save != nullptr;
    }));
    Screenshot(save, "16-save-dialog.png");
    PostMessageA(save, WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(save); }));
    EXPECT_EQ(TextOf(ChildByName(main_, "edtLogFileName")), before);

    // The proof dialog beside the report's options: what OK keeps is there when it opens
    // again; Cancel keeps nothing.
    auto openProof = [&] {
        Click(ChildByName(main_, "btnProof"));
        HWND proof = nullptr;
        EXPECT_TRUE(WaitUntil([&] {
            for (HWND w : process_->Windows("PurgeletForm"))
                if (w != main_)
                    proof = w;
            return proof != nullptr && ChildByName(proof, "edtOrganisation") != nullptr;
        }));
        return proof;
    };
    HWND proof = openProof();
    ASSERT_NE(proof, nullptr);
    Type(ChildByName(proof, "edtOrganisation"), "Example Recycling Ltd");
    Choose(ChildByName(proof, "cbbDestination"), 3);
    Screenshot(proof, "17-proof-dialog.png");
    Click(ChildByName(proof, "btnProofOk"));
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(proof); }));
    proof = openProof();
    ASSERT_NE(proof, nullptr);
    EXPECT_EQ(TextOf(ChildByName(proof, "edtOrganisation")), "Example Recycling Ltd");
    EXPECT_EQ(TextOf(ChildByName(proof, "cbbDestination")), "Destroy");
    Type(ChildByName(proof, "edtOrganisation"), "Not kept");
    Click(Child(proof, IDCANCEL)); // the cancel button is the window's IDCANCEL
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(proof); }));
    proof = openProof();
    ASSERT_NE(proof, nullptr);
    EXPECT_EQ(TextOf(ChildByName(proof, "edtOrganisation")), "Example Recycling Ltd");
    Click(Child(proof, IDCANCEL)); // the cancel button is the window's IDCANCEL
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(proof); }));

    Click(ChildByName(main_, "ButtonCancel"));
    EXPECT_EQ(process_->Wait(20000), 0);
}

TEST_F(WizardWipe, DamagedMachineFileEndsWithAMessage) {
    std::ofstream(folder_ + "broken.json") << "{ this is not json";
    TProcess process(ExeFolder() + "purgelet.exe", folder_,
                     {{"PURGELET_MACHINE", folder_ + "broken.json"}});
    ASSERT_TRUE(process.Started());
    HWND box = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
        auto boxes = process.Windows("#32770");
        box = boxes.empty() ? nullptr : boxes.front();
        return box != nullptr;
    }));
    Screenshot(box, "10-bad-machine.png");
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(process.Wait(20000), 2);
}

// ---- High DPI

// Wine's screen resolution for programs started while the object lives.
class TScopedDpi {
public:
    explicit TScopedDpi(DWORD dpi) {
        for (auto [root, path] : Keys()) {
            HKEY key = nullptr;
            if (RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
                ERROR_SUCCESS)
                continue;
            RegSetValueExA(key, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi),
                           sizeof(dpi));
            RegCloseKey(key);
        }
    }
    ~TScopedDpi() {
        for (auto [root, path] : Keys()) {
            HKEY key = nullptr;
            if (RegOpenKeyExA(root, path, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
                continue;
            RegDeleteValueA(key, "LogPixels");
            RegCloseKey(key);
        }
    }
    TScopedDpi(const TScopedDpi&) = delete;
    TScopedDpi& operator=(const TScopedDpi&) = delete;

private:
    static std::vector<std::pair<HKEY, const char*>> Keys() {
        return {{HKEY_CURRENT_USER, "Control Panel\\Desktop"},
                {HKEY_CURRENT_CONFIG, "Software\\Fonts"}};
    }
};

// Native controls of the page that overlap (a group box frames its controls and is left out).
std::vector<std::string> Overlaps(HWND form) {
    std::vector<TChild> controls;
    for (const TChild& child : VisibleChildren(form))
        if (!(lstrcmpiA(child.ClassName.c_str(), "Button") == 0 &&
              (child.Style & BS_TYPEMASK) == BS_GROUPBOX))
            controls.push_back(child);
    std::vector<std::string> found;
    for (std::size_t i = 0; i < controls.size(); ++i)
        for (std::size_t j = i + 1; j < controls.size(); ++j) {
            RECT both;
            if (IntersectRect(&both, &controls[i].Rect, &controls[j].Rect))
                found.push_back(controls[i].ClassName + " \"" + TextOf(controls[i].Window) +
                                "\" and " + controls[j].ClassName + " \"" +
                                TextOf(controls[j].Window) + "\"");
        }
    return found;
}

// Pixels of the form's own background, between its controls and under its etched rules,
// that are neither grey nor white: what an earlier page drew there and nothing painted over.
int StalePixels(HWND form) {
    const TPicture picture = Capture(form);
    RECT window;
    GetWindowRect(form, &window);
    RECT client;
    GetClientRect(form, &client);
    POINT origin{0, 0};
    ClientToScreen(form, &origin);
    std::vector<RECT> controls;
    for (const TChild& child : VisibleChildren(form))
        if (!(lstrcmpiA(child.ClassName.c_str(), "Static") == 0 &&
              (child.Style & SS_TYPEMASK) == SS_ETCHEDHORZ))
            controls.push_back(child.Rect);
    int stale = 0;
    for (int y = origin.y; y < origin.y + client.bottom; ++y)
        for (int x = origin.x; x < origin.x + client.right; ++x) {
            const POINT point{x, y};
            if (std::any_of(controls.begin(), controls.end(),
                            [&](const RECT& r) { return PtInRect(&r, point) != FALSE; }))
                continue;
            const COLORREF colour = picture.At(x - window.left, y - window.top);
            const int r = GetRValue(colour), g = GetGValue(colour), b = GetBValue(colour);
            if (std::max({r, g, b}) - std::min({r, g, b}) > 24)
                ++stale;
        }
    return stale;
}

TEST_F(WizardWipe, At144DpiEveryPageIsLargerAndItsControlsDoNotOverlap) {
    Start();
    RECT normal;
    GetClientRect(main_, &normal);
    Click(ChildByName(main_, "ButtonCancel"));
    ASSERT_EQ(process_->Wait(20000), 0);

    TScopedDpi dpi(144);
    Start();
    RECT large;
    GetClientRect(main_, &large);
    // The layout follows the font: half as large again, give or take the font's rounding.
    EXPECT_GE(large.right * 100, normal.right * 130) << normal.right << " -> " << large.right;
    EXPECT_GE(large.bottom * 100, normal.bottom * 130) << normal.bottom << " -> " << large.bottom;

    EXPECT_EQ(Overlaps(main_), std::vector<std::string>{}) << "welcome";
    Next();
    WaitForPage("Data Selection");
    HWND list = ChildByName(main_, "lwDisksList");
    ASSERT_TRUE(WaitUntil([&] { return Row(list, "SYSTEM (C:)") >= 0; }));
    process_->ListSetChecked(list, Row(list, "SYSTEM (C:)"), true);
    ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(ChildByName(main_, "ButtonNext")); }));
    EXPECT_EQ(Overlaps(main_), std::vector<std::string>{}) << "drives";
    // Nothing of the welcome page's blue banner is left under the header.
    Sleep(300);
    EXPECT_EQ(StalePixels(main_), 0);
    Screenshot(main_, "12-drives-144dpi.png");
    for (const char* page : {"Algorithm Selection", "Wipe Options", "Confirmation"}) {
        Next();
        WaitForPage(page);
        Sleep(200);
        EXPECT_EQ(Overlaps(main_), std::vector<std::string>{}) << page;
        if (std::string(page) == "Wipe Options")
            Screenshot(main_, "11-options-144dpi.png");
    }
    Click(ChildByName(main_, "ButtonCancel"));
    EXPECT_EQ(process_->Wait(20000), 0);
}

} // namespace
} // namespace purgelet::testing::gui
