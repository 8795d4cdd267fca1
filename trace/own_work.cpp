#include "trace/own_work.h"

namespace {
thread_local bool t_ownThread = false;
thread_local int t_ownWork = 0;
}  // namespace

void SetOwnThread(bool own) { t_ownThread = own; }

void BeginOwnWork() { ++t_ownWork; }

void EndOwnWork() {
    if (t_ownWork > 0) --t_ownWork;
}

bool InOwnWork() { return t_ownThread || t_ownWork > 0; }
