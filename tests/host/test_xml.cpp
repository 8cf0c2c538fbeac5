// The host's XML documents as the plug-in uses them.
#include "QvHostSim.h"
#include "QvDateTime.h"
#include "QvText.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string Str(BSTR s) {
    return WideString::Attach(s).str();
}

// Small calling-side wrappers, as the plug-in's code reads.
struct TDoc {
    ComPtr<TQVXMLDocument> Doc = NewHostXMLDocument();

    void New(const char* ARoot) { OleCheck(Doc->NewDocument(WideString(ARoot).c_bstr())); }
    void Load(const std::string& AXml) { OleCheck(Doc->LoadXML(WideString(AXml).c_bstr())); }
    ComPtr<TQVXMLNode> Select(const std::string& APath) {
        ComPtr<TQVXMLNode> node;
        OleCheck(Doc->SelectNode(WideString(APath).c_bstr(), node.out()));
        return node;
    }
    ComPtr<TQVXMLNodeList> SelectAll(const std::string& APath) {
        ComPtr<TQVXMLNodeList> list;
        OleCheck(Doc->SelectNodes(WideString(APath).c_bstr(), list.out()));
        return list;
    }
    ComPtr<TQVXMLNode> Force(const std::string& APath) {
        ComPtr<TQVXMLNode> node;
        OleCheck(Doc->ForceNode(WideString(APath).c_bstr(), node.out()));
        return node;
    }
    ComPtr<TQVXMLNode> Add(TQVXMLNode* AParent, const char* AName) {
        ComPtr<TQVXMLNode> node;
        OleCheck(Doc->AddChild(AParent, WideString(AName).c_bstr(), node.out()));
        return node;
    }
    std::string Xml() {
        BSTR xml = nullptr;
        OleCheck(Doc->GetXML(&xml));
        return Str(xml);
    }
};

void SetAttr(TQVXMLNode* ANode, const char* AName, const std::string& AValue) {
    OleCheck(ANode->SetAttribute(WideString(AName).c_bstr(), WideString(AValue).c_bstr()));
}
std::string Attr(TQVXMLNode* ANode, const char* AName) {
    BSTR v = nullptr;
    OleCheck(ANode->GetAttribute(WideString(AName).c_bstr(), &v));
    return Str(v);
}
std::string NodeText(TQVXMLNode* ANode) {
    BSTR v = nullptr;
    OleCheck(ANode->GetText(&v));
    return Str(v);
}
std::string NodeXml(TQVXMLNode* ANode) {
    BSTR v = nullptr;
    OleCheck(ANode->GetXML(&v));
    return Str(v);
}

} // namespace

TEST(HostXml, ChargeDocumentPathsAreMadeAndFound) {
    TDoc d;
    d.New("Root");
    auto list = d.Force("/Root/PayInfo");
    auto ie = d.Add(list.get(), "Ie");
    SetAttr(ie.get(), "VAA01", "1023");
    auto oper = d.Add(d.Force("/Root").get(), "OperInfo");
    SetAttr(oper.get(), "EmpId", "15");
    SetAttr(oper.get(), "EmpName", "张三");

    auto found = d.Select("/Root/PayInfo/Ie");
    ASSERT_TRUE(found);
    EXPECT_EQ(Attr(found.get(), "VAA01"), "1023");
    EXPECT_EQ(Attr(found.get(), "Missing"), "");
    EXPECT_EQ(d.Force("/Root/PayInfo/Ie").get() != nullptr, true); // an existing path is not made twice
    EXPECT_EQ(
        d.Xml(),
        "<Root><PayInfo><Ie VAA01=\"1023\"/></PayInfo><OperInfo EmpId=\"15\" EmpName=\"张三\"/></Root>");

    // An attribute node: its text is the attribute's value, and setting it changes the value.
    auto empId = d.Select("/Root/OperInfo/@EmpId");
    ASSERT_TRUE(empId);
    EXPECT_EQ(NodeText(empId.get()), "15");
    BSTR name = nullptr;
    OleCheck(empId->GetNodeName(&name));
    EXPECT_EQ(Str(name), "EmpId");
    OleCheck(empId->SetText(WideString("27").c_bstr()));
    EXPECT_EQ(Attr(oper.get(), "EmpId"), "27");
    EXPECT_EQ(NodeXml(empId.get()), "EmpId=\"27\"");
    // A path to an attribute the element lacks selects nothing (and adds nothing).
    EXPECT_FALSE(d.Select("/Root/OperInfo/@EmpNo"));
    EXPECT_EQ(Attr(oper.get(), "EmpNo"), "");
}

