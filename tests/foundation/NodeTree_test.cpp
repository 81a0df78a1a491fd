#include "foundation/NodeTree.h"

#include <gtest/gtest.h>

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

TEST(NodeTree, InsertPositionsAndNavigation) {
    Tree tree;
    EXPECT_TRUE(tree.isEmpty());
    Node* two = tree.insertFirst(nullptr, 2);
    Node* one = tree.insertFirst(nullptr, 1);
    Node* four = tree.append(nullptr, 4);
    Node* three = tree.insertAfter(two, 3);
    EXPECT_EQ(shape(tree), "1 2 3 4");

    Node* b = tree.append(two, 21);
    tree.insertFirst(two, 20);
    tree.insertAfter(b, 23);
    tree.insertAfter(b, 22);
    tree.append(four, 40);
    EXPECT_EQ(shape(tree), "1 2(20 21 22 23) 3 4(40)");
    EXPECT_EQ(tree.value(tree.lastChild(two)), 23u);
    EXPECT_EQ(tree.next(three), four);
    EXPECT_EQ(tree.previous(two), one);

    EXPECT_EQ(tree.insertAfter(nullptr, 9), nullptr);
    EXPECT_EQ(tree.next(nullptr), nullptr);
    EXPECT_EQ(tree.previous(nullptr), nullptr);
    EXPECT_EQ(tree.parent(nullptr), nullptr);
    EXPECT_EQ(tree.value(nullptr), 0u);
    EXPECT_EQ(tree.firstChild(one), nullptr);
    EXPECT_EQ(tree.lastChild(one), nullptr);
    tree.setValue(one, 10);
    EXPECT_EQ(shape(tree), "10 2(20 21 22 23) 3 4(40)");
}

TEST(NodeTree, EveryMoveFormAndItsNoOp) {
    Tree tree;
    Node* a = tree.append(nullptr, 1);
    Node* b = tree.append(nullptr, 2);
    Node* x = tree.append(a, 10);
    Node* y = tree.append(a, 11);
    Node* z = tree.append(a, 12);
    ASSERT_EQ(shape(tree), "1(10 11 12) 2");

    // First-child form.
    EXPECT_EQ(tree.move(x, a, nullptr), 0u);
    EXPECT_EQ(tree.move(z, a, nullptr), 1u);
    EXPECT_EQ(shape(tree), "1(12 10 11) 2");
    // After-sibling form.
    EXPECT_EQ(tree.move(x, a, z), 0u);
    EXPECT_EQ(tree.move(z, a, y), 1u);
    EXPECT_EQ(shape(tree), "1(10 11 12) 2");
    // Last-child form: the current last child stays put, any other goes last.
    EXPECT_EQ(tree.move(z, a, a), 0u);
    EXPECT_EQ(tree.move(x, a, a), 1u);
    EXPECT_EQ(shape(tree), "1(11 12 10) 2");
    EXPECT_EQ(tree.move(x, a, a), 0u);
    EXPECT_EQ(shape(tree), "1(11 12 10) 2");

    // Across parents, into an empty child list and up to the top level.
    EXPECT_EQ(tree.move(y, b, b), 1u);
    EXPECT_EQ(shape(tree), "1(12 10) 2(11)");
    EXPECT_EQ(tree.move(x, b, nullptr), 1u);
    EXPECT_EQ(shape(tree), "1(12) 2(10 11)");
    EXPECT_EQ(tree.move(z, nullptr, b), 1u);
    EXPECT_EQ(shape(tree), "1 2(10 11) 12");
    EXPECT_EQ(tree.move(z, nullptr, nullptr), 1u);
    EXPECT_EQ(shape(tree), "12 1 2(10 11)");
    EXPECT_EQ(tree.move(z, nullptr, nullptr), 0u);
    EXPECT_EQ(tree.move(a, nullptr, z), 0u);
    // A node moved with its subtree.
    EXPECT_EQ(tree.move(b, z, z), 1u);
    EXPECT_EQ(shape(tree), "12(2(10 11)) 1");
}

