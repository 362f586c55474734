#include "app/file_failures.h"

#include "app/global.h"
#include "support/fake_platform.h"
#include "support/file_bytes.h"
#include "support/scripted_file_store.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>

namespace tn {
namespace {

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class FileFailuresTest : public ::testing::Test {
protected:
    CFileFailures failures;
    std::vector<std::string> shown;
    std::vector<std::string> logged;
    const std::filesystem::path stat = "/data/stat.dat";
    const std::filesystem::path log = "/data/TN.log";
    void SetUp() override {
        failures.setShow([this](const std::string& t) { shown.push_back(t); });
        failures.setLog([this](std::string_view l) { logged.emplace_back(l); },
                        [this] { return log; });
    }
};

TEST_F(FileFailuresTest, CausesAreToldOnce_WithPathAndReason_AgainAfterASuccess) {
    EXPECT_TRUE(failures.failed(stat, ENOSPC, false, "Counting goes on."));
    for (int minute = 0; minute < 5; ++minute)
        EXPECT_FALSE(failures.failed(stat, ENOSPC, false, "Counting goes on."));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(contains(shown[0], stat.string())) << shown[0];
    EXPECT_TRUE(contains(shown[0], std::strerror(ENOSPC))) << shown[0];
    EXPECT_TRUE(contains(shown[0], "Counting goes on.")) << shown[0];
    EXPECT_EQ(logged, shown);

    // Read-only is another cause; EACCES after EROFS is the same one to the user.
    EXPECT_TRUE(failures.failed(stat, EROFS, false, ""));
    EXPECT_FALSE(failures.failed(stat, EACCES, false, ""));
    EXPECT_TRUE(failures.failed(stat, ENOENT, false, ""));
    EXPECT_TRUE(failures.failed(stat, 0, true, ""));
    EXPECT_TRUE(contains(shown.back(), "not a regular file")) << shown.back();
    // Another file with the same cause is told on its own.
    EXPECT_TRUE(failures.failed("/data/NetFalls.dat", ENOSPC, false, ""));
    EXPECT_EQ(shown.size(), 5u);

    failures.succeeded(stat);
    EXPECT_TRUE(failures.failed(stat, ENOSPC, false, ""));
    EXPECT_FALSE(failures.failed("/data/NetFalls.dat", ENOSPC, false, ""));
    EXPECT_EQ(shown.size(), 6u);
}

TEST_F(FileFailuresTest, ReasonsMapToTheCausesTheUserCanActOn) {
    EXPECT_EQ(fileFailureCause(ENOSPC, false), FileFailureCause::DiskFull);
    EXPECT_EQ(fileFailureCause(EDQUOT, false), FileFailureCause::DiskFull);
    EXPECT_EQ(fileFailureCause(EROFS, false), FileFailureCause::ReadOnly);
    EXPECT_EQ(fileFailureCause(EACCES, false), FileFailureCause::ReadOnly);
    EXPECT_EQ(fileFailureCause(ENOENT, false), FileFailureCause::FolderMissing);
    EXPECT_EQ(fileFailureCause(EIO, false), FileFailureCause::Other);
    EXPECT_EQ(fileFailureCause(ENOSPC, true), FileFailureCause::NotRegular);
}

TEST_F(FileFailuresTest, TheLogsOwnFailureIsNeverWrittenIntoIt_NorIsALogWriteReentered) {
    failures.failed(log, EROFS, false, "");
    EXPECT_EQ(shown.size(), 1u);
    EXPECT_TRUE(logged.empty());
    // A log that fails while it writes another failure: the second text is shown, not logged
    // again from inside the log.
    failures.setLog(
        [this](std::string_view l) {
            logged.emplace_back(l);
            failures.failed("/data/other", EIO, false, "");
        },
        [this] { return log; });
    failures.failed(stat, ENOSPC, false, "");
    EXPECT_EQ(logged.size(), 1u);
    EXPECT_EQ(shown.size(), 3u);
}

TEST_F(FileFailuresTest, TextsBeforeAWindowWait_BoundedInNumber) {
    CFileFailures early;
    std::vector<std::string> later;
    for (int i = 0; i < 20; ++i)
        early.tell("/data/stat.dat", "text " + std::to_string(i));
    early.setShow([&](const std::string& t) { later.push_back(t); });
    ASSERT_EQ(later.size(), CFileFailures::kMaxWaiting);
    EXPECT_EQ(later.front(), "text 0");
    early.tell("/data/stat.dat", "now");
    EXPECT_EQ(later.back(), "now");
}

// The program's own wiring: CGlobal tells settings and TN.log failures through its reporter.
class GlobalFailuresTest : public ::testing::Test {
protected:
    test::FakePlatform fake;
    test::ScriptedFileStore files{*fake.services().files};
    std::vector<std::string> shown;
    std::unique_ptr<CGlobal> global;
    void SetUp() override {
        PlatformServices os = fake.services();
        os.files = &files;
        global = std::make_unique<CGlobal>(os);
        global->fileFailures().setShow([this](const std::string& t) { shown.push_back(t); });
    }
};

TEST_F(GlobalFailuresTest, ALogThatCannotBeWritten_IsToldOnceWithItsOwnText) {
    files.appendError = EROFS;
    global->writeLog("first");
    global->writeLog("second");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(contains(shown[0], "Nu am putut deschide fisierul Log")) << shown[0];
    EXPECT_TRUE(contains(shown[0], fake.dataFile("TN.log").string())) << shown[0];
    EXPECT_TRUE(contains(shown[0], std::strerror(EROFS))) << shown[0];
    files.appendError = 0;
    global->writeLog("third");
    EXPECT_EQ(test::readText(fake.dataFile("TN.log")).find("first"), std::string::npos);
    EXPECT_TRUE(contains(test::readText(fake.dataFile("TN.log")), "third"));
    files.appendError = EROFS;
    global->writeLog("fourth");
    EXPECT_EQ(shown.size(), 2u);
}

TEST_F(GlobalFailuresTest, AFailedFileSave_IsLoggedAndShown) {
    global->fileFailures().failed(fake.dataFile("stat.dat"), ENOSPC, false, "");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(contains(test::readText(fake.dataFile("TN.log")), shown[0]));
}

} // namespace
} // namespace tn
