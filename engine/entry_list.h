#pragma once

#include "engine/queue_item.h"

#include <cstdint>
#include <memory>
#include <string_view>
#include <type_traits>
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

// An ordered list that owns its elements. It is empty exactly when it has no head;
// the tail is only looked at while there is a head. Removal from the middle and
// the search by title exist only for elements that can support them (a back link,
// a title).
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
          m_count(std::exchange(other.m_count, 0))
    {
    }

    EntryList& operator=(EntryList&& other) noexcept
    {
        if (this != &other) {
            RemoveAll();
            m_head = std::move(other.m_head);
            m_tail = std::exchange(other.m_tail, nullptr);
            m_count = std::exchange(other.m_count, 0);
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
        return added;
    }

    [[nodiscard]] Node* GetHead() noexcept { return m_head.get(); }
    [[nodiscard]] const Node* GetHead() const noexcept { return m_head.get(); }

    // The element at `index`, or none when index >= count.
    [[nodiscard]] Node* GetAt(std::uint32_t index) noexcept
    {
        return const_cast<Node*>(std::as_const(*this).GetAt(index));
    }

    [[nodiscard]] const Node* GetAt(std::uint32_t index) const noexcept
    {
        if (index >= m_count)
            return nullptr;
        const Node* node = m_head.get();
        for (; node && index > 0; --index)
            node = node->next.get();
        return node;
    }

    std::uint32_t GetCount() const noexcept { return m_count; }
    [[nodiscard]] bool IsEmpty() const noexcept { return !m_head; }

    // Index of the first element for the same track as `url` (trackIdentity), or -1.
    [[nodiscard]] std::int64_t FindAddress(std::string_view url) const
        requires AddressedNode<Node>
    {
        const std::string wanted = trackIdentity(url);
        std::int64_t index = 0;
        for (const Node* node = m_head.get(); node; node = node->next.get(), ++index) {
            if (trackIdentity(node->url) == wanted)
                return index;
        }
        return -1;
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
        while (m_head)
            RemoveHead();
    }

private:
    std::unique_ptr<Node> m_head;
    Node* m_tail = nullptr;
    std::uint32_t m_count = 0;
};

} // namespace qvr