TEST(HostXml, MissingPathsSelectNil) {
    TDoc d;
    d.Load("<Root><VBL1><Ie VBU01=\"1\"/><Ie VBU01=\"2\"/></VBL1></Root>");
    EXPECT_FALSE(d.Select("/Root/VCA/Ie"));
    EXPECT_FALSE(d.SelectAll("/Root/RefundInfo/Ie")); // no list when nothing matches
    auto list = d.SelectAll("/Root/VBL1/Ie");
    ASSERT_TRUE(list);
    int32_t count = 0;
    OleCheck(list->GetCount(&count));
    ASSERT_EQ(count, 2);
    ComPtr<TQVXMLNode> second;
    OleCheck(list->GetItem(1, second.out()));
    EXPECT_EQ(Attr(second.get(), "VBU01"), "2");
    EXPECT_NE(RaisedMessage([&] { OleCheck(list->GetItem(2, second.out())); }), "");

    TDoc empty;
    EXPECT_FALSE(empty.Select("/Root"));
    ComPtr<TQVXMLNode> root;
    OleCheck(empty.Doc->GetDocumentElement(root.out()));
    EXPECT_FALSE(root);
}

TEST(HostXml, BadInputGivesAClearErrorAndLeavesTheDocument) {
    TDoc d;
    d.Load("<Root><A x=\"1\"/></Root>");
    struct Case {
        const char* Name;
        std::function<void()> Call;
        const char* MessagePart;
    };
    const Case cases[] = {
        {"mismatched tags", [&] { d.Load("<Root><A></B></Root>"); }, "XML格式错误"},
        {"unclosed document", [&] { d.Load("<Root><A>"); }, "XML格式错误"},
        {"empty text", [&] { d.Load(""); }, "XML格式错误"},
        {"not XML", [&] { d.Load("结算成功"); }, "XML格式错误"},
        {"invalid XPath", [&] { d.Select("/Root/[["); }, "无效的XML路径"},
        {"XPath that selects no nodes", [&] { d.Select("count(/Root)"); }, "无效的XML路径"},
        {"force path with predicate", [&] { d.Force("/Root/A[1]"); }, "无效的XML路径"},
        {"force path off the root", [&] { d.Force("/Other/A"); }, "与根节点Root不符"},
        {"bad element name", [&] { d.Add(d.Select("/Root").get(), "1abc"); }, "无效的XML节点名"},
    };
    for (const Case& c : cases) {
        const std::string message = RaisedMessage(c.Call);
        EXPECT_NE(message.find(c.MessagePart), std::string::npos) << c.Name << ": " << message;
    }
    EXPECT_EQ(d.Xml(), "<Root><A x=\"1\"/></Root>");
}

TEST(HostXml, ParserMessageNamesThePosition) {
    TDoc d;
    const std::string message = RaisedMessage([&] { d.Load("<Root><名称></Root>"); });
    // Counted in characters, not bytes: the name of the closing tag after "<Root><名称></".
    EXPECT_EQ(message, "XML格式错误：Start-end tags mismatch，位置 12");
}

TEST(HostXml, NodesOfAnotherDocumentAreRefused) {
    TDoc a, b;
    a.New("Root");
    b.New("Root");
    auto foreign = b.Select("/Root");
    EXPECT_EQ(RaisedMessage([&] { a.Add(foreign.get(), "Ie"); }), "父节点不属于此XML文档。");
    EXPECT_EQ(RaisedMessage([&] { a.Add(nullptr, "Second"); }), "XML文档已有根节点。");
}

