// The department material stock deduction and when the settlement calls it.
#include "SettleTestSupport.h"
#include "kbmMemTable.h"
#include "uSettleLocal.h"

#include <gmock/gmock.h>

using ::testing::ElementsAre;

namespace {

class StockDeduction : public TSettleFixture {
protected:
    // Wait notices as "kind:text".
    std::vector<std::string> Waits() const {
        std::vector<std::string> out;
        for (const THostWaitCall& w : Host->State().WaitCalls)
            out.push_back(std::to_string(w.Kind) + ":" + w.Text);
        return out;
    }
};

const char* const kDeduct = "exec QVStock_Deduct 22, 11, 1, 6, 7, '1023,1024', '李收费', 'QV-CLINIC-01'";

} // namespace

TEST_F(StockDeduction, RunsScriptWithVisitFirst) {
    StartHost();
    DeductMaterialStock(Ctx, "1023,1024", "王小明", 1, 11, 22);
    EXPECT_THAT(Ctx.Db->Statements, ElementsAre(std::string(kDeduct) + "\r\n"));
    EXPECT_THAT(Waits(), ElementsAre("1:正在冲减当前科室材料库存......", "2:"));
    EXPECT_TRUE(Ctx.Messages.empty());
}

TEST_F(StockDeduction, NothingForEmptyOrBadList) {
    struct TCase {
        const char* Name;
        const char* List;
        const char* Message; // empty: nothing shown
    };
    const TCase cases[] = {
        {"Empty", "", ""},
        {"Blank", "  ", ""},
        {"NotKeys", "1023');delete from DSK1;--",
         "发送【王小明】医嘱，冲减材料库存出现错误，详细信息：收费记录ID无效："},
    };
    StartHost();
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        Ctx.Messages.clear();
        DeductMaterialStock(Ctx, c.List, "王小明", 1, 11, 22);
        EXPECT_TRUE(Ctx.Db->Statements.empty());
        EXPECT_TRUE(Host->State().WaitCalls.empty());
        if (*c.Message) {
            ASSERT_EQ(Ctx.Messages.size(), 1u);
            EXPECT_THAT(Ctx.Messages[0].Text, ::testing::StartsWith(c.Message));
        } else {
            EXPECT_TRUE(Ctx.Messages.empty());
        }
    }
}

TEST_F(StockDeduction, FailureShownWithNameAndWaitClosed) {
    StartHost();
    Ctx.Db->Rules.push_back({"QVStock_Deduct", {{}, {}, {}, "科室材料“纱布”库存不足：库存1，需要2。"}});
    DeductMaterialStock(Ctx, "1023,1024", "王小明", 1, 11, 22);
    ASSERT_EQ(Ctx.Messages.size(), 1u);
    EXPECT_EQ(Ctx.Messages[0].Text,
              "发送【王小明】医嘱，冲减材料库存出现错误，详细信息：科室材料“纱布”库存不足：库存1，需要2。");
    EXPECT_EQ(Ctx.Messages[0].Caption, "<app>");
    EXPECT_EQ(Ctx.Messages[0].Flags, 0);
    EXPECT_EQ(Ctx.Rollbacks, 1);
    EXPECT_THAT(Waits(), ElementsAre("1:正在冲减当前科室材料库存......", "2:"));
}

// The settlement deducts stock once, only after it succeeded and only with parameter 97.
TEST_F(StockDeduction, SettleLocalDeductsOnlyAfterSuccessWithParameter97) {
    struct TCase {
        const char* Name;
        const char* Param97;
        const char* ParamError;
        bool ProcedureFails;
        int32_t Expected;
        size_t Deductions;
        size_t Messages;
    };
    const TCase cases[] = {
        {"SettledWith97", "1", "", false, 1001, 1, 0},
        {"SettledWithout97", "0", "", false, 1001, 0, 0},
        {"RefusedWith97", "1", "", true, 0, 0, 1},
        // A parameter that cannot be read never turns a made settlement into a failure.
        {"ParameterUnreadable", "1", "[DBNETLIB]一般性网络错误。", false, 1001, 0, 1},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        StartHost();
        TTestSettleContext ctx;
        ctx.Params[97] = c.Param97;
        ctx.ParamError = c.ParamError;
        ctx.ServerTime = EncodeDateTime(2024, 3, 5, 8, 9, 10, 0);
        for (int kind = 1; kind <= 5; ++kind)
            ctx.Db->Rules.push_back(
                {Format("PayKind = %d", {kind}), {{TextCol("BBP02"), TextCol("AAO01")}, {}}});
        if (c.ProcedureFails)
            ctx.Db->Rules.push_back({"QVRate_VAK1_Update", {{}, {}, {}, "费用记录1023不存在。"}});
        AddSettleRules(*ctx.Db);

        TkbmMemTable fees;
        fees.AddField("VAI01", ftInteger);
        fees.CreateTable();
        for (int id : {1023, 1024}) {
            fees.Append();
            fees.FieldByName("VAI01").SetAsInteger(id);
            fees.Post();
        }
        TSettleWindowData window;
        window.FVAA01 = 11;
        window.FVAC01 = 22;
        window.FACF01 = 1;
        window.FSVAI01 = "1023,1024";
        window.FVAA05 = "王小明";
        window.FTotalMoney = 30.5;
        window.kbmVAI = &fees;

        EXPECT_EQ(SettleLocal(ctx, window, 3, 0, ""), c.Expected);
        EXPECT_EQ(ctx.Db->CountContaining("QVStock_Deduct"), c.Deductions);
        EXPECT_EQ(ctx.Messages.size(), c.Messages);
        if (c.Deductions) {
            EXPECT_EQ(ctx.Db->Statements.back(), std::string(kDeduct) + "\r\n");
        }
        QvApp->Disconnect();
        QvApp->SetApplication(nullptr);
        Host.reset();
    }
}
