#pragma once
#include <cstdint>
#include <functional>
#include <string_view>
#include <utility>
#include <vector>

// Byte strings to ids in one open-addressing table. The keys are views: the
// caller keeps their bytes alive and unmoved while the table is in use. A
// node-based map misses the cache on nearly every one of the 100,000 rows a
// list looks up; this one touches one slot array and the key itself.
class ByteKeyTable {
public:
    explicit ByteKeyTable(size_t expected = 16)
    {
        m_keys.reserve(expected);
        rehash(slotsFor(expected));
    }
    size_t size() const { return m_keys.size(); }

    // The id of key; when absent it is added with the id given. second: added.
    std::pair<int, bool> insert(std::string_view key, int id)
    {
        if ((m_keys.size() + 1) * 2 > m_slots.size())
            rehash(m_slots.size() * 2);
        const size_t h = std::hash<std::string_view>()(key);
        for (size_t i = h & m_mask;; i = (i + 1) & m_mask) {
            Slot &s = m_slots[i];
            if (s.key < 0) {
                s = Slot{uint32_t(h), int(m_keys.size())};
                m_keys.push_back(Key{key, id, uint32_t(h)});
                return {id, true};
            }
            if (s.tag == uint32_t(h) && m_keys[size_t(s.key)].bytes == key)
                return {m_keys[size_t(s.key)].id, false};
        }
    }
    // The id of key, -1 when absent.
    int find(std::string_view key) const
    {
        const size_t h = std::hash<std::string_view>()(key);
        for (size_t i = h & m_mask;; i = (i + 1) & m_mask) {
            const Slot &s = m_slots[i];
            if (s.key < 0)
                return -1;
            if (s.tag == uint32_t(h) && m_keys[size_t(s.key)].bytes == key)
                return m_keys[size_t(s.key)].id;
        }
    }

private:
    struct Slot {
        uint32_t tag; // low bits of the hash: most mismatches end here
        int key;      // index into m_keys; -1 empty
    };
    struct Key {
        std::string_view bytes;
        int id;
        uint32_t hash;
    };
    static size_t slotsFor(size_t keys)
    {
        size_t cap = 16;
        while (cap < keys * 2)
            cap <<= 1;
        return cap;
    }
    // Only the low 32 bits of each hash are kept: enough for a table of up
    // to 2^32 slots, far above any list held in memory.
    void rehash(size_t cap)
    {
        m_slots.assign(cap, Slot{0, -1});
        m_mask = cap - 1;
        for (size_t k = 0; k < m_keys.size(); ++k) {
            size_t i = m_keys[k].hash & m_mask;
            while (m_slots[i].key >= 0)
                i = (i + 1) & m_mask;
            m_slots[i] = Slot{m_keys[k].hash, int(k)};
        }
    }
    std::vector<Slot> m_slots;
    std::vector<Key> m_keys;
    size_t m_mask = 0;
};
