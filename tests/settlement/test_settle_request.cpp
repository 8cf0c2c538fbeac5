// The settlement request of each pay kind, the request file, the clinic log line of the
// request, and requests that cannot be built.
#include "SettleRequestRender.h"
#include "UQVChargeAdapter.h"
#include "kbmMemTable.h"
#include "uSettleLocal.h"

#include <gmock/gmock.h>

using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

namespace {

const char* const kPayInfo2 = "<Root><PayInfo><Ie IAS01=\"501\" VAI01=\"1023\"/>"
                              "<Ie IAS01=\"502\" VAI01=\"1024\"/></PayInfo></Root>";

struct TRequestCase {
    const char* Name;
    int32_t PayKind;
    int32_t FAF01;
    int32_t SelfPayFlag;
    int32_t SelfPayKind;
    int NoMethodFor; // pay kind without a configured payment method (0: none)
    const char* InsuranceXML;
    std::vector<std::string> Expected;
};

const TRequestCase kRequestCases[] = {
    {"WeChatTwoFees",
     3,
     0,
     0,
     0,
     0,
     "",
     {"VAA1: VAA01=11 VAA07=22 ACF01=1 VAK07=30.5 VAK08=30.5", "VAI1: VAI01=1023", "VAI1: VAI01=1024",
      "VBL1: VBU01=0 VBL13=30.5 VBL14=现金支付 VBL15=09 FAF01=0 BAQ03= VBL11=WX001"}},
    {"AlipayCode10",
     4,
     0,
     0,
     0,
     0,
     "",
     {"VAA1: VAA01=11 VAA07=22 ACF01=1 VAK07=30.5 VAK08=30.5", "VAI1: VAI01=1023", "VAI1: VAI01=1024",
      "VBL1: VBU01=0 VBL13=30.5 VBL14=现金支付 VBL15=10 FAF01=0 BAQ03= VBL11=WX001"}},
    // The POS transaction key is the only pay kind's FAF01 that is not 0.
    {"BankPosCarriesTransaction",
     2,
     4711,
     0,
     0,
     0,
     "",
     {"VAA1: VAA01=11 VAA07=22 ACF01=1 VAK07=30.5 VAK08=30.5", "VAI1: VAI01=1023", "VAI1: VAI01=1024",
      "VBL1: VBU01=0 VBL13=30.5 VBL14=现金支付 VBL15=02 FAF01=4711 BAQ03= VBL11=WX001"}},
    {"MemberCardAddsMovement",
     5,
     0,
     0,
     0,
     0,
     "",
     {"VAA1: VAA01=11 VAA07=22 ACF01=1 VAK07=30.5 VAK08=30.5", "VAI1: VAI01=1023", "VAI1: VAI01=1024",
      "VBL1: VBU01=900 VBL13=30.5 VBL14=现金支付 VBL15=05 FAF01=0 BAQ03= VBL11=WX001",
      "VCA: VBU01=900 VCB04= VCA10=30.5 VCA20=0 BBP02=方式5 AAO01=05 AMODE=1 VBU07=1"}},
    {"InsuranceWithoutRemainder",
     1,
     0,
     0,
     0,
     0,
     kPayInfo2,
     {"VAA1: VAA01=11 VAA07=22 ACF01=1 VAK07=30.5 VAK08=0", "VAI1: VAI01=1023", "VAI1: VAI01=1024",
      "VBL1: VBU01=0 VBL13=30.5 VBL14=现金支付 VBL15=03 FAF01=0 BAQ03= VBL11=WX001",
      "RefundInfo: IAS01=501 VAI01=1023", "RefundInfo: IAS01=502 VAI01=1024"}},
    // RefundInfo is always there for insurance, empty when the answer has no PayInfo rows.
    {"InsuranceAnswerWithoutPayInfo",
     1,
     0,
     0,
     0,
     0,
     "<Root><Other/></Root>",
     {"VAA1: VAA01=11 VAA07=22 ACF01=1 VAK07=30.5 VAK08=0", "VAI1: VAI01=1023", "VAI1: VAI01=1024",
      "VBL1: VBU01=0 VBL13=30.5 VBL14=现金支付 VBL15=03 FAF01=0 BAQ03= VBL11=WX001", "RefundInfo:"}},
    {"InsuranceRemainderByMemberCard",
     1,
     0,
     1,
     5,
     0,
     kPayInfo2,
     {"VAA1: VAA01=11 VAA07=22 ACF01=1 VAK07=30.5 VAK08=10.5", "VAI1: VAI01=1023", "VAI1: VAI01=1024",
      "VBL1: VBU01=0 VBL13=20 VBL14=现金支付 VBL15=03 FAF01=0 BAQ03= VBL11=WX001",
      "VBL1: VBU01=900 VBL13=10.5 VBL14=方式5 VBL15=05 FAF01=66 BAQ03= VBL11=RM01",
      "VCA: VBU01=900 VCB04= VCA10=10.5 VCA20=0 BBP02=方式5 AAO01=05 AMODE=1 VBU07=1",
      "RefundInfo: IAS01=501 VAI01=1023", "RefundInfo: IAS01=502 VAI01=1024"}},
    // A remainder kind without a configured method still settles, with empty texts.
    {"InsuranceRemainderMethodMissing",
     1,
     0,
     1,
     2,
     2,
     kPayInfo2,
     {"VAA1: VAA01=11 VAA07=22 ACF01=1 VAK07=30.5 VAK08=10.5", "VAI1: VAI01=1023", "VAI1: VAI01=1024",
      "VBL1: VBU01=0 VBL13=20 VBL14=现金支付 VBL15=03 FAF01=0 BAQ03= VBL11=WX001",
      "VBL1: VBU01=0 VBL13=10.5 VBL14= VBL15= FAF01=66 BAQ03= VBL11=RM01", "RefundInfo: IAS01=501 VAI01=1023",
      "RefundInfo: IAS01=502 VAI01=1024"}},
    {"UnknownKindZero",
     0,
     0,
     0,
     0,
     0,
     "",
     {"VAA1: VAA01=11 VAA07=22 ACF01=1 VAK07=30.5 VAK08=30.5", "VAI1: VAI01=1023", "VAI1: VAI01=1024",
      "VBL1: VBU01=0 VBL13=30.5 VBL14=现金支付 VBL15=02 FAF01=0 BAQ03= VBL11=WX001"}},
    {"UnknownKindSix",
     6,
     0,
     0,
     0,
     0,
     "",
     {"VAA1: VAA01=11 VAA07=22 ACF01=1 VAK07=30.5 VAK08=30.5", "VAI1: VAI01=1023", "VAI1: VAI01=1024",
      "VBL1: VBU01=0 VBL13=30.5 VBL14=现金支付 VBL15=02 FAF01=0 BAQ03= VBL11=WX001"}},
};

class SettleRequest : public TSettleFixture {
protected:
    void SetUp() override {
        TSettleFixture::SetUp();
        Fees.AddField("VAI01", ftInteger);
        Fees.CreateTable();
        for (int id : {1023, 1024}) {
            Fees.Append();
            Fees.FieldByName("VAI01").SetAsInteger(id);
            Fees.Post();
        }
        Window.FVAA01 = 11;
        Window.FVAC01 = 22;
        Window.FACF01 = 1;
        Window.FVBU01 = 900;
        Window.FSVAI01 = "1023,1024";
        Window.FVAA05 = "王小明";
        Window.FTotalMoney = 30.5;
        Window.FPayMethodName = "现金支付";
        Window.FPayOrderNo = "WX001";
        Window.kbmVAI = &Fees;
    }

