// The agent's option string as the in-VM session reads it: words separated by commas, each a
// bare word ("json") or a name and a value ("method=demo.Account.deposit"). The session's own
// Java side reads the trace points and the tracer's options; here the agent only learns whether
// a session is asked for and where the tracer's classes are.
#pragma once

#include <string>

// Whether `word` (a bare word) is one of the words of `options`.
bool HasOptionWord(const char* options, const char* word);

// The value of the first word "name=value" of `options`, or "" when there is none.
std::string OptionValue(const char* options, const char* name);

// Whether the options name trace points or ask for the class listing: the agent then starts
// the in-VM session.
bool AsksForSession(const char* options);