TEST(NodeTree, MovesThatWouldBreakTheTreeAreRefused) {
    Tree tree;
    Node* a = tree.append(nullptr, 1);
    Node* b = tree.append(nullptr, 2);
    Node* child = tree.append(a, 10);
    Node* grandchild = tree.append(child, 100);
    Node* other = tree.append(b, 20);
    const std::string before = "1(10(100)) 2(20)";
    ASSERT_EQ(shape(tree), before);

    EXPECT_EQ(tree.move(a, a, nullptr), 0u);           // under itself
    EXPECT_EQ(tree.move(a, a, a), 0u);
    EXPECT_EQ(tree.move(a, grandchild, nullptr), 0u);  // under its own descendant
    EXPECT_EQ(tree.move(a, child, child), 0u);
    EXPECT_EQ(tree.move(child, b, child), 0u);         // after itself
    EXPECT_EQ(tree.move(child, b, a), 0u);             // after a node of another parent
    EXPECT_EQ(tree.move(child, nullptr, other), 0u);   // top level needs a top-level sibling
    EXPECT_EQ(tree.move(nullptr, b, nullptr), 0u);
    EXPECT_EQ(shape(tree), before);
}

TEST(NodeTree, RemoveTakesTheSubtreeAndRelinksSiblings) {
    Tree tree;
    Node* a = tree.append(nullptr, 1);
    Node* b = tree.append(nullptr, 2);
    tree.append(nullptr, 3);
    Node* first = tree.append(b, 20);
    Node* middle = tree.append(b, 21);
    Node* last = tree.append(b, 22);
    tree.append(tree.append(middle, 210), 2100);
    tree.append(middle, 211);
    ASSERT_EQ(shape(tree), "1 2(20 21(210(2100) 211) 22) 3");

    tree.remove(middle);
    EXPECT_EQ(shape(tree), "1 2(20 22) 3");
    tree.remove(first);
    EXPECT_EQ(shape(tree), "1 2(22) 3");
    tree.remove(last);
    EXPECT_EQ(shape(tree), "1 2 3");
    tree.remove(a);
    EXPECT_EQ(shape(tree), "2 3");
    tree.remove(nullptr);

    tree.append(b, 20);
    tree.append(tree.append(b, 21), 210);
    tree.removeChildren(b);
    EXPECT_EQ(shape(tree), "2 3");
    EXPECT_EQ(tree.firstChild(b), nullptr);
    tree.append(b, 20);
    tree.removeChildren(nullptr);
    EXPECT_TRUE(tree.isEmpty());
    tree.append(tree.append(nullptr, 5), 50);
    tree.clear();
    EXPECT_EQ(tree.firstChild(nullptr), nullptr);
    EXPECT_EQ(shape(tree), "");
}

TEST(NodeTree, CopiesAreDeepAndIndependent) {
    Tree original;
    Node* a = original.append(nullptr, 1);
    Node* b = original.append(a, 10);
    original.append(b, 100);
    original.append(a, 11);
    original.append(nullptr, 2);
    const std::string before = "1(10(100) 11) 2";
    ASSERT_EQ(shape(original), before);

    Tree assigned;
    assigned.append(nullptr, 77);
    EXPECT_EQ(assigned.assign(original), 1u);
    Tree copied(original);
    Tree byOperator;
    byOperator = original;
    for (const Tree* copy : {&assigned, &copied, &byOperator}) {
        EXPECT_EQ(shape(*copy), before);
        EXPECT_NE(copy->firstChild(nullptr), a);
    }

    original.remove(b);
    original.setValue(a, 9);
    EXPECT_EQ(shape(original), "9(11) 2");
    EXPECT_EQ(shape(assigned), before);
    assigned.clear();
    EXPECT_EQ(shape(copied), before);

    Tree& alias = copied;
    EXPECT_EQ(copied.assign(alias), 1u);
    EXPECT_EQ(shape(copied), before);
    Tree empty;
    copied = empty;
    EXPECT_TRUE(copied.isEmpty());

    Tree moved(std::move(byOperator));
    EXPECT_TRUE(byOperator.isEmpty());
    EXPECT_EQ(shape(moved), before);
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
