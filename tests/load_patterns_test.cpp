// The patterns classes are armed by as they load: a class glob's "*" stays within a package,
// "**" crosses them, a member glob's "*" matches anything; the options of every pattern that
// names a method are asked for together, and a descriptor narrows a pattern to one overload.
#include <gtest/gtest.h>

#include "instrument/load_patterns.h"
#include "trace/trace_flags.h"

namespace {
TEST(LoadPatterns, GlobsMatchAsTheTracersPatternsDo) {
    struct Case {
        const char* glob;
        const char* text;
        char separator;
        bool matches;
    };
    const Case cases[] = {
        {"java/**", "java/util/concurrent/ConcurrentHashMap$Node", '/', true},
        {"java/**", "javax/swing/JFrame", '/', false},
        {"java/*", "java/util/List", '/', false},
        {"java/util/*", "java/util/List", '/', true},
        {"org/h2/*Driver", "org/h2/Driver", '/', true},
        {"org/h2/*Driver", "org/h2/jdbc/Driver", '/', false},
        {"org/**/Driver", "org/h2/jdbc/Driver", '/', true},
        {"**", "Main", '/', true},
        {"demo/Account", "demo/Account", '/', true},
        {"demo/Account", "demo/AccountX", '/', false},
        {"a/*/*/C", "a/b/c/C", '/', true},
        {"a/*/*/C", "a/b/C", '/', false},
        {"get*", "getValue", 0, true},
        {"*Value", "getValue", 0, true},
        {"*", "", 0, true},
        {"g*t*e", "getValue", 0, true},
        {"g*t*x", "getValue", 0, false},
        {"run", "runs", 0, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GlobMatches(c.glob, c.text, c.separator), c.matches) << c.glob << " against " << c.text;
    }
}

TEST(LoadPatterns, OptionsOfEveryPatternNamingAMethodComeTogether) {
    SetLoadPatterns({{"app/**", "run*", "", kArgumentsTracePoint},
                     {"app/Main", "run", "()V", kExitTracePoint},
                     {"other/*", "*", "", 0}});
    const std::vector<LoadPattern> main = LoadPatternsNaming("app/Main");
    EXPECT_EQ(main.size(), 2u);
    EXPECT_TRUE(LoadPatternsNaming("com/vexo/internal/EntryHook").empty());
    EXPECT_TRUE(LoadPatternsNaming("other/deeper/X").empty());
    EXPECT_EQ(LoadPatternOptions(main, "run", "()V"), kArgumentsTracePoint | kExitTracePoint);
    EXPECT_EQ(LoadPatternOptions(main, "run", "(I)V"), kArgumentsTracePoint);
    EXPECT_EQ(LoadPatternOptions(main, "stop", "()V"), -1);
    EXPECT_EQ(LoadPatternOptions(LoadPatternsNaming("other/X"), "anything", "()V"), 0);
    SetLoadPatterns({});
    EXPECT_FALSE(LoadPatternsSet());
    EXPECT_TRUE(LoadPatternsNaming("app/Main").empty());
}
}  // namespace
