#pragma once
// An ordered tree of opaque values (callers usually store pointers).
//
// The tree owns its nodes, never the values. A parent of nullptr means the
// top level, so the tree answers the same child queries as a node. Not
// synchronised: the owner guards it. Every walk is iterative, so a chain of
// any depth can be copied and freed without exhausting the stack.

#include <cstdint>
#include <new>
#include <utility>

namespace vp {

template <typename Value = uint32_t>
class NodeTree {
public:
    class Node {
    public:
        Node(const Node&) = delete;
        Node& operator=(const Node&) = delete;

    private:
        friend class NodeTree;
        explicit Node(const Value& value) : m_value(value) {}

        Value m_value;
        Node* m_parent = nullptr;
        Node* m_next = nullptr;
        Node* m_previous = nullptr;
        Node* m_firstChild = nullptr;
    };

    NodeTree() = default;
    // A deep copy; empty when memory ran out.
    NodeTree(const NodeTree& other) { assign(other); }
    NodeTree(NodeTree&& other) noexcept : m_first(std::exchange(other.m_first, nullptr)) {}
    ~NodeTree() { clear(); }

    NodeTree& operator=(const NodeTree& other) {
        assign(other);
        return *this;
    }
    NodeTree& operator=(NodeTree&& other) noexcept {
        if (this != &other) {
            clear();
            m_first = std::exchange(other.m_first, nullptr);
        }
        return *this;
    }

    // A new node as parent's first child; nullptr when allocation fails.
    Node* insertFirst(Node* parent, const Value& value) { return link(parent, nullptr, value); }
    // A new node as parent's last child; nullptr when allocation fails.
    Node* append(Node* parent, const Value& value) { return link(parent, lastChild(parent), value); }
    // A new node right after sibling, under the same parent; nullptr for no sibling.
    Node* insertAfter(Node* sibling, const Value& value) {
        return sibling ? link(sibling->m_parent, sibling, value) : nullptr;
    }

    // Moves node with its subtree under newParent: after == nullptr makes it the
    // first child, after == newParent the last child, otherwise it follows
    // after. 0 with no change when it is already there or the move would
    // break the tree; else 1.
    uint32_t move(Node* node, Node* newParent, Node* after);
    // Frees node and its whole subtree; the values are not touched.
    void remove(Node* node);
    // Frees every descendant of node (of the top level for nullptr).
    void removeChildren(Node* node);
    // Frees every node.
    void clear() { removeChildren(nullptr); }
    // Replaces this tree with a copy of other's shape and values: 1, or 0 with
    // an empty tree when memory ran out.
    uint32_t assign(const NodeTree& other);

    // The first / last child of node, or of the top level for nullptr.
    Node* firstChild(Node* node) const { return node ? node->m_firstChild : m_first; }
    Node* lastChild(Node* node) const {
        Node* child = firstChild(node);
        while (child && child->m_next) child = child->m_next;
        return child;
    }
    // Siblings and parent; nullptr for nullptr and past either end.
    Node* next(Node* node) const { return node ? node->m_next : nullptr; }
    Node* previous(Node* node) const { return node ? node->m_previous : nullptr; }
    Node* parent(Node* node) const { return node ? node->m_parent : nullptr; }
    // The stored value; Value() for nullptr.
    Value value(Node* node) const { return node ? node->m_value : Value(); }
    // Replaces the stored value of node.
    void setValue(Node* node, const Value& value) {
        if (node) node->m_value = value;
    }
    bool isEmpty() const { return m_first == nullptr; }

private:
    Node*& firstSlot(Node* parent) { return parent ? parent->m_firstChild : m_first; }
    // Puts node under parent after previous (first when previous is nullptr).
    void attach(Node* node, Node* parent, Node* previous);
    // Takes node out of its sibling list; its subtree stays with it.
    void detach(Node* node);
    Node* link(Node* parent, Node* previous, const Value& value);
    // Frees a detached subtree, children last to first.
    static void freeSubtree(Node* root);

