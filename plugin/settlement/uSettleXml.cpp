#include "uSettleXml.h"

ComPtr<TQVXMLNode> XmlForceNode(TQVXMLDocument& ADoc, const std::string& APath) {
    ComPtr<TQVXMLNode> node;
    OleCheck(ADoc.ForceNode(WideString(APath).c_bstr(), node.out()));
    if (!node) throw Exception("XML节点创建失败：" + APath);
    return node;
}

ComPtr<TQVXMLNode> XmlAddChild(TQVXMLDocument& ADoc, TQVXMLNode& AParent, const std::string& AName) {
    ComPtr<TQVXMLNode> node;
    OleCheck(ADoc.AddChild(&AParent, WideString(AName).c_bstr(), node.out()));
    if (!node) throw Exception("XML节点创建失败：" + AName);
    return node;
}

void XmlSetText(TQVXMLNode& ANode, const std::string& AName, const std::string& AValue) {
    OleCheck(ANode.SetAttribute(WideString(AName).c_bstr(), WideString(AValue).c_bstr()));
}

static void SetValue(TQVXMLNode& ANode, const std::string& AName, const OleVariant& AValue) {
    OleCheck(ANode.SetAttributeValue(WideString(AName).c_bstr(), &AValue.get()));
}

void XmlSetInt(TQVXMLNode& ANode, const std::string& AName, int32_t AValue) {
    SetValue(ANode, AName, OleVariant(AValue));
}

void XmlSetFloat(TQVXMLNode& ANode, const std::string& AName, double AValue) {
    SetValue(ANode, AName, OleVariant(AValue));
}

void XmlSetCurr(TQVXMLNode& ANode, const std::string& AName, Currency AValue) {
    SetValue(ANode, AName, OleVariant::Currency(AValue.Value));
}

std::string XmlAttr(TQVXMLNode& ANode, const std::string& AName) {
    WideString value;
    OleCheck(ANode.GetAttribute(WideString(AName).c_bstr(), value.out()));
    return value.str();
}

std::optional<std::vector<ComPtr<TQVXMLNode>>> XmlSelectNodes(TQVXMLDocument& ADoc,
                                                              const std::string& APath) {
    ComPtr<TQVXMLNodeList> list;
    OleCheck(ADoc.SelectNodes(WideString(APath).c_bstr(), list.out()));
    if (!list) return std::nullopt;
    int32_t count = 0;
    OleCheck(list->GetCount(&count));
    std::vector<ComPtr<TQVXMLNode>> nodes;
    nodes.reserve(count > 0 ? count : 0);
    for (int32_t i = 0; i < count; ++i) {
        ComPtr<TQVXMLNode> node;
        OleCheck(list->GetItem(i, node.out()));
        if (node) nodes.push_back(node);
    }
    return nodes;
}

ComPtr<TQVXMLNode> XmlSelectNode(TQVXMLDocument& ADoc, const std::string& APath) {
    ComPtr<TQVXMLNode> node;
    OleCheck(ADoc.SelectNode(WideString(APath).c_bstr(), node.out()));
    return node;
}

void XmlSetNodeText(TQVXMLNode& ANode, const std::string& AText) {
    OleCheck(ANode.SetText(WideString(AText).c_bstr()));
}

std::string XmlRootText(TQVXMLDocument& ADoc) {
    ComPtr<TQVXMLNode> root;
    OleCheck(ADoc.GetDocumentElement(root.out()));
    if (!root) return {};
    WideString xml;
    OleCheck(root->GetXML(xml.out()));
    return xml.str();
}

void XmlSave(TQVXMLDocument& ADoc, const std::string& AFileName) {
    try {
        OleCheck(ADoc.Save(WideString(AFileName).c_bstr()));
    } catch (const std::exception& e) {
        throw Exception("文件“" + AFileName + "”保存失败：" + e.what());
    }
}

void XmlNewDocument(TQVXMLDocument& ADoc, const std::string& ARoot) {
    OleCheck(ADoc.NewDocument(WideString(ARoot).c_bstr()));
}

void XmlLoad(TQVXMLDocument& ADoc, const std::string& AXml) {
    OleCheck(ADoc.LoadXML(WideString(AXml).c_bstr()));
}
