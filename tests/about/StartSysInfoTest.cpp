#include "about/StartSysInfo.h"

#include "FakeRegistry.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <memory>

using corva::SysInfoServices;
using corva::test::FakeRegistry;

namespace {

const std::string kInfoKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
const std::string kLocationKey = "SOFTWARE\\Microsoft\\Shared Tools Location";
const QString kUnavailable = QStringLiteral("此时系统信息不可用");

// Records what the lookup did instead of touching the machine.
struct Recorder
{
    std::shared_ptr<FakeRegistry> registry = std::make_shared<FakeRegistry>();
    QStringList existing;
    bool startSucceeds = true;
    QStringList existsAsked;
    QStringList started;
    QStringList messages;
    QStringList captions;

    SysInfoServices Services()
    {
        SysInfoServices s;
        s.registry = registry;
        s.fileExists = [this](const QString &path) {
            existsAsked << path;
            return existing.contains(path);
        };
        s.startProgram = [this](const QString &commandLine) {
            started << commandLine;
            return startSucceeds;
        };
        s.showMessage = [this](QWidget *, const QString &caption, const QString &text) {
            captions << caption;
            messages << text;
        };
        return s;
    }
};

TEST(StartSysInfo, FirstKeyStartsThePathQuotedWithoutFurtherLookups)
{
    Recorder r;
    r.registry->Set(kInfoKey, "PATH",
                    FakeRegistry::Text("C:\\Program Files\\Common Files\\MSINFO32.EXE", true));
    r.registry->Set(kLocationKey, "MSINFO", FakeRegistry::Text("C:\\Elsewhere", true));
    corva::StartSysInfo(r.Services(), nullptr, QStringLiteral("T"));
    EXPECT_EQ(r.started, QStringList{QStringLiteral("\"C:\\Program Files\\Common Files\\MSINFO32.EXE\"")});
    EXPECT_TRUE(r.existsAsked.isEmpty());
    EXPECT_EQ(r.registry->opened, std::vector<std::string>{kInfoKey});
    EXPECT_TRUE(r.messages.isEmpty());
}

TEST(StartSysInfo, SecondKeyNeedsTheProgramInTheFolder)
{
    Recorder r;
    r.registry->Set(kLocationKey, "MSINFO", FakeRegistry::Text("C:\\Program Files\\MSINFO", true));
    r.existing << QStringLiteral("C:\\Program Files\\MSINFO\\MSINFO32.EXE");
    corva::StartSysInfo(r.Services(), nullptr, QStringLiteral("T"));
    EXPECT_EQ(r.existsAsked, r.existing);
    EXPECT_EQ(r.started, QStringList{QStringLiteral("\"C:\\Program Files\\MSINFO\\MSINFO32.EXE\"")});
    EXPECT_TRUE(r.messages.isEmpty());
}

// Every way of not finding or not starting the program ends in the one message.
struct FailureCase
{
    const char *name;
    bool infoPathNotText; // PATH present with a type that gives no text
    bool folderKey;
    bool programInFolder;
    bool startSucceeds;
    int expectedStarts;
};

// Rows are named by the test's suffix; this keeps the listing free of raw bytes.
void PrintTo(const FailureCase &, std::ostream *os)
{
    *os << "row";
}

class StartSysInfoFails : public ::testing::TestWithParam<FailureCase>
{
};

TEST_P(StartSysInfoFails, ShowsTheUnavailableMessage)
{
    const FailureCase &c = GetParam();
    Recorder r;
    r.startSucceeds = c.startSucceeds;
    if (c.infoPathNotText)
        r.registry->Set(kInfoKey, "PATH", FakeRegistry::Raw(3, {1, 2}));
    if (c.folderKey)
        r.registry->Set(kLocationKey, "MSINFO", FakeRegistry::Text("D:\\Tools", true));
    if (c.programInFolder)
        r.existing << QStringLiteral("D:\\Tools\\MSINFO32.EXE");
    corva::StartSysInfo(r.Services(), nullptr, QStringLiteral("墨川Real凌波 影片合并工具"));
    EXPECT_EQ(r.messages, QStringList{kUnavailable});
    EXPECT_EQ(r.captions, QStringList{QStringLiteral("墨川Real凌波 影片合并工具")});
    EXPECT_EQ(r.started.size(), c.expectedStarts);
}

INSTANTIATE_TEST_SUITE_P(Cases, StartSysInfoFails, ::testing::Values(
    FailureCase{"NoKeys", false, false, false, true, 0},
    FailureCase{"FolderWithoutProgram", false, true, false, true, 0},
    FailureCase{"ProgramDoesNotStart", false, true, true, false, 1},
    // Found but of another type: an empty path, which cannot start; the second key is not asked.
    FailureCase{"PathOfOtherType", true, true, true, true, 0}),
    [](const auto &row) { return std::string(row.param.name); });

TEST(StartSysInfo, PathOfOtherTypeDoesNotFallThroughToTheSecondKey)
{
    Recorder r;
    r.registry->Set(kInfoKey, "PATH", FakeRegistry::Raw(3, {1, 2}));
    corva::StartSysInfo(r.Services(), nullptr, QString());
    EXPECT_EQ(r.registry->opened, std::vector<std::string>{kInfoKey});
}

// Here there is no registry: the machine's services must end in the message and start nothing.
TEST(StartSysInfo, PlatformWithoutRegistryReportsUnavailable)
{
    SysInfoServices services = SysInfoServices::System();
    ASSERT_EQ(services.registry, nullptr);
    QStringList messages;
    bool started = false;
    services.startProgram = [&](const QString &) { return started = true; };
    services.showMessage = [&](QWidget *, const QString &, const QString &text) { messages << text; };
    corva::StartSysInfo(services, nullptr, QString());
    EXPECT_EQ(messages, QStringList{kUnavailable});
    EXPECT_FALSE(started);
}

} // namespace
