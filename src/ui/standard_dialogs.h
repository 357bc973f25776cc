// The standard dialogs as forms of the model: a message box, the one-line input box, the
// save-file dialog as a path input, and a popup menu as a column of items. A renderer without
// native dialogs shows these through its ShowModal, so they are laid out, focused and driven by
// keys exactly as the program's own forms.
#pragma once

#include "ui/controls.h"
#include "ui/dialogs.h"
#include "ui/form.h"

#include <memory>
#include <string>

namespace purgelet::ui {

// The caption of a dialog type ("Warning", "Error", "Information", "Confirmation").
std::string DialogTypeCaption(TMsgDlgType type);
// A button's caption with its accelerator ("&Yes", "OK", "&Retry", ...) and its modal result.
std::string DialogButtonCaption(TMsgDlgBtn button);
int DialogButtonResult(TMsgDlgBtn button);

// A message box: the text wrapped to at most maxTextWidth cells, the buttons centred below.
// Escape answers Cancel when there is such a button, else the dialog closes with mrNone.
std::unique_ptr<TForm> MakeMessageForm(Host& host, const std::string& text, TMsgDlgType type,
                                       TMsgDlgButtons buttons, int maxTextWidth = 60);
// The input box: caption, prompt, the edit "Value" preset with value, OK and Cancel.
std::unique_ptr<TForm> MakeInputForm(Host& host, const std::string& caption,
                                     const std::string& prompt, const std::string& value);
// The save dialog as a path input ("Value"), with the filter named for the user.
std::unique_ptr<TForm> MakeSaveForm(Host& host, const TSaveDialog& dialog);
// A popup menu: one button per visible item (named as the item), Escape dismisses it.
std::unique_ptr<TForm> MakeMenuForm(Host& host, const TPopupMenu& menu);

// What the user typed into an input or save form.
std::string InputValue(TForm& form);

// The input box shown modally: true, with value set to what was typed, when OK ended it.
bool RunInputForm(Host& host, const std::string& caption, const std::string& prompt,
                  std::string& value);
// A message form's modal result as the dialog's answer: closed without a button (Escape
// where no Cancel is offered) is no answer.
int MessageAnswer(int modalResult, TMsgDlgButtons buttons);

} // namespace purgelet::ui
