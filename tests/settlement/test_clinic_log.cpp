// The clinic log: file per server day, line format, GBK bytes, the local clock standing
// in when the server clock cannot be read, and never an error.
#include "SettleTestSupport.h"
#include "UQVChargeAdapter.h"

#include <gmock/gmock.h>

namespace {

class ClinicLog : public TSettleFixture {
protected:
    std::vector<std::string> LogFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(Folder))
            if (entry.path().filename().string().starts_with("qvClinicLog"))
                names.push_back(entry.path().filename().string());
        return names;
    }
};

} // namespace

TEST_F(ClinicLog, LineAndFileNameFromOneServerTime) {
    StartHost();
    Ctx.ServerTime = EncodeDateTime(2024, 3, 5, 8, 9, 10, 0);
    WriteClinicLog(Ctx, "abc");
    EXPECT_EQ(ReadFile("qvClinicLog2024-03-05.log"), "2024-03-05 08:09:10--abc\r\n");
    // One question to the server per line: the day of the file and the line agree.
    EXPECT_EQ(Ctx.ServerTimeCalls, 1);
}

TEST_F(ClinicLog, LinesAppendAndMidnightGoesToTheNewDay) {
    StartHost();
    Ctx.ServerTime = EncodeDateTime(2024, 3, 5, 23, 59, 59, 0);
    WriteClinicLog(Ctx, "one");
    WriteClinicLog(Ctx, "two");
    Ctx.ServerTime = EncodeDateTime(2024, 3, 6, 0, 0, 0, 0);
    WriteClinicLog(Ctx, "three");
    EXPECT_EQ(ReadFile("qvClinicLog2024-03-05.log"),
              "2024-03-05 23:59:59--one\r\n2024-03-05 23:59:59--two\r\n");
    EXPECT_EQ(ReadFile("qvClinicLog2024-03-06.log"), "2024-03-06 00:00:00--three\r\n");
}

TEST_F(ClinicLog, WrittenInGbk) {
    StartHost();
    Ctx.ServerTime = EncodeDateTime(2024, 3, 5, 8, 9, 10, 0);
    WriteClinicLog(Ctx, "诊间微信扫码支付本地his结算返回vak01值==1001");
    const std::string bytes = ReadFile("qvClinicLog2024-03-05.log");
    const std::string prefix = "2024-03-05 08:09:10--";
    ASSERT_GT(bytes.size(), prefix.size() + 2);
    // "诊" is D5 EF in GBK.
    EXPECT_EQ(static_cast<unsigned char>(bytes[prefix.size()]), 0xD5);
    EXPECT_EQ(static_cast<unsigned char>(bytes[prefix.size() + 1]), 0xEF);
    EXPECT_EQ(AnsiToUtf8(bytes), prefix + "诊间微信扫码支付本地his结算返回vak01值==1001\r\n");
}

TEST_F(ClinicLog, LocalClockWhenServerClockFails) {
    StartHost();
    Ctx.ServerTime.reset();
    WriteClinicLog(Ctx, "kept");
    const std::vector<std::string> files = LogFiles();
    ASSERT_EQ(files.size(), 1u);
    const std::string line = ReadFile(files[0]);
    // The file is named after the day of the line's own time.
    EXPECT_EQ(files[0], "qvClinicLog" + line.substr(0, 10) + ".log");
    EXPECT_THAT(line,
                ::testing::MatchesRegex("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}--kept\r\n"));
}

TEST_F(ClinicLog, NothingRaisedWithoutFolderOrHost) {
    HostConfig.WorkPath = Folder.string() + "/missing/";
    StartHost();
    Ctx.ServerTime = EncodeDateTime(2024, 3, 5, 8, 9, 10, 0);
    EXPECT_NO_THROW(WriteClinicLog(Ctx, "lost"));
    EXPECT_FALSE(std::filesystem::exists(Folder / "missing"));
    QvApp->Disconnect();
    QvApp->SetApplication(nullptr);
    Host.reset();
    // Without a host there is no working folder either.
    EXPECT_NO_THROW(WriteClinicLog(Ctx, "lost"));
}
