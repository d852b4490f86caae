// The processes the plug-in starts, as an outside observer sees them: the
// browser's child processes, found by a toolhelp snapshot from a thread of
// their own while the browser runs (a child may end before the browser
// does), each held open from then on so that its answers outlive it and its
// id is not reused.
#ifndef TESTBROWSER_PLUGIN_CHILDREN_H
#define TESTBROWSER_PLUGIN_CHILDREN_H

#include <windows.h>

// Starts the watching thread (once; later calls do nothing).
void StartWatchingChildren();

// Processor seconds used by every child seen so far, ended ones included.
double ChildrenCpuSeconds();

// Processor seconds the watching itself used in this process (not work of
// the page's: a snapshot costs some under Wine).
double WatchingCpuSeconds();

// How many of the children seen so far have ended.
int EndedChildren();

// `milliseconds` from now the watching thread terminates every child then
// alive and prints "plug-in children killed: N".
void KillChildrenAfter(int milliseconds);

// Whether the kill asked for by KillChildrenAfter has been done (1 when none
// was asked for).
int ChildrenKillDone();

// Takes a last look, then prints "plug-in child: NAME bits=N in-job=yes|no"
// for each child seen, in the order they were first seen.
void PrintPluginChildren();

#endif
