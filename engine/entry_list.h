#pragma once

#include "engine/queue_item.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>

namespace qvr {

// The requirements are spelt with <type_traits>: Qt's moc, which reads this header
// through the window's, cannot parse the standard <concepts> header.

// An element owns its successor through `next`.
template <class Node>
concept ListNode = requires(Node& node) {
    requires std::is_same_v<decltype((node.next)), std::unique_ptr<Node>&>;
};

// An element that also points back at its predecessor (not owning).
template <class Node>
concept DoublyLinkedNode = ListNode<Node> && requires(Node& node) {
    requires std::is_same_v<decltype((node.prev)), Node*&>;
};

// An element that carries a track's address.
template <class Node>
concept AddressedNode = ListNode<Node> && requires(const Node& node) {
    requires std::is_convertible_v<decltype((node.url)), std::string_view>;
};

namespace detail {

// Where the elements of each track are (trackIdentity), so that whether a track is
// in a long queue is known without a walk through it. Keyed by the identity's hash
// alone: a copy of every identity would cost a long queue as much memory again as
// its addresses. Elements whose hashes meet are told apart by their addresses.
template <class Node>
class AddressIndex {
public:
    void add(Node* node) { m_nodes.emplace(hashOf(node->url), node); }
    void remove(const Node* node)
    {
        auto [at, end] = m_nodes.equal_range(hashOf(node->url));
        for (; at != end; ++at) {
            if (at->second == node) {
                m_nodes.erase(at);
                return;
            }
        }
    }
    void clear() noexcept { m_nodes.clear(); }
    // Every element of the track of `identity`, in no order.
    template <class Visit>
    void forEach(const std::string& identity, Visit visit) const
    {
        auto [at, end] = m_nodes.equal_range(std::hash<std::string> {}(identity));
        for (; at != end; ++at) {
            if (trackIdentity(at->second->url) == identity)
                visit(at->second);
        }
    }

private:
    static std::size_t hashOf(std::string_view url) { return std::hash<std::string> {}(trackIdentity(url)); }

    std::unordered_multimap<std::size_t, Node*> m_nodes;
};

// Lists of elements without an address keep no index.
struct NoIndex {
    void add(const void*) noexcept {}
    void remove(const void*) noexcept {}
    void clear() noexcept {}
};

} // namespace detail

// An ordered list that owns its elements. It is empty exactly when it has no head;
// the tail is only looked at while there is a head. Removal from the middle and
// the search by address exist only for elements that can support them (a back
// link, an address). An element's address must not change while it is listed.
template <ListNode Node>
class EntryList {
public:
    EntryList() = default;
    ~EntryList() { RemoveAll(); }

    EntryList(const EntryList&) = delete;
    EntryList& operator=(const EntryList&) = delete;

    EntryList(EntryList&& other) noexcept
        : m_head(std::move(other.m_head)),
          m_tail(std::exchange(other.m_tail, nullptr)),
          m_count(std::exchange(other.m_count, 0)),
          m_index(std::exchange(other.m_index, {}))
    {
    }

    EntryList& operator=(EntryList&& other) noexcept
    {
        if (this != &other) {
            RemoveAll();
            m_head = std::move(other.m_head);
            m_tail = std::exchange(other.m_tail, nullptr);
            m_count = std::exchange(other.m_count, 0);
            m_index = std::exchange(other.m_index, {});
        }
        return *this;
    }

    // Appends `node`, taking it over, and returns it; nothing happens for a null
    // node. Whatever the node still linked to is dropped.
    Node* AddTail(std::unique_ptr<Node> node)
    {
        if (!node)
            return nullptr;
        node->next.reset();
        Node* added = node.get();
        if (!m_head) {
            if constexpr (DoublyLinkedNode<Node>)
                added->prev = nullptr;
            m_head = std::move(node);
        } else {
            if constexpr (DoublyLinkedNode<Node>)
                added->prev = m_tail;
            m_tail->next = std::move(node);
        }
        m_tail = added;
        ++m_count;
        m_index.add(added);
        return added;
    }

