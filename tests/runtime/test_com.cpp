// The COM runtime stand-in: strings, reference counting, interface chains, error info.
#include "QvCom.h"

#include <gtest/gtest.h>
#include <thread>

namespace {
struct IAnimal : IInterface {
    QV_INTERFACE("{11111111-2222-3333-4444-555555555555}", IInterface);
    virtual HRESULT QV_STDCALL Name(BSTR* out) = 0;
};
struct IDog : IAnimal {
    QV_INTERFACE("{11111111-2222-3333-4444-666666666666}", IAnimal);
    virtual int QV_STDCALL Bark() = 0;
};
struct IOther : IInterface {
    QV_INTERFACE("{11111111-2222-3333-4444-777777777777}", IInterface);
};

int gAlive = 0;
struct TDog : TInterfacedObject<IDog> {
    TDog() { ++gAlive; }
    ~TDog() override { --gAlive; }
    HRESULT QV_STDCALL Name(BSTR* out) override {
        return SafeCall([&] {
            if (!out) throw Exception("没有输出参数");
            *out = Utf8ToBstr("旺财");
        });
    }
    int QV_STDCALL Bark() override { return 7; }
};
} // namespace

TEST(Com, GuidParsesAndPrints) {
    constexpr GUID g = MakeGUID("{B9C815F5-CED8-4530-94DD-5DC48B5384FA}");
    EXPECT_EQ(g.Data1, 0xB9C815F5u);
    EXPECT_EQ(g.Data4[7], 0xFA);
    EXPECT_EQ(GUIDToString(g), "{B9C815F5-CED8-4530-94DD-5DC48B5384FA}");
}

TEST(Com, StringsRoundTripAndEmptyIsNil) {
    WideString w("医生站结帐 abc");
    EXPECT_EQ(w.length(), 9u);
    EXPECT_EQ(w.str(), "医生站结帐 abc");
    EXPECT_EQ(WideString("").c_bstr(), nullptr);
    // Characters outside the basic plane travel as surrogate pairs.
    WideString emoji("\xF0\x9F\x98\x80");
    EXPECT_EQ(emoji.length(), 2u);
    EXPECT_EQ(emoji.str(), "\xF0\x9F\x98\x80");
    // Embedded NUL characters are kept: the length prefix, not the terminator, counts.
    std::string withNul("a\0b", 3);
    EXPECT_EQ(WideString(withNul).str(), withNul);
    // Bad UTF-8 becomes the replacement character instead of being dropped.
    EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16("\xFFx")), "\xEF\xBF\xBDx");
}

TEST(Com, QueryInterfaceWalksTheChainAndCounts) {
    {
        ComPtr<IDog> dog = MakeCom<TDog>();
        EXPECT_EQ(gAlive, 1);
        ComPtr<IAnimal> animal = dog.As<IAnimal>();
        ASSERT_TRUE(animal);
        ComPtr<IInterface> unk = dog.As<IInterface>();
        ASSERT_TRUE(unk);
        EXPECT_FALSE(dog.As<IOther>());
        WideString name;
        OleCheck(animal->Name(name.out()));
        EXPECT_EQ(name.str(), "旺财");
        EXPECT_EQ(static_cast<TDog*>(dog.get())->RefCount(), 3u);
    }
    EXPECT_EQ(gAlive, 0);
}

TEST(Com, SafeCallKeepsTheMessageForTheCaller) {
    ComPtr<IDog> dog = MakeCom<TDog>();
    const HRESULT hr = dog->Name(nullptr);
    EXPECT_EQ(static_cast<uint32_t>(hr), 0x8000FFFFu);
    try {
        OleCheck(hr);
        FAIL();
    } catch (const EOleException& e) {
        EXPECT_EQ(e.Message(), "没有输出参数");
        EXPECT_EQ(e.ErrorCode(), E_UNEXPECTED);
    }
    // Without error info the code's own text is raised.
    EXPECT_THROW(OleCheck(E_FAIL), EOleException);
    EXPECT_NO_THROW(OleCheck(S_FALSE));
}

TEST(Com, CoInitializeCountsPerThread) {
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    std::thread([] {
        EXPECT_EQ(CoInitialize(nullptr), S_OK);
        CoUninitialize();
    }).join();
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(CoInitializeCount(), 0);
    CoUninitialize(); // unbalanced: harmless
    EXPECT_EQ(CoInitializeCount(), 0);
}

TEST(Com, VariantOwnsItsString) {
    OleVariant v("金额");
    OleVariant copy = v;
    EXPECT_EQ(copy.type(), VT_BSTR);
    EXPECT_NE(copy.get().bstrVal, v.get().bstrVal);
    EXPECT_EQ(BstrToUtf8(copy.get().bstrVal), "金额");
    EXPECT_TRUE(OleVariant::Null().isNull());
}
