// A user at the keyboard and mouse of another process's windows: starts purgelet.exe, finds its
// windows by class and control id, and sends them the messages a user's clicks and keys
// produce (BM_CLICK, list-view state changes through the target's own memory, WM_COMMAND).
// It also takes screenshots of a window as PNG and reads their pixels.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace purgelet::testing::gui {

// A window's pixels, top row first, as RGB.
struct TPicture {
    int Width = 0;
    int Height = 0;
    std::vector<std::uint8_t> Rgb;
    COLORREF At(int x, int y) const;
    // Writes a PNG (stored deflate blocks: no compressor needed).
    bool SavePng(const std::string& path) const;
};
// The screen's pixels under the window (what a user sees of it).
TPicture Capture(HWND window);
bool Near(COLORREF a, COLORREF b, int tolerance);

class TProcess {
public:
    // Starts the program in folder with the environment variables added.
    TProcess(const std::string& exe, const std::string& folder,
             const std::vector<std::pair<std::string, std::string>>& environment);
    ~TProcess(); // a program still running is ended
    TProcess(const TProcess&) = delete;
    TProcess& operator=(const TProcess&) = delete;

    bool Started() const { return process_ != nullptr; }
    DWORD Id() const { return id_; }
    bool Running() const;
    // Waits for the end; the exit code, or -1 after the timeout.
    int Wait(unsigned milliseconds);

    // The program's visible top-level windows of a class, in creation order is not known:
    // the main form is the one without an owner.
    std::vector<HWND> Windows(const char* className) const;
    HWND MainWindow() const;
    // A visible owned window of the form class (a modal form), null when none.
    HWND Dialog() const;

    // ---- In the program's memory: list views read and changed as the user does.
    int ListCount(HWND list) const;
    std::string ListText(HWND list, int row, int column = 0) const;
    bool ListChecked(HWND list, int row) const;
    void ListSetChecked(HWND list, int row, bool checked) const;
    RECT ListItemRect(HWND list, int row) const;

private:
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
};

// Polls until done is true or the time is up; false on time-out.
bool WaitUntil(const std::function<bool()>& done, unsigned milliseconds = 20000);

std::string TextOf(HWND window);
HWND Child(HWND form, int id);
HWND ChildByName(HWND form, const char* modelName);
// A visible child button whose caption is text (accelerator marks included).
HWND ButtonByCaption(HWND form, const std::string& text);
// A user's click: posted, so a click that opens a modal dialog does not block the driver.
void Click(HWND button);
// A user's choice in a drop-down list.
void Choose(HWND combo, int index);
// Replaces an edit's text as typing would (the edit tells its parent).
void Type(HWND edit, const std::string& text);
// ---- Real input, as a user's keyboard and mouse make it (SendInput): it goes to the window
// with the keyboard focus of the foreground window, or under the pointer.
// Brings the window to the front and waits until it is the foreground window.
bool Activate(HWND window);
// One key pressed and released, with Shift or Alt held when asked.
void PressKey(WORD key, bool shift = false, bool alt = false);
// The left button pressed and released at a point of the window's client area.
void ClickAt(HWND window, int x, int y);
// The pointer to the screen's bottom right corner, where it hovers over nothing.
void ParkPointer();
// The window that has the keyboard focus in the thread that owns window.
HWND FocusOf(HWND window);

// Visible child windows with their rectangles on the screen.
struct TChild {
    HWND Window;
    std::string ClassName;
    RECT Rect;
    LONG Style;
};
std::vector<TChild> VisibleChildren(HWND form);

} // namespace purgelet::testing::gui
