// The host's XML documents on pugixml.
//
// A node keeps its document's tree alive, so a node stays valid after its document object
// is released or given a new content (NewDocument and LoadXML start a new tree). A node is
// an element (or the document) or an attribute; attribute nodes come from paths such as
// "/Root/OperInfo/@EmpId" and answer GetText/SetText with their value.
//
// Save writes the encoding the document declares: GBK for a declaration naming GBK,
// GB2312 or GB18030, UTF-8 otherwise (the declaration then says UTF-8), so the bytes always
// match the declaration.
#include "QvHostSim.h"

#include "QvDateTime.h"
#include "QvText.h"

#include <pugixml.hpp>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using TTree = std::shared_ptr<pugi::xml_document>;

std::string Arg(BSTR s) {
    return BstrToUtf8(s);
}

template <class T> T& Out(T* p) {
    if (!p) throw Exception("缺少输出参数。");
    return *p;
}

void SetOut(BSTR* AOut, const std::string& AText) {
    // An out-parameter: whatever it held is not ours to free.
    Out(AOut) = Utf8ToBstr(AText);
}

// Number of characters (code points) in the first ABytes bytes of UTF-8 text.
size_t CharCount(const std::string& AText, size_t ABytes) {
    size_t n = 0;
    for (size_t i = 0; i < ABytes && i < AText.size(); ++i)
        if ((static_cast<unsigned char>(AText[i]) & 0xC0) != 0x80) ++n;
    return n;
}

bool IsXmlName(const std::string& AName) {
    if (AName.empty()) return false;
    auto first = static_cast<unsigned char>(AName[0]);
    if (!(std::isalpha(first) || first == '_' || first >= 0x80)) return false;
    for (unsigned char c : AName)
        if (!(std::isalnum(c) || c == '_' || c == '-' || c == '.' || c >= 0x80)) return false;
    return true;
}

bool IsGbkName(const std::string& AEncoding) {
    return SameText(AEncoding, "GBK") || SameText(AEncoding, "GB2312") || SameText(AEncoding, "GB18030") ||
           SameText(AEncoding, "CP936");
}

std::string EscapeAttr(const std::string& AValue) {
    std::string out;
    for (char c : AValue) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\r':
            out += "&#13;";
            break;
        case '\n':
            out += "&#10;";
            break;
        case '\t':
            out += "&#9;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string NodeXml(const pugi::xml_node& ANode) {
    std::ostringstream out;
    ANode.print(out, "", pugi::format_raw, pugi::encoding_utf8);
    return out.str();
}

// All text below a node (its descendants' text in document order).
std::string DeepText(const pugi::xml_node& ANode) {
    if (ANode.type() == pugi::node_pcdata || ANode.type() == pugi::node_cdata) return ANode.value();
    std::string text;
    for (pugi::xml_node child : ANode.children())
        text += DeepText(child);
    return text;
}

class TQvHostXMLNode : public TInterfacedObject<TQVXMLNode> {
public:
    TQvHostXMLNode(TTree ATree, pugi::xml_node ANode, pugi::xml_attribute AAttr = {})
        : FTree(std::move(ATree)), FNode(ANode), FAttr(AAttr) {}

    static ComPtr<TQVXMLNode> Make(const TTree& ATree, const pugi::xpath_node& AHit) {
        if (AHit.attribute()) return MakeCom<TQvHostXMLNode>(ATree, AHit.parent(), AHit.attribute());
        if (AHit.node()) return MakeCom<TQvHostXMLNode>(ATree, AHit.node());
        return nullptr;
    }

