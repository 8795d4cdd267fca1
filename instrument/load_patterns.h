// The in-VM session's method patterns, matched against classes as they load. A class the session
// is going to arm gets the probes of the methods its patterns name in its first version, in the
// class file hook, so that arming it once it is prepared finds them there and rewrites nothing.
// The session still chooses what it arms; a method a pattern names and the session leaves gets a
// probe that no trace point arms, which costs its calls a test and records nothing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct LoadPattern {
    std::string classGlob;   // internal form: "java/**", "org/h2/*Driver", "demo/Account"
    std::string memberGlob;  // "*", "get*", "run"
    std::string descriptor;  // empty for every overload
    int32_t options = 0;     // what its trace points ask for besides entries (arguments, exits)
};

// Whether `text` matches `glob`: "**" matches any run of characters, "*" any run without
// `separator` ('/' in a class name; 0 lets "*" match anything, as in member names).
bool GlobMatches(const char* glob, const char* text, char separator);

// Replaces the patterns (none: classes load as they are).
void SetLoadPatterns(const std::vector<LoadPattern>& patterns);

// Whether any pattern is set; cheap, on every class load.
bool LoadPatternsSet();

// The patterns that name the class `internalName` (the tracer's own classes: none).
std::vector<LoadPattern> LoadPatternsNaming(const char* internalName);

// What those of `naming` that name the method ask for, together; -1 when none does.
int32_t LoadPatternOptions(const std::vector<LoadPattern>& naming, const std::string& name,
                           const std::string& descriptor);
