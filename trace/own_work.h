// The tracer's own work is never recorded: the threads of the in-VM session (its consumer, its
// summary at exit) and what it does on a program's thread (handling a class that loads). The
// recording limit and the overflow flag then count the program's events only.
#pragma once

// Nonzero while the calling thread does the tracer's work: the nesting depth of its brackets,
// plus kOwnThread on a thread that is the tracer's own. Read by the recorder on every hit.
extern thread_local int t_ownWork;
constexpr int kOwnThread = 1 << 30;

// Marks (or unmarks) the calling thread as one whose every event is the tracer's own.
void SetOwnThread(bool own);

// Brackets the tracer's own work on a program's thread; nests.
void BeginOwnWork();
void EndOwnWork();

// Whether an event on the calling thread is the tracer's own.
inline bool InOwnWork() { return t_ownWork != 0; }
