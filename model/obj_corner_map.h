#pragma once
#if !defined(LUMBRIX_INSIDE_MODEL) && !defined(LUMBRIX_TESTS)
#error "model/obj_corner_map.h is internal to model/"
#endif
// Map from a face corner's resolved (v, vt, vn) triple to its vertex index.
//
// Faces mostly reference positions near each other, so the common case is a
// direct table indexed by the position with a short chain of the (vt, vn)
// variants seen for it: a lookup touches memory the parse has just touched.
// Chains are capped; keys beyond the cap, keys whose indices do not fit the
// compact form, and positions outside the table go to a seeded open-addressing
// hash, so crafted files cannot make lookups quadratic.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fbx/page_memory.h"

namespace lumbrix {

struct CornerKey {
    int64_t v = 0;
    int64_t vt = 0;
    int64_t vn = 0;
    friend bool operator==(const CornerKey&, const CornerKey&) = default;
};

class CornerMap {
public:
    static constexpr uint32_t kNone = UINT32_MAX;
    static constexpr unsigned kMaxChain = 8;

    // `positionSlots`: size of the direct table (the number of position lines).
    explicit CornerMap(size_t positionSlots, size_t expectedVertices);

    // Looks `key` up; when absent the caller creates a vertex and inserts it.
    bool find(const CornerKey& key, uint32_t& vertexIndex) const;
    void insert(const CornerKey& key, uint32_t vertexIndex);

private:
    struct Link {
        uint32_t vt;
        uint32_t vn;
        uint32_t next;
    };
    struct Slot {
        CornerKey key;
        uint32_t value = 0;
        bool used = false;
    };

    bool isCompact(const CornerKey& key) const {
        return key.v >= 0 && static_cast<uint64_t>(key.v) < head_.size() && key.vt >= 0 &&
               key.vt < int64_t(kNone) && key.vn >= 0 && key.vn < int64_t(kNone);
    }
    void growLinks(size_t needed);
    bool findSpill(const CornerKey& key, uint32_t& vertexIndex) const;
    void insertSpill(const CornerKey& key, uint32_t vertexIndex);
    size_t spillHash(const CornerKey& key) const;

    // The direct tables are big and filled as the faces arrive, so they are arrays
    // that are never zero-filled by us (fresh mappings are zero already).
    PodArray<uint32_t> head_;      // per position: newest vertex of its chain, plus one (0: none)
    PodArray<Link> links_;         // per vertex index, set for linked vertices only
    PodArray<uint8_t> chainLength_;  // per position

    std::vector<Slot> spill_;
    size_t spillCount_ = 0;
    uint64_t seed_;
};

}  // namespace lumbrix
