#pragma once
// A contact tree written out as display names, a group's entries in
// brackets: "p,G(q,r),s". Works for the tree and for the model, which both
// hand out a copy of their shape and a contact by handle.

#include "contacts/ContactTree.h"

#include <string>

namespace vp::test {

template <typename Contacts>
std::string treeText(Contacts& contacts) {
    ContactTree::Tree shape;
    contacts.copyTree(shape);
    std::string text;
    ContactTreeNode* node = shape.firstChild(nullptr);
    while (node) {
        ContactRecord record;
        contacts.getContact(shape.value(node), record);
        text += record.getDisplayName().c_str();
        if (!record.isUser()) {
            text += "(";
            if (ContactTreeNode* child = shape.firstChild(node)) {
                node = child;
                continue;
            }
            text += ")";
        }
        while (node && !shape.next(node)) {
            node = shape.parent(node);
            if (node) text += ")";
        }
        if (node) text += ",";
        node = shape.next(node);
    }
    return text;
}

} // namespace vp::test
