#include "app/program_name.h"

#include <gtest/gtest.h>

namespace tn {
namespace {

TEST(ProgramNameTest, ProgramsAreNamedAsTheUserStartedThem) {
    struct Case {
        const char* exe;
        std::vector<std::string> argv;
        const char* name;
    } cases[] = {
        {"/usr/lib/firefox-esr/firefox-esr",
         {"/usr/lib/firefox-esr/firefox-esr", "-P"},
         "firefox-esr"},
        {"/usr/bin/curl (deleted)", {"curl", "http://x"}, "curl"}, // upgraded while running
        {"/usr/bin/python3.11",
         {"/usr/bin/python3", "-u", "/home/a/bin/sync.py", "--all"},
         "python3.11 sync.py"},
        {"/usr/bin/python3",
         {"python3", "-W", "ignore", "-m", "http.server", "8000"},
         "python3 http.server"},
        {"/usr/bin/python3", {"python3", "-c", "import x; x.run()"}, "python3"},
        {"/usr/bin/python3", {"python3"}, "python3"},
        {"/usr/bin/node", {"node", "--require", "ts-node/register", "server.js"}, "node server.js"},
        {"/usr/bin/node", {"node", "-e", "fetch('x')"}, "node"},
        {"/usr/lib/jvm/bin/java",
         {"java", "-cp", "a.jar:b.jar", "org.example.Main"},
         "java org.example.Main"},
        {"/usr/lib/jvm/bin/java",
         {"java", "-Xmx1g", "-jar", "/opt/x/gradle-wrapper.jar"},
         "java gradle-wrapper.jar"},
        {"/usr/bin/bash", {"bash", "-e", "./backup.sh"}, "bash backup.sh"},
        {"/usr/bin/dash", {"sh", "-c", "wget x"}, "dash"},
        {"/usr/bin/perl", {"perl", "-I", "lib", "fetch.pl"}, "perl fetch.pl"},
        {"/usr/bin/ruby3.1", {"ruby", "--", "-odd.rb"}, "ruby3.1 -odd.rb"},
        {"/usr/bin/pythonista", {"pythonista", "x.py"}, "pythonista"}, // not an interpreter
        {"", {"/opt/game/bin/game"}, "game"},
        {"/usr/bin/python3", {"python3", "evil\nname.py"}, "python3 evil?name.py"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(programName(c.exe, c.argv), c.name) << c.exe;
    EXPECT_EQ(programName("/x/python3", {"python3", std::string(500, 'a')}).size(),
              kMaxProgramName);
}

} // namespace
} // namespace tn
