// Thin helpers over the host's XML document interfaces: each call checks the host's
// result and raises its message.
#pragma once

#include "QvHostIntf.h"
#include "QvText.h"

#include <optional>
#include <string>
#include <vector>

// The element at a simple path, made with every missing step.
ComPtr<TQVXMLNode> XmlForceNode(TQVXMLDocument& ADoc, const std::string& APath);
// A new child element.
ComPtr<TQVXMLNode> XmlAddChild(TQVXMLDocument& ADoc, TQVXMLNode& AParent, const std::string& AName);
// Attribute values: text as it is; numbers rendered by the host document.
void XmlSetText(TQVXMLNode& ANode, const std::string& AName, const std::string& AValue);
void XmlSetInt(TQVXMLNode& ANode, const std::string& AName, int32_t AValue);
void XmlSetFloat(TQVXMLNode& ANode, const std::string& AName, double AValue);
void XmlSetCurr(TQVXMLNode& ANode, const std::string& AName, Currency AValue);
// Empty text when the attribute is missing.
std::string XmlAttr(TQVXMLNode& ANode, const std::string& AName);
// The nodes matching a path; nothing (no list) when the host answers none.
std::optional<std::vector<ComPtr<TQVXMLNode>>> XmlSelectNodes(TQVXMLDocument& ADoc, const std::string& APath);
// The first node matching a path, or nil.
ComPtr<TQVXMLNode> XmlSelectNode(TQVXMLDocument& ADoc, const std::string& APath);
void XmlSetNodeText(TQVXMLNode& ANode, const std::string& AText);
// The XML text of the document element.
std::string XmlRootText(TQVXMLDocument& ADoc);
void XmlSave(TQVXMLDocument& ADoc, const std::string& AFileName);
void XmlNewDocument(TQVXMLDocument& ADoc, const std::string& ARoot);
void XmlLoad(TQVXMLDocument& ADoc, const std::string& AXml);
