// The places fields are accessed at, numbered: a site the rewriter made call the field hook is
// numbered as its class is rewritten (its class, method, source file and line, read from the
// class file), a watch's access by its method and location; an event carries the number, and
// delivery turns it into a StackTraceElement (made once per site, on the consumer thread).
// The same place always gets the same number, so code rewritten again, and old code still
// running, keeps naming its sites; the table is bounded, and a place beyond it gets none.
#pragma once

#include <jni.h>

#include <cstdint>
#include <string>

#include "platform/jvmdi.h"

// Numbers run from 1; 0 is no site.
constexpr int32_t kMaxAccessSites = 1 << 16;

// The number of a rewritten site: its class (internal name), method, source file ("" for none)
// and line (-1 for none). 0 once the table is full (told once). Safe on any thread.
int32_t NumberCodeSite(const std::string& className, const std::string& methodName,
                       const std::string& sourceFile, int32_t line);

// The number of a watch's access at `location` in `method` (0 for no method, or a full table).
int32_t NumberMethodSite(jmethodID method, jlocation location);

// A new local StackTraceElement of site `site`, or null (no such site, or it cannot be named).
// On the consumer thread.
jobject AccessSiteElement(JNIEnv* env, int32_t site);

// The elements of the sites one delivery met most recently, as local references: a few, so a
// delivery holds few references however many events it converts, and a run of events from the
// same sites asks the table nothing.
struct SiteElementCache {
    static constexpr int kWays = 8;
    int32_t sites[kWays] = {};
    jobject elements[kWays] = {};

    // The element of `site` (borrowed: valid until Release), or null.
    jobject Get(JNIEnv* env, int32_t site);
    void Release(JNIEnv* env);
};

// Drops the elements made so far (the session ended); the numbers stay, as code may carry them.
void ForgetAccessSiteElements(JNIEnv* env);