    HRESULT QV_STDCALL GetAttribute(BSTR AName, BSTR* AValue) override {
        return SafeCall(
            [&] { SetOut(AValue, FAttr ? std::string() : FNode.attribute(Arg(AName).c_str()).value()); });
    }
    HRESULT QV_STDCALL SetAttribute(BSTR AName, BSTR AValue) override {
        return SafeCall([&] { SetAttr(Arg(AName), Arg(AValue)); });
    }
    HRESULT QV_STDCALL SetAttributeValue(BSTR AName, const VARIANT* AValue) override {
        return SafeCall([&] { SetAttr(Arg(AName), HostVariantText(Out(AValue))); });
    }
    HRESULT QV_STDCALL SetText(BSTR AText) override {
        return SafeCall([&] {
            const std::string text = Arg(AText);
            if (FAttr) {
                FAttr.set_value(text.c_str());
                return;
            }
            NeedElement("SetText");
            // As the DOM's text property: the text replaces every child.
            while (FNode.first_child())
                FNode.remove_child(FNode.first_child());
            if (!text.empty()) FNode.append_child(pugi::node_pcdata).set_value(text.c_str());
        });
    }
    HRESULT QV_STDCALL GetXML(BSTR* AXml) override {
        return SafeCall([&] {
            if (FAttr) {
                SetOut(AXml, std::string(FAttr.name()) + "=\"" + EscapeAttr(FAttr.value()) + "\"");
                return;
            }
            SetOut(AXml, NodeXml(FNode));
        });
    }
    HRESULT QV_STDCALL GetText(BSTR* AText) override {
        return SafeCall([&] { SetOut(AText, FAttr ? std::string(FAttr.value()) : DeepText(FNode)); });
    }
    HRESULT QV_STDCALL GetNodeName(BSTR* AName) override {
        return SafeCall([&] {
            SetOut(AName, FAttr                                 ? FAttr.name()
                          : FNode.type() == pugi::node_document ? "#document"
                                                                : FNode.name());
        });
    }

    const TTree& Tree() const { return FTree; }
    pugi::xml_node Node() const { return FNode; }
    bool IsAttribute() const { return static_cast<bool>(FAttr); }

private:
    void NeedElement(const char* AOperation) const {
        if (FNode.type() != pugi::node_element)
            throw Exception(std::string("XML节点不是元素，不能") + AOperation + "。");
    }

    void SetAttr(const std::string& AName, const std::string& AValue) {
        if (FAttr) throw Exception("XML属性节点不能再设置属性。");
        NeedElement("设置属性");
        if (!IsXmlName(AName)) throw Exception("无效的XML属性名：" + AName);
        pugi::xml_attribute attr = FNode.attribute(AName.c_str());
        if (!attr) attr = FNode.append_attribute(AName.c_str());
        attr.set_value(AValue.c_str());
    }

    TTree FTree;
    pugi::xml_node FNode;
    pugi::xml_attribute FAttr;
};

class TQvHostXMLNodeList : public TInterfacedObject<TQVXMLNodeList> {
public:
    explicit TQvHostXMLNodeList(std::vector<ComPtr<TQVXMLNode>> AItems) : FItems(std::move(AItems)) {}

    HRESULT QV_STDCALL GetCount(int32_t* ACount) override {
        return SafeCall([&] { Out(ACount) = static_cast<int32_t>(FItems.size()); });
    }
    HRESULT QV_STDCALL GetItem(int32_t AIndex, TQVXMLNode** ANode) override {
        return SafeCall([&] {
            TQVXMLNode*& out = Out(ANode);
            out = nullptr;
            if (AIndex < 0 || AIndex >= static_cast<int32_t>(FItems.size()))
                throw Exception("列表索引越界 (" + std::to_string(AIndex) + ")");
            out = ComPtr<TQVXMLNode>(FItems[static_cast<size_t>(AIndex)]).Detach();
        });
    }

private:
    std::vector<ComPtr<TQVXMLNode>> FItems;
};

class TQvHostXMLDocument : public TInterfacedObject<TQVXMLDocument> {
public:
    TQvHostXMLDocument() : FTree(std::make_shared<pugi::xml_document>()) {}

