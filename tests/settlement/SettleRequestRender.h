// Renders a settlement or charge document as lines "List: name=value ..." per record, so
// that a whole document shape is compared at once.
#pragma once

#include "SettleTestSupport.h"

// One line per Ie of each list element under Root ("VBL1: VBU01=0 VBL13=30.5 ..."); a list
// element without records gives "Name:".
inline std::vector<std::string> RenderDocument(const std::string& AXml) {
    std::vector<std::string> lines;
    auto doc = ParseXml(AXml);
    for (const pugi::xml_node& list : doc->child("Root").children()) {
        bool any = false;
        for (const pugi::xml_node& ie : list.children("Ie")) {
            std::string line = std::string(list.name()) + ":";
            for (const std::string& a : Attrs(ie))
                line += " " + a;
            lines.push_back(line);
            any = true;
        }
        if (!any) {
            std::string line = std::string(list.name()) + ":";
            for (const std::string& a : Attrs(list))
                line += " " + a;
            lines.push_back(line);
        }
    }
    return lines;
}
