// --dump-dialogs: the title and every control's text of each dialog the
// process opens (the plug-in's About, comments, message boxes), printed once
// when the dialog is first seen, so that tests can read what it says.
#ifndef TESTBROWSER_DIALOG_DUMP_H
#define TESTBROWSER_DIALOG_DUMP_H

// Starts a thread timer of the calling thread that looks for new dialogs;
// it fires inside any modal loop (a dialog's, a menu's) as well as the
// browser's own.
void StartDumpingDialogs();

#endif