    HRESULT QV_STDCALL NewDocument(BSTR ARootName) override {
        return SafeCall([&] {
            const std::string name = Arg(ARootName);
            if (!IsXmlName(name)) throw Exception("无效的XML节点名：" + name);
            auto tree = std::make_shared<pugi::xml_document>();
            tree->append_child(name.c_str());
            FTree = std::move(tree);
        });
    }
    HRESULT QV_STDCALL LoadXML(BSTR AXml) override {
        return SafeCall([&] {
            const std::string text = Arg(AXml);
            auto tree = std::make_shared<pugi::xml_document>();
            // The text is already Unicode: a declared encoding does not apply to it.
            const pugi::xml_parse_result result = tree->load_buffer(
                text.data(), text.size(), pugi::parse_default | pugi::parse_declaration, pugi::encoding_utf8);
            if (!result) {
                const size_t offset = static_cast<size_t>(result.offset);
                throw Exception(std::string("XML格式错误：") + result.description() + "，位置 " +
                                std::to_string(CharCount(text, offset)));
            }
            FTree = std::move(tree); // a failed load leaves the document as it was
        });
    }
    HRESULT QV_STDCALL GetDocumentElement(TQVXMLNode** ANode) override {
        return SafeCall([&] {
            TQVXMLNode*& out = Out(ANode);
            out = nullptr;
            if (pugi::xml_node root = FTree->document_element())
                out = MakeCom<TQvHostXMLNode>(FTree, root).Detach();
        });
    }
    HRESULT QV_STDCALL SelectNode(BSTR APath, TQVXMLNode** ANode) override {
        return SafeCall([&] {
            TQVXMLNode*& out = Out(ANode);
            out = nullptr;
            const pugi::xpath_node_set hits = Select(Arg(APath));
            if (!hits.empty()) out = TQvHostXMLNode::Make(FTree, hits.first()).Detach();
        });
    }
    HRESULT QV_STDCALL SelectNodes(BSTR APath, TQVXMLNodeList** AList) override {
        return SafeCall([&] {
            TQVXMLNodeList*& out = Out(AList);
            out = nullptr;
            const pugi::xpath_node_set hits = Select(Arg(APath));
            if (hits.empty()) return; // nothing matches: nil
            std::vector<ComPtr<TQVXMLNode>> items;
            for (const pugi::xpath_node& hit : hits)
                if (auto node = TQvHostXMLNode::Make(FTree, hit)) items.push_back(node);
            out = MakeCom<TQvHostXMLNodeList>(std::move(items)).Detach();
        });
    }
    HRESULT QV_STDCALL ForceNode(BSTR APath, TQVXMLNode** ANode) override {
        return SafeCall([&] {
            TQVXMLNode*& out = Out(ANode);
            out = nullptr;
            out = Force(Arg(APath)).Detach();
        });
    }
    HRESULT QV_STDCALL AddChild(TQVXMLNode* AParent, BSTR AName, TQVXMLNode** ANode) override {
        return SafeCall([&] {
            TQVXMLNode*& out = Out(ANode);
            out = nullptr;
            const std::string name = Arg(AName);
            if (!IsXmlName(name)) throw Exception("无效的XML节点名：" + name);
            pugi::xml_node parent;
            if (!AParent) {
                if (FTree->document_element()) throw Exception("XML文档已有根节点。");
                parent = *FTree;
            } else {
                auto* node = dynamic_cast<TQvHostXMLNode*>(AParent);
                if (!node || node->Tree() != FTree) throw Exception("父节点不属于此XML文档。");
                if (node->IsAttribute() || node->Node().type() != pugi::node_element)
                    throw Exception("XML属性节点不能添加子节点。");
                parent = node->Node();
            }
            out = MakeCom<TQvHostXMLNode>(FTree, parent.append_child(name.c_str())).Detach();
        });
    }
    HRESULT QV_STDCALL GetXML(BSTR* AXml) override {
        return SafeCall([&] {
            std::ostringstream text;
            FTree->save(text, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
            SetOut(AXml, text.str());
        });
    }
    HRESULT QV_STDCALL Save(BSTR AFileName) override {
        return SafeCall([&] { SaveTo(Arg(AFileName)); });
    }

private:
    // The nodes a path selects, in document order; a path that is not valid XPath, or
    // that does not select nodes, raises its parser's message.
    pugi::xpath_node_set Select(const std::string& APath) const {
        try {
            pugi::xpath_query query(APath.c_str());
            if (!query) throw pugi::xpath_exception(query.result());
            pugi::xpath_node_set hits = query.evaluate_node_set(*FTree);
            hits.sort();
            return hits;
        } catch (const pugi::xpath_exception& e) {
            throw Exception("无效的XML路径：" + APath + "（" + e.what() + "）");
        }
    }

    // The element at a simple path ("/Root/A/B", optionally ending in "/@attr"), made with
    // every missing step.
    ComPtr<TQVXMLNode> Force(const std::string& APath) {
        std::vector<std::string> steps;
        for (const std::string& step : SplitString(APath, "/"))
            if (!step.empty()) steps.push_back(step);
        if (steps.empty()) throw Exception("无效的XML路径：" + APath);
        std::string attrName;
        if (steps.back().front() == '@') {
            attrName = steps.back().substr(1);
            steps.pop_back();
            if (!IsXmlName(attrName) || steps.empty()) throw Exception("无效的XML路径：" + APath);
        }
        for (const std::string& step : steps)
            if (!IsXmlName(step)) throw Exception("无效的XML路径：" + APath);

        pugi::xml_node node = FTree->document_element();
        if (!node) {
            node = FTree->append_child(steps.front().c_str());
        } else if (steps.front() != node.name()) {
            throw Exception("XML路径" + APath + "与根节点" + node.name() + "不符。");
        }
        for (size_t i = 1; i < steps.size(); ++i) {
            pugi::xml_node child = node.child(steps[i].c_str());
            node = child ? child : node.append_child(steps[i].c_str());
        }
        if (attrName.empty()) return MakeCom<TQvHostXMLNode>(FTree, node);
        pugi::xml_attribute attr = node.attribute(attrName.c_str());
        if (!attr) attr = node.append_attribute(attrName.c_str());
        return MakeCom<TQvHostXMLNode>(FTree, node, attr);
    }

    void SaveTo(const std::string& AFileName) {
        if (AFileName.empty()) throw Exception("保存XML文件失败：没有文件名。");
        // The declaration states the encoding written; a document without one gets UTF-8.
        pugi::xml_document copy;
        copy.reset(*FTree);
        pugi::xml_node decl = copy.first_child();
        if (!decl || decl.type() != pugi::node_declaration) {
            decl = copy.prepend_child(pugi::node_declaration);
            decl.append_attribute("version").set_value("1.0");
        }
        const bool gbk = IsGbkName(decl.attribute("encoding").value());
        if (!decl.attribute("encoding")) decl.append_attribute("encoding");
        if (!gbk) decl.attribute("encoding").set_value("UTF-8");

        std::ostringstream text;
        copy.save(text, "  ", pugi::format_indent, pugi::encoding_utf8);
        const std::string bytes = gbk ? Utf8ToAnsi(text.str()) : text.str();

        // Written beside the target and then renamed, so a failed save never leaves half a file.
        const std::filesystem::path target(AFileName); // UTF-8 bytes, as the file system takes them
        std::filesystem::path temp = target;
        temp += ".tmp";
        {
            std::ofstream out(temp, std::ios::binary | std::ios::trunc);
            if (!out) throw Exception("保存XML文件失败：" + AFileName);
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            out.close();
            if (!out) {
                std::error_code ec;
                std::filesystem::remove(temp, ec);
                throw Exception("保存XML文件失败：" + AFileName);
            }
        }
        std::error_code ec;
        std::filesystem::rename(temp, target, ec);
        if (ec) {
            std::filesystem::remove(temp, ec);
            throw Exception("保存XML文件失败：" + AFileName);
        }
    }

    TTree FTree;
};

} // namespace

ComPtr<TQVXMLDocument> NewHostXMLDocument() {
    return MakeCom<TQvHostXMLDocument>();
}

std::string HostVariantText(const VARIANT& AValue) {
    switch (AValue.vt) {
    case VT_EMPTY:
    case VT_NULL:
        return {};
    case VT_I4:
        return IntToStr(AValue.lVal);
    case VT_I8:
        return IntToStr(AValue.llVal);
    case VT_R8:
        return FloatToStr(AValue.dblVal);
    case VT_CY:
        return CurrToStr(Currency{AValue.cyVal});
    case VT_DATE:
        return DateTimeToStr(AValue.date);
    case VT_BOOL:
        return AValue.boolVal ? "True" : "False";
    case VT_BSTR:
        return BstrToUtf8(AValue.bstrVal);
    default:
        throw Exception("不支持的属性值类型：" + std::to_string(AValue.vt));
    }
}