    Node* m_first = nullptr;
};

template <typename Value>
void NodeTree<Value>::attach(Node* node, Node* parent, Node* previous) {
    Node*& first = firstSlot(parent);
    node->m_parent = parent;
    node->m_previous = previous;
    node->m_next = previous ? previous->m_next : first;
    if (node->m_next) node->m_next->m_previous = node;
    if (previous) previous->m_next = node;
    else first = node;
}

template <typename Value>
void NodeTree<Value>::detach(Node* node) {
    if (node->m_previous) node->m_previous->m_next = node->m_next;
    else firstSlot(node->m_parent) = node->m_next;
    if (node->m_next) node->m_next->m_previous = node->m_previous;
    node->m_parent = node->m_next = node->m_previous = nullptr;
}

template <typename Value>
typename NodeTree<Value>::Node* NodeTree<Value>::link(Node* parent, Node* previous, const Value& value) {
    Node* node = new (std::nothrow) Node(value);
    if (node) attach(node, parent, previous);
    return node;
}

template <typename Value>
uint32_t NodeTree<Value>::move(Node* node, Node* newParent, Node* after) {
    if (!node || after == node) return 0;
    // A node cannot go under itself or anything beneath it: the subtree would
    // be cut loose from the tree and form a cycle.
    for (Node* ancestor = newParent; ancestor; ancestor = ancestor->m_parent) {
        if (ancestor == node) return 0;
    }
    Node* previous = nullptr;
    if (after && after == newParent) {
        previous = lastChild(newParent);
        // Already the last child: its place is after its own previous sibling.
        if (previous == node) previous = node->m_previous;
    } else if (after) {
        if (after->m_parent != newParent) return 0;
        previous = after;
    }
    if (node->m_parent == newParent && node->m_previous == previous) return 0;
    detach(node);
    attach(node, newParent, previous);
    return 1;
}

template <typename Value>
void NodeTree<Value>::freeSubtree(Node* root) {
    // Post-order without recursion: go down to the last leaf, free it, then
    // continue with its previous sibling's last leaf or with its parent.
    auto lastLeaf = [](Node* node) {
        for (;;) {
            Node* child = node->m_firstChild;
            if (!child) return node;
            while (child->m_next) child = child->m_next;
            node = child;
        }
    };
    Node* current = lastLeaf(root);
    for (;;) {
        if (current == root) {
            delete current;
            return;
        }
        Node* previous = current->m_previous;
        Node* parent = current->m_parent;
        delete current;
        if (previous) {
            previous->m_next = nullptr;
            current = lastLeaf(previous);
        } else {
            parent->m_firstChild = nullptr;
            current = parent;
        }
    }
}

template <typename Value>
void NodeTree<Value>::remove(Node* node) {
    if (!node) return;
    detach(node);
    freeSubtree(node);
}

template <typename Value>
void NodeTree<Value>::removeChildren(Node* node) {
    Node* child = lastChild(node);
    while (child) {
        Node* previous = child->m_previous;
        remove(child);
        child = previous;
    }
}

template <typename Value>
uint32_t NodeTree<Value>::assign(const NodeTree& other) {
    if (this == &other) return 1;
    clear();
    // Pre-order walk of other; copyParent and copyPrevious mirror the position
    // of source in the copy, so each node is appended in constant time.
    Node* source = other.m_first;
    Node* copyParent = nullptr;
    Node* copyPrevious = nullptr;
    while (source) {
        Node* copy = link(copyParent, copyPrevious, source->m_value);
        if (!copy) {
            clear();
            return 0;
        }
        if (source->m_firstChild) {
            source = source->m_firstChild;
            copyParent = copy;
            copyPrevious = nullptr;
            continue;
        }
        copyPrevious = copy;
        while (source && !source->m_next) {
            source = source->m_parent;
            if (source) {
                copyPrevious = copyParent;
                copyParent = copyParent->m_parent;
            }
        }
        if (source) source = source->m_next;
    }
    return 1;
}

} // namespace vp
