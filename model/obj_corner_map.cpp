#include "model/obj_corner_map.h"

#include <algorithm>
#include <cstring>
#include <random>

namespace lumbrix {

namespace {

inline uint64_t mix(uint64_t x) {
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ull;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebull;
    x ^= x >> 31;
    return x;
}

uint64_t randomSeed() {
    static const uint64_t seed = [] {
        std::random_device device;
        return (uint64_t(device()) << 32) ^ device();
    }();
    return seed;
}

}  // namespace

CornerMap::CornerMap(size_t positionSlots, size_t expectedVertices) : seed_(randomSeed()) {
    // head_ holds vertex + 1 so that its zero bytes mean an empty chain.
    head_.resetZeroed(positionSlots);
    chainLength_.resetZeroed(positionSlots);
    links_.reset(expectedVertices);
}

bool CornerMap::find(const CornerKey& key, uint32_t& vertexIndex) const {
    if (isCompact(key)) {
        const auto v = static_cast<size_t>(key.v);
        const auto vt = static_cast<uint32_t>(key.vt);
        const auto vn = static_cast<uint32_t>(key.vn);
        for (uint32_t i = head_[v] - 1; i != kNone; i = links_[i].next) {
            if (links_[i].vt == vt && links_[i].vn == vn) {
                vertexIndex = i;
                return true;
            }
        }
        // Only a full chain can have pushed this position's keys into the spill table.
        if (chainLength_[v] < kMaxChain) return false;
    }
    return findSpill(key, vertexIndex);
}

void CornerMap::growLinks(size_t needed) {
    PodArray<Link> larger(std::max(needed, links_.size() * 2));
    if (!links_.empty()) std::memcpy(static_cast<void*>(larger.data()), links_.data(), links_.size() * sizeof(Link));
    links_ = std::move(larger);
}

void CornerMap::insert(const CornerKey& key, uint32_t vertexIndex) {
    // Vertex kNone (the 2^32-th) cannot be linked: kNone ends every chain.
    if (isCompact(key) && vertexIndex != kNone) {
        const auto v = static_cast<size_t>(key.v);
        if (chainLength_[v] < kMaxChain) {
            if (links_.size() <= vertexIndex) growLinks(size_t(vertexIndex) + 1);
            links_[vertexIndex] = Link{static_cast<uint32_t>(key.vt), static_cast<uint32_t>(key.vn), head_[v] - 1};
            head_[v] = vertexIndex + 1;
            ++chainLength_[v];
            return;
        }
    }
    insertSpill(key, vertexIndex);
}

size_t CornerMap::spillHash(const CornerKey& key) const {
    uint64_t h = mix(uint64_t(key.v) ^ seed_);
    h = mix(h ^ uint64_t(key.vt));
    h = mix(h ^ uint64_t(key.vn));
    return static_cast<size_t>(h);
}

bool CornerMap::findSpill(const CornerKey& key, uint32_t& vertexIndex) const {
    if (spill_.empty()) return false;
    const size_t mask = spill_.size() - 1;
    for (size_t i = spillHash(key) & mask;; i = (i + 1) & mask) {
        const Slot& slot = spill_[i];
        if (!slot.used) return false;
        if (slot.key == key) {
            vertexIndex = slot.value;
            return true;
        }
    }
}

void CornerMap::insertSpill(const CornerKey& key, uint32_t vertexIndex) {
    if ((spillCount_ + 1) * 2 > spill_.size()) {
        std::vector<Slot> old = std::move(spill_);
        spill_.assign(old.empty() ? 64 : old.size() * 2, Slot{});
        spillCount_ = 0;
        for (const Slot& slot : old) {
            if (slot.used) insertSpill(slot.key, slot.value);
        }
    }
    const size_t mask = spill_.size() - 1;
    for (size_t i = spillHash(key) & mask;; i = (i + 1) & mask) {
        if (!spill_[i].used) {
            spill_[i] = Slot{key, vertexIndex, true};
            ++spillCount_;
            return;
        }
    }
}

}  // namespace lumbrix