    [[nodiscard]] Node* GetHead() noexcept { return m_head.get(); }
    [[nodiscard]] const Node* GetHead() const noexcept { return m_head.get(); }
    [[nodiscard]] const Node* GetTail() const noexcept { return m_head ? m_tail : nullptr; }

    // The element at `index`, or none when index >= count.
    [[nodiscard]] Node* GetAt(std::uint32_t index) noexcept
    {
        return const_cast<Node*>(std::as_const(*this).GetAt(index));
    }

    // Walks from the nearer end where it can: the last of a long queue costs as
    // little as the first.
    [[nodiscard]] const Node* GetAt(std::uint32_t index) const noexcept
    {
        if (index >= m_count)
            return nullptr;
        if constexpr (DoublyLinkedNode<Node>) {
            if (index > m_count / 2) {
                const Node* node = m_tail;
                for (std::uint32_t left = m_count - 1 - index; node && left > 0; --left)
                    node = node->prev;
                return node;
            }
        }
        const Node* node = m_head.get();
        for (; node && index > 0; --index)
            node = node->next.get();
        return node;
    }

    std::uint32_t GetCount() const noexcept { return m_count; }
    [[nodiscard]] bool IsEmpty() const noexcept { return !m_head; }

    // Index of the first element for the same track as `url` (trackIdentity), or -1.
    // A track that is not queued is known at once; one that is, by counting back
    // from it to the head (at once for the track in download).
    [[nodiscard]] std::int64_t FindAddress(std::string_view url) const
        requires AddressedNode<Node> && DoublyLinkedNode<Node>
    {
        std::int64_t first = -1;
        m_index.forEach(trackIdentity(url), [&](const Node* node) {
            std::int64_t index = 0;
            for (; node->prev && (first < 0 || index < first); node = node->prev)
                ++index;
            if (first < 0 || index < first)
                first = index;
        });
        return first;
    }

    // Unlinks and frees the element at `index`; nothing when index >= count.
    void RemoveAt(std::uint32_t index) noexcept
        requires DoublyLinkedNode<Node>
    {
        Node* node = GetAt(index);
        if (!node)
            return;
        Node* before = node->prev;
        if (!before) {
            RemoveHead();
            return;
        }
        // `before->next` owns `node`; take it over so `node` dies at the end of
        // this scope, with its own successor already moved out of it.
        std::unique_ptr<Node> removed = std::move(before->next);
        m_index.remove(removed.get());
        before->next = std::move(removed->next);
        if (before->next)
            before->next->prev = before;
        else
            m_tail = before;
        --m_count;
    }

    // Frees the first element; nothing when the list is empty.
    void RemoveHead() noexcept
    {
        if (!m_head)
            return;
        std::unique_ptr<Node> removed = std::move(m_head);
        m_index.remove(removed.get());
        m_head = std::move(removed->next);
        if (m_head) {
            if constexpr (DoublyLinkedNode<Node>)
                m_head->prev = nullptr;
        } else {
            m_tail = nullptr;
        }
        --m_count;
    }

    // One element at a time: letting the head's unique_ptr free the chain would
    // recurse once per element and could overflow the stack on a long list.
    void RemoveAll() noexcept
    {
        m_index.clear();
        while (m_head) {
            std::unique_ptr<Node> removed = std::move(m_head);
            m_head = std::move(removed->next);
        }
        m_tail = nullptr;
        m_count = 0;
    }

private:
    using Index = std::conditional_t<AddressedNode<Node> && DoublyLinkedNode<Node>, detail::AddressIndex<Node>,
                                     detail::NoIndex>;

    std::unique_ptr<Node> m_head;
    Node* m_tail = nullptr;
    std::uint32_t m_count = 0;
    Index m_index;
};

} // namespace qvr
