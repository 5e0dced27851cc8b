#pragma once

#include "engine/queue_item.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

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
// in a long queue is known without a walk through it. An open table of the elements
// and 32 bits of their identity's hash, some 16 bytes a track: a copy of every
// identity would cost a long queue as much memory again as its addresses, and a
// node per element (std::unordered_multimap) three times as much. The table holds
// one element per hash; the others of that hash (a track queued twice, a file that
// names one address a thousand times) wait beside it, so that they never make the
// runs of the table long. Elements whose hashes meet are told apart by their addresses.
template <class Node>
class AddressIndex {
public:
    void add(Node* node) { addHashed(node, hashOf(node->url)); }
    void remove(const Node* node)
    {
        if (m_nodes.empty())
            return;
        const std::uint32_t hash = hashOf(node->url);
        if (const std::size_t slot = slotOf(hash); m_nodes[slot] == node) {
            // Another element of its hash takes its place, if there is one.
            if (const auto other = m_more.find(hash); other != m_more.end()) {
                m_nodes[slot] = other->second;
                m_more.erase(other);
            } else {
                erase(slot);
            }
            return;
        }
        for (auto [at, end] = m_more.equal_range(hash); at != end; ++at) {
            if (at->second == node) {
                m_more.erase(at);
                return;
            }
        }
    }
    void clear() noexcept
    {
        std::vector<Node*>().swap(m_nodes);
        std::vector<std::uint32_t>().swap(m_hashes);
        m_more.clear();
        m_used = 0;
    }
    void absorb(AddressIndex& other)
    {
        for (std::size_t slot = 0; slot < other.m_nodes.size(); ++slot)
            if (other.m_nodes[slot])
                addHashed(other.m_nodes[slot], other.m_hashes[slot]);
        for (const auto& [hash, node] : other.m_more)
            addHashed(node, hash);
        other.clear();
    }
    // Every element of the track of `identity`, in no order.
    template <class Visit>
    void forEach(const std::string& identity, Visit visit) const
    {
        if (m_nodes.empty())
            return;
        const std::uint32_t hash = hashOfIdentity(identity);
        if (const Node* node = m_nodes[slotOf(hash)]; node && trackIdentity(node->url) == identity)
            visit(node);
        for (auto [at, end] = m_more.equal_range(hash); at != end; ++at) {
            if (trackIdentity(at->second->url) == identity)
                visit(at->second);
        }
    }

private:
    static std::uint32_t hashOfIdentity(const std::string& identity)
    {
        const std::size_t hash = std::hash<std::string> {}(identity);
        return static_cast<std::uint32_t>(hash ^ (hash >> 32));
    }
    static std::uint32_t hashOf(std::string_view url) { return hashOfIdentity(trackIdentity(url)); }
    std::size_t mask() const noexcept { return m_nodes.size() - 1; }
    // The slot of `hash`, or the empty one where the run from its home slot ends.
    std::size_t slotOf(std::uint32_t hash) const noexcept
    {
        std::size_t slot = hash & mask();
        while (m_nodes[slot] && m_hashes[slot] != hash)
            slot = (slot + 1) & mask();
        return slot;
    }

    void addHashed(Node* node, std::uint32_t hash)
    {
        // At most seven eighths full: a look-up for a track that is not queued
        // then passes a few dozen slots at worst, 12 bytes each, side by side.
        if ((m_used + 1) * 8 > m_nodes.size() * 7)
            grow();
        const std::size_t slot = slotOf(hash);
        if (m_nodes[slot]) {
            m_more.emplace(hash, node);
            return;
        }
        m_nodes[slot] = node;
        m_hashes[slot] = hash;
        ++m_used;
    }
    void grow()
    {
        std::vector<Node*> nodes(std::max<std::size_t>(16, m_nodes.size() * 2));
        std::vector<std::uint32_t> hashes(nodes.size());
        std::swap(nodes, m_nodes);
        std::swap(hashes, m_hashes);
        m_used = 0;
        for (std::size_t slot = 0; slot < nodes.size(); ++slot)
            if (nodes[slot])
                addHashed(nodes[slot], hashes[slot]);
    }
    // Empties `hole`, moving back into it what a search from its home slot would no
    // longer reach past an empty slot.
    void erase(std::size_t hole) noexcept
    {
        for (std::size_t next = (hole + 1) & mask(); m_nodes[next]; next = (next + 1) & mask()) {
            const std::size_t home = m_hashes[next] & mask();
            if (((next - home) & mask()) >= ((next - hole) & mask())) {
                m_nodes[hole] = m_nodes[next];
                m_hashes[hole] = m_hashes[next];
                hole = next;
            }
        }
        m_nodes[hole] = nullptr;
        --m_used;
    }

    std::vector<Node*> m_nodes;  // a power of two of slots, or none
    std::vector<std::uint32_t> m_hashes;
    std::unordered_multimap<std::uint32_t, Node*> m_more;  // beside the one of their hash in the table
    std::size_t m_used = 0;
};

// Lists of elements without an address keep no index.
struct NoIndex {
    void add(const void*) noexcept {}
    void remove(const void*) noexcept {}
    void clear() noexcept {}
    void absorb(NoIndex&) noexcept {}
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

    // Appends every element of `other`, in its order, leaving it empty.
    void AddTail(EntryList&& other)
    {
        if (this == &other || !other.m_head)
            return;
        if (!m_head) {
            *this = std::move(other);
            return;
        }
        if constexpr (DoublyLinkedNode<Node>)
            other.m_head->prev = m_tail;
        m_tail->next = std::move(other.m_head);
        m_tail = std::exchange(other.m_tail, nullptr);
        m_count += std::exchange(other.m_count, 0);
        m_index.absorb(other.m_index);
    }

    [[nodiscard]] Node* GetHead() noexcept { return m_head.get(); }
    [[nodiscard]] const Node* GetHead() const noexcept { return m_head.get(); }
    [[nodiscard]] const Node* getTail() const noexcept { return m_head ? m_tail : nullptr; }

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

    std::uint32_t getCount() const noexcept { return m_count; }
    [[nodiscard]] bool isEmpty() const noexcept { return !m_head; }

    // Index of the first element for the same track as `url` (trackIdentity), or -1.
    // A track that is not queued is known at once; one that is, by counting back
    // from it to the head (at once for the track in download).
    [[nodiscard]] std::int64_t findAddress(std::string_view url) const
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