    TkbmMemTable Fees;
    TSettleWindowData Window;
};

} // namespace

TEST_F(SettleRequest, ShapeOfEveryPayKind) {
    StartHost();
    for (const TRequestCase& c : kRequestCases) {
        SCOPED_TRACE(c.Name);
        Ctx.Db->Rules.clear();
        for (int kind = 1; kind <= 5; ++kind) {
            TFakeAnswer answer{{TextCol("BBP02"), TextCol("AAO01")}, {}};
            if (kind != c.NoMethodFor)
                answer.Rows.push_back(
                    {Variant("方式" + std::to_string(kind)), Variant("0" + std::to_string(kind))});
            Ctx.Db->Rules.push_back({Format("PayKind = %d", {kind}), answer});
        }
        TSettleWindowData window = Window;
        window.FSelfPayFlag = c.SelfPayFlag;
        window.FSelfPayKind = c.SelfPayKind;
        if (c.SelfPayFlag == 1) {
            window.FYbMoney = 20;
            window.FSelfMoney = 10.5;
            window.FSelfPayFAF01 = 66;
            window.FSelfPayOrderNo = "RM01";
        }
        const std::string xml = BuildSettleRequest(Ctx, window, c.PayKind, c.FAF01, c.InsuranceXML);
        EXPECT_THAT(RenderDocument(xml), ElementsAreArray(c.Expected));
        // The file holds the same document.
        EXPECT_THAT(RenderDocument(ReadFile("诊间his结算传入值.XML")), ElementsAreArray(c.Expected));
    }
}

