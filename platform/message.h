// Messages the library shows to a person ("Can't initiate the ping functions.").
//
// The library has no window of its own: it hands the text and caption to a hook. The default
// writes to standard error; the viewer installs one that shows a dialog.
#pragma once

namespace ipcam {

using MessageHandler = void (*)(const char *text, const char *caption);

void setMessageHandler(MessageHandler handler);  // nullptr restores the default
void showMessage(const char *text, const char *caption);

}  // namespace ipcam
