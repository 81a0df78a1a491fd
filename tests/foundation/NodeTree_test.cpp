#include "foundation/NodeTree.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>

namespace vp {
namespace {

using Tree = NodeTree<uint32_t>;
using Node = Tree::Node;

// The tree as text, e.g. "1(2 3) 4", checking on the way that every link
// agrees with its counterpart (parent, previous/next, first/last child).
std::string shape(const Tree& tree, Node* parent = nullptr) {
    std::string out;
    Node* previous = nullptr;
    for (Node* node = tree.firstChild(parent); node; node = tree.next(node)) {
        EXPECT_EQ(tree.parent(node), parent);
        EXPECT_EQ(tree.previous(node), previous);
        if (!out.empty()) out += ' ';
        out += std::to_string(tree.value(node));
        if (tree.firstChild(node)) out += '(' + shape(tree, node) + ')';
        previous = node;
    }
    EXPECT_EQ(tree.lastChild(parent), previous);
    return out;
}

// Appends the nodes a shape text describes below parent; text ends up at
// the ')' that closes the list, or at the end.
void appendShape(Tree& tree, const char*& text, Node* parent) {
    while (*text && *text != ')') {
        if (*text == ' ') {
            ++text;
            continue;
        }
        char* end = nullptr;
        Node* node = tree.append(parent, static_cast<uint32_t>(std::strtoul(text, &end, 10)));
        text = end;
        if (*text == '(') {
            appendShape(tree, ++text, node);
            ++text;
        }
    }
}

void build(Tree& tree, const char* text, Node* parent = nullptr) { appendShape(tree, text, parent); }

// The node holding value (depth first); nullptr for 0.
Node* nodeOf(const Tree& tree, uint32_t value, Node* parent = nullptr) {
    if (value == 0) return nullptr;
    for (Node* node = tree.firstChild(parent); node; node = tree.next(node)) {
        if (tree.value(node) == value) return node;
        if (Node* found = nodeOf(tree, value, node)) return found;
    }
    return nullptr;
}

TEST(NodeTree, InsertPositionsAndNavigation) {
    Tree tree;
    EXPECT_TRUE(tree.isEmpty());
    Node* two = tree.insertFirst(nullptr, 2);
    Node* one = tree.insertFirst(nullptr, 1);
    Node* four = tree.append(nullptr, 4);
    tree.insertAfter(two, 3);
    EXPECT_EQ(shape(tree), "1 2 3 4");

    Node* b = tree.append(two, 21);
    tree.insertFirst(two, 20);
    tree.insertAfter(b, 23);
    tree.insertAfter(b, 22);
    tree.append(four, 40);
    EXPECT_EQ(shape(tree), "1 2(20 21 22 23) 3 4(40)");

    EXPECT_EQ(tree.insertAfter(nullptr, 9), nullptr);
    EXPECT_EQ(tree.next(nullptr), nullptr);
    EXPECT_EQ(tree.previous(nullptr), nullptr);
    EXPECT_EQ(tree.parent(nullptr), nullptr);
    EXPECT_EQ(tree.value(nullptr), 0u);
    EXPECT_EQ(tree.lastChild(one), nullptr);
    tree.setValue(one, 10);
    EXPECT_EQ(shape(tree), "10 2(20 21 22 23) 3 4(40)");
}

// Each move names its node, new parent and the node to follow (0 for none,
// the parent itself to go last); a refused move or one to where the node
// already is answers 0 and changes nothing.
TEST(NodeTree, EveryMoveFormAndEveryRefusal) {
    Tree tree;
    build(tree, "1(10(100) 11 12) 2");
    const struct {
        uint32_t node, parent, after, result;
        const char* shape;
    } moves[] = {
        {1, 1, 0, 0, "1(10(100) 11 12) 2"},    // under itself
        {1, 1, 1, 0, "1(10(100) 11 12) 2"},
        {1, 100, 0, 0, "1(10(100) 11 12) 2"},  // under its own descendant
        {1, 10, 10, 0, "1(10(100) 11 12) 2"},
        {10, 1, 10, 0, "1(10(100) 11 12) 2"},  // after itself
        {10, 2, 1, 0, "1(10(100) 11 12) 2"},   // after a node of another parent
        {10, 0, 100, 0, "1(10(100) 11 12) 2"}, // the top level needs a top-level sibling
        {0, 2, 0, 0, "1(10(100) 11 12) 2"},
        // First child.
        {10, 1, 0, 0, "1(10(100) 11 12) 2"},
        {12, 1, 0, 1, "1(12 10(100) 11) 2"},
        // After a sibling.
        {10, 1, 12, 0, "1(12 10(100) 11) 2"},
        {12, 1, 11, 1, "1(10(100) 11 12) 2"},
        // Last child: the current last child stays put.
        {12, 1, 1, 0, "1(10(100) 11 12) 2"},
        {10, 1, 1, 1, "1(11 12 10(100)) 2"},
        {10, 1, 1, 0, "1(11 12 10(100)) 2"},
        // Across parents, into an empty child list and up to the top level,
        // each node with its subtree.
        {11, 2, 2, 1, "1(12 10(100)) 2(11)"},
        {10, 2, 0, 1, "1(12) 2(10(100) 11)"},
        {12, 0, 2, 1, "1 2(10(100) 11) 12"},
        {12, 0, 0, 1, "12 1 2(10(100) 11)"},
        {12, 0, 0, 0, "12 1 2(10(100) 11)"},
        {1, 0, 12, 0, "12 1 2(10(100) 11)"},
        {2, 12, 12, 1, "12(2(10(100) 11)) 1"},
    };
    for (const auto& each : moves) {
        SCOPED_TRACE(std::to_string(each.node) + " to " + std::to_string(each.parent) + " after " +
                     std::to_string(each.after));
        EXPECT_EQ(tree.move(nodeOf(tree, each.node), nodeOf(tree, each.parent), nodeOf(tree, each.after)),
                  each.result);
        EXPECT_EQ(shape(tree), each.shape);
    }
}

TEST(NodeTree, RemoveTakesTheSubtreeAndRelinksSiblings) {
    Tree tree;
    build(tree, "1 2(20 21(210(2100) 211) 22) 3");
    const struct {
        uint32_t node;
        const char* shape;
    } removals[] = {
        {21, "1 2(20 22) 3"}, {20, "1 2(22) 3"}, {22, "1 2 3"}, {1, "2 3"}, {0, "2 3"},
    };
    for (const auto& each : removals) {
        tree.remove(nodeOf(tree, each.node));
        EXPECT_EQ(shape(tree), each.shape) << each.node;
    }

    Node* two = nodeOf(tree, 2);
    build(tree, "20 21(210)", two);
    tree.removeChildren(two);
    EXPECT_EQ(shape(tree), "2 3");
    tree.append(two, 20);
    tree.removeChildren(nullptr);
    EXPECT_TRUE(tree.isEmpty());
    build(tree, "5(50)");
    tree.clear();
    EXPECT_EQ(shape(tree), "");
}

TEST(NodeTree, CopiesAreDeepAndIndependent) {
    const std::string before = "1(10(100) 11) 2";
    Tree original;
    build(original, before.c_str());
    Tree assigned;
    assigned.append(nullptr, 77);
    EXPECT_EQ(assigned.assign(original), 1u);
    Tree copied(original);
    Tree byOperator;
    byOperator = original;
    original.remove(nodeOf(original, 10));
    original.setValue(nodeOf(original, 1), 9);
    EXPECT_EQ(shape(original), "9(11) 2");
    for (const Tree* copy : {&assigned, &copied, &byOperator}) EXPECT_EQ(shape(*copy), before);

    Tree& alias = copied;
    EXPECT_EQ(copied.assign(alias), 1u);
    EXPECT_EQ(shape(copied), before);
    copied = Tree();
    EXPECT_TRUE(copied.isEmpty());
    Tree moved(std::move(byOperator));
    EXPECT_TRUE(byOperator.isEmpty());
    original = std::move(moved);
    EXPECT_TRUE(moved.isEmpty());
    EXPECT_EQ(shape(original), before);
}

TEST(NodeTree, DeepChainsNeedNoDeepStack) {
    constexpr uint32_t kDepth = 100000;
    Tree tree;
    Node* top = tree.append(nullptr, 0);
    Node* bottom = top;
    for (uint32_t i = 1; i < kDepth; ++i) {
        bottom = tree.append(bottom, i);
        ASSERT_NE(bottom, nullptr);
    }
    // Checking for a move into its own subtree walks the whole chain.
    EXPECT_EQ(tree.move(top, bottom, nullptr), 0u);

    Tree copy;
    ASSERT_EQ(copy.assign(tree), 1u);
    uint32_t depth = 0;
    for (Node* node = copy.firstChild(nullptr); node; node = copy.firstChild(node)) {
        ASSERT_EQ(copy.value(node), depth);
        ASSERT_EQ(copy.next(node), nullptr);
        ++depth;
    }
    EXPECT_EQ(depth, kDepth);

    tree.remove(top);
    EXPECT_TRUE(tree.isEmpty());
    Tree another(copy);
    copy.clear();
    EXPECT_TRUE(copy.isEmpty());
    // another is freed by its destructor.
}

} // namespace
} // namespace vp