TEST_F(SettleRequest, FeeTableLeftAfterLastRow) {
    StartHost();
    AddPayMethods();
    Fees.First();
    BuildSettleRequest(Ctx, Window, 3, 0, "");
    EXPECT_TRUE(Fees.Eof());
}

TEST_F(SettleRequest, SettleLocalLogsTheRequestAndSettles) {
    StartHost();
    AddPayMethods();
    Ctx.ServerTime = EncodeDateTime(2024, 3, 5, 8, 9, 10, 0);
    AddSettleRules(*Ctx.Db);

    EXPECT_EQ(SettleLocal(Ctx, Window, 3, 0, ""), 1001);

    const std::string request = AnsiToUtf8(ReadFile("qvClinicLog2024-03-05.log"));
    const std::string prefix = "2024-03-05 08:09:10--诊间his结算传入xml==";
    ASSERT_THAT(request, ::testing::StartsWith(prefix));
    ASSERT_THAT(request, ::testing::EndsWith("\r\n"));
    const std::string logged = request.substr(prefix.size(), request.size() - prefix.size() - 2);
    EXPECT_THAT(RenderDocument(logged), ElementsAreArray(kRequestCases[0].Expected));
    EXPECT_TRUE(Ctx.Messages.empty());
}

// Requests that cannot be built stop before anything is settled, with a clear message.
TEST_F(SettleRequest, BadInputStopsBeforeSettlement) {
    struct TCase {
        const char* Name;
        int32_t PayKind;
        const char* InsuranceXML;
        bool FolderMissing;
        const char* Message;
    };
    const TCase cases[] = {
        {"InsuranceAnswerNotXml", 1, "<Root><PayInfo>", false, "医保结算返回信息不是有效的XML，不能结算："},
        {"InsuranceAnswerEmpty", 1, "", false, "医保结算返回信息不是有效的XML，不能结算："},
        {"WorkingFolderMissing", 3, "", true, "诊间his结算传入值.XML”保存失败："},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        HostConfig.WorkPath = Folder.string() + (c.FolderMissing ? "/missing/" : "/");
        StartHost();
        AddPayMethods();
        Ctx.Db->Statements.clear();
        try {
            SettleLocal(Ctx, Window, c.PayKind, 0, c.InsuranceXML);
            ADD_FAILURE() << "no error";
        } catch (const Exception& e) {
            EXPECT_THAT(e.what(), HasSubstr(c.Message));
        }
        EXPECT_EQ(Ctx.Db->CountContaining("QVRate"), 0u);
        EXPECT_FALSE(FileExists("诊间his结算传入值.XML"));
        QvApp->Disconnect();
        QvApp->SetApplication(nullptr);
        Host.reset();
    }
}
