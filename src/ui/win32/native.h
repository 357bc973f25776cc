// One model control's native window and what was last copied to it, and the helpers that make
// and fill native controls by kind.
#pragma once

#include "ui/list_view.h"
#include "ui/win32/form_window.h"

#include <windows.h>

#include <array>
#include <string>
#include <vector>

namespace purgelet::ui::win32 {

struct TFormWindow::Native {
    TControl* Control = nullptr;
    TFormWindow* Owner = nullptr;
    HWND Hwnd = nullptr;
    int Id = 0;
    // The wizard's title, subtitle and its two rules.
    std::array<HWND, 4> Decorations{};
    std::array<TRect, 4> DecorationRects{};

    // What the window shows now; -1 and the Set flags mean "not yet written".
    TRect Rect{-1, -1, -1, -1};
    int Visible = -1;
    int Enabled = -1;
    int Check = -1;
    int Default = -1;
    int Index = -2;
    HFONT Font = nullptr;
    std::string Text;
    bool TextSet = false;
    std::string Signature;
    bool SignatureSet = false;
    DWORD ScrollBars = 0; // the scroll bars a memo may show (WS_VSCROLL, WS_HSCROLL)
    std::vector<std::string> Items;
    std::vector<std::string> Columns;
};
using TNative = TFormWindow::Native;

// Creates the native control of the model control's kind (hidden); null for the kinds that
// have no window of their own (form, panel, tool bar, wizard, wizard page).
HWND CreateNativeWindow(TNative& native, HWND parent, const TTheme& theme);
void CreateWizardDecorations(TNative& native, HWND parent, const TTheme& theme);
// What a drop-down list's window adds below its field for its open list of items.
int DroppedHeight(HWND combo, int items);

// The text a control's window holds: a caption, an edit's text, a memo's lines with CR LF.
std::string NativeText(TControl& control);
// Whether the text was written.
bool SetTextIfChanged(TNative& native, const std::string& text);
// What a custom-drawn control shows, to repaint only when it changed.
std::string CustomSignature(TControl& control, bool focused);
// A list row's text, style and check state.
std::string RowSignature(const TListView& list, int index);
void WriteRow(HWND list, const TListView& model, int index);

// Shows a memo's scroll bars only where its text does not fit (an edit control shows a bar
// its style names whether it is needed or not).
void FitScrollBars(TNative& native);

// Line feeds as an edit control needs them: CR LF.
std::string WithCrLf(const std::string& text);

} // namespace purgelet::ui::win32