TEST(HostXml, NodesStayValidAfterTheDocumentChanges) {
    TDoc d;
    d.Load("<Root><A x=\"1\"/></Root>");
    auto a = d.Select("/Root/A");
    d.New("Other");
    EXPECT_EQ(Attr(a.get(), "x"), "1");
    d.Doc.reset();
    SetAttr(a.get(), "y", "2");
    EXPECT_EQ(NodeXml(a.get()), "<A x=\"1\" y=\"2\"/>");
}

TEST(HostXml, SetTextReplacesTheElementsContent) {
    TDoc d;
    d.Load("<Root><Item ID=\"1\">old<b>bold</b></Item></Root>");
    auto item = d.Select("/Root/Item");
    EXPECT_EQ(NodeText(item.get()), "oldbold");
    OleCheck(item->SetText(WideString("收费 & 结算").c_bstr()));
    EXPECT_EQ(NodeXml(item.get()), "<Item ID=\"1\">收费 &amp; 结算</Item>");
}

TEST(HostXml, VariantValuesAreWrittenAsText) {
    struct Case {
        const char* Name;
        OleVariant Value;
        const char* Text;
    };
    const Case cases[] = {
        {"integer", OleVariant(int32_t(-42)), "-42"},
        {"large integer", OleVariant(int64_t(12345678901LL)), "12345678901"},
        {"float, 15 digits", OleVariant(0.1 + 0.2), "0.3"},
        {"float, exponent", OleVariant(1e20), "1E20"},
        {"currency", OleVariant::Currency(125000), "12.5"},
        {"currency whole", OleVariant::Currency(30000), "3"},
        {"date at midnight", OleVariant::DateTime(EncodeDate(2024, 3, 5)), "2024-03-05"},
        {"date and time", OleVariant::DateTime(EncodeDateTime(2024, 3, 5, 8, 9, 10, 0)),
         "2024-03-05 08:09:10"},
        {"Boolean", OleVariant(true), "True"},
        {"text", OleVariant("王五"), "王五"},
        {"null", OleVariant::Null(), ""},
        {"empty", OleVariant(), ""},
    };
    TDoc d;
    d.New("Root");
    auto root = d.Select("/Root");
    for (const Case& c : cases) {
        OleCheck(root->SetAttributeValue(WideString("v").c_bstr(), &c.Value.get()));
        EXPECT_EQ(Attr(root.get(), "v"), c.Text) << c.Name;
    }
}

TEST(HostXml, SaveWritesTheDeclaredEncodingToAChineseFileName) {
    const fs::path folder = fs::temp_directory_path() / ("qvhost_" + std::to_string(::getpid()) + "_保存");
    fs::create_directories(folder);
    struct Case {
        const char* Name;
        std::string Xml;
        std::string Declaration;
        std::string Body; // as bytes in the file
    };
    const Case cases[] = {
        {"no declaration: UTF-8", "<Root Name=\"诊间结算\"/>", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
         "诊间结算"},
        {"GBK declaration: GBK bytes", "<?xml version=\"1.0\" encoding=\"GBK\"?><Root Name=\"诊间结算\"/>",
         "<?xml version=\"1.0\" encoding=\"GBK\"?>", Utf8ToAnsi("诊间结算")},
        {"other declaration: UTF-8",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><Root Name=\"诊间结算\"/>",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>", "诊间结算"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TDoc d;
        d.Load(c.Xml);
        const fs::path file = folder / "门诊结算单ClinicRate.xml";
        OleCheck(d.Doc->Save(WideString(file.string()).c_bstr()));
        std::ifstream in(file, std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        const std::string content = bytes.str();
        EXPECT_EQ(content.rfind(c.Declaration, 0), 0u) << content;
        EXPECT_NE(content.find(c.Body), std::string::npos);
        EXPECT_FALSE(fs::exists(folder / "门诊结算单ClinicRate.xml.tmp"));
    }
    // A folder that does not exist: a clear error, no file.
    TDoc d;
    d.New("Root");
    EXPECT_NE(RaisedMessage([&] {
                  OleCheck(d.Doc->Save(WideString((folder / "无/此/目录.xml").string()).c_bstr()));
              }).find("保存XML文件失败"),
              std::string::npos);
    fs::remove_all(folder);
}
