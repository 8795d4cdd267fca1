#include "trace/own_work.h"

thread_local int t_ownWork = 0;

void SetOwnThread(bool own) { t_ownWork = own ? (t_ownWork | kOwnThread) : (t_ownWork & ~kOwnThread); }

void BeginOwnWork() { ++t_ownWork; }

void EndOwnWork() {
    if ((t_ownWork & ~kOwnThread) > 0) --t_ownWork;
}
