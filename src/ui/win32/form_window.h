// The window renderer: a shown form of the model as one top-level window of the form class, and
// each model control as the native control of its kind, placed by its cells times the dialog
// font's units. Sync copies the model's state to the windows (only what changed); the native
// controls' notifications reach the model through the controls' User* operations and the
// form's focus and key handling, the same entry points the terminal renderer uses. Nothing
// here knows a page or a control by name.
#pragma once

#include "ui/form.h"
#include "ui/win32/control_id.h"

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace purgelet::ui {
class TButton;
}

namespace purgelet::ui::win32 {

inline constexpr char FormClassName[] = "PurgeletForm";
inline constexpr char SideBarClassName[] = "PurgeletSideBar";
inline constexpr char AnimationClassName[] = "PurgeletAnimation";

// The form class and the custom controls' classes, and the common controls (once).
void RegisterWindowClasses();

// Fonts, brushes and units shared by every window of the program.
struct TTheme {
    TTheme();
    ~TTheme();
    TTheme(const TTheme&) = delete;
    TTheme& operator=(const TTheme&) = delete;

    HFONT Normal = nullptr;
    HFONT Bold = nullptr;
    HFONT Fixed = nullptr;
    HFONT Title = nullptr;
    HBRUSH White = nullptr;
    TUnits Units;
    int Dpi = 96;
    int Scale(int pixelsAt96) const { return MulDiv(pixelsAt96, Dpi, 96); }
};

// The hooks a form window needs from its host.
class TFormHost {
public:
    virtual ~TFormHost() = default;
    virtual const TTheme& Theme() const = 0;
    // Runs a call into the model the way the message loop runs handlers (exceptions to the
    // application's error display) and marks the windows for a sync.
    virtual void Call(const std::function<void()>& action) = 0;
    // Whether the form is the one that has the keyboard (the top of the modal stack).
    virtual bool IsTop(const TForm& form) const = 0;
};

class TFormWindow {
public:
    // Creates the window (hidden); icon, when set, is drawn at the top left (message boxes).
    TFormWindow(TFormHost& host, TForm& form, HWND owner, HICON icon);
    ~TFormWindow();
    TFormWindow(const TFormWindow&) = delete;
    TFormWindow& operator=(const TFormWindow&) = delete;

    HWND Handle() const { return hwnd_; }
    TForm& Form() const { return form_; }
    // Copies the model's state to the windows.
    void Sync();
    // The native window of a model control, null when it has none.
    HWND NativeOf(const TControl& control) const;
    // Gives the keyboard focus to the model's active control.
    void FocusActive();

    // Keys the form handles itself (Tab, Enter, Escape, Alt+letter); true when used.
    bool PreTranslate(const MSG& msg);

    static LRESULT CALLBACK FormProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK SideBarProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK AnimationProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    struct Native;

private:
    LRESULT Proc(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateNatives(TControl& parent);
    void CreateNative(TControl& control);
    void SyncNative(Native& native);
    void SyncWizard(Native& native, bool showing);
    void SyncList(Native& native);
    void SyncCombo(Native& native);
    // Whether the window moved or changed size.
    bool Place(HWND hwnd, const TRect& pixels, TRect& cached);
    void OnCommand(WPARAM wParam, LPARAM lParam);
    LRESULT OnNotify(const NMHDR& header);
    LRESULT ListCustomDraw(Native& native, LPARAM lParam);
    void PaintBackground(HDC dc);
    void PaintBanner(HDC dc);
    void DrawLabel(const DRAWITEMSTRUCT& item);
    void Resized(int clientWidth, int clientHeight);
    int NewId(const TControl& control);

    friend LRESULT CustomControlProc(HWND, UINT, WPARAM, LPARAM, bool);
    void PaintSideBar(Native& native, HDC dc);
    void PaintAnimation(Native& native, HDC dc);
    void ClickSideBar(Native& native, int y);

    TFormHost& host_;
    TForm& form_;
    HWND hwnd_ = nullptr;
    HWND icon_ = nullptr;
    std::vector<std::unique_ptr<Native>> natives_;
    std::map<const TControl*, Native*> byControl_;
    std::map<HWND, Native*> byWindow_;
    std::map<int, Native*> byId_;
    TRect designClient_;   // the client area in cells as designed: the smallest size
    bool syncing_ = false; // notifications caused by Sync are not the user's
    TControl* syncedActive_ = nullptr;
    std::string caption_;
    bool captionSet_ = false;
};

} // namespace purgelet::ui::win32
