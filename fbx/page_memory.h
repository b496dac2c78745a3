#pragma once
// Big arrays for the model readers: fresh memory from the system, asked to use
// transparent huge pages, and never zero-filled by us.
//
// A user's load starts in a fresh process, where every new page costs a fault
// and the kernel's zeroing; on virtual machines a 4 KiB fault can cost more than
// parsing the bytes that fill it. Huge pages cut the faults 512-fold, and arrays
// whose every element is written anyway need no value-initialisation first.
// Everything here lives in fbx/ because it is the lowest layer that needs it; the
// OBJ reader and the importer in model/ use it too.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

namespace lumbrix {

// Asks for transparent huge pages on the whole 2 MiB-aligned runs inside
// [p, p + bytes). For memory that has not been touched yet (a fresh reservation
// of a std::vector, say); a hint only, contents are unchanged.
void adviseHugePages(void* p, size_t bytes);

namespace pagememory {
// `bytes` of writable memory, uninitialised; big requests are 2 MiB-aligned
// anonymous mappings advised to use huge pages. Throws std::bad_alloc.
void* allocate(size_t bytes);
void release(void* p, size_t bytes) noexcept;
// Whether allocate(bytes) hands out memory the system has just zeroed.
bool freshZeroed(size_t bytes);
}  // namespace pagememory

// A fixed-size array of trivially copyable T whose elements start uninitialised.
template <class T>
class PodArray {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

public:
    PodArray() = default;
    // Throws std::bad_alloc.
    explicit PodArray(size_t count) { reset(count); }
    ~PodArray() { free(); }
    PodArray(PodArray&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)),
          size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)) {}
    PodArray& operator=(PodArray&& other) noexcept {
        if (this != &other) {
            free();
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
            capacity_ = std::exchange(other.capacity_, 0);
        }
        return *this;
    }
    PodArray(const PodArray&) = delete;
    PodArray& operator=(const PodArray&) = delete;

    // Drops the contents and makes room for `count` uninitialised elements.
    void reset(size_t count) {
        free();
        if (count == 0) return;
        if (count > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
        data_ = static_cast<T*>(pagememory::allocate(count * sizeof(T)));
        size_ = capacity_ = count;
    }
    // Drops the contents and makes room for `count` elements whose bytes are all
    // zero. Fresh mappings are zero already, so only small arrays are cleared.
    void resetZeroed(size_t count) {
        reset(count);
        if (count != 0 && !pagememory::freshZeroed(count * sizeof(T))) std::memset(static_cast<void*>(data_), 0, count * sizeof(T));
    }
    // Keeps the first `count` elements (count <= size()); the memory stays.
    void shrink(size_t count) {
        if (count < size_) size_ = count;
    }
    void clear() { free(); }
    // A copy with the same elements.
    PodArray clone() const {
        PodArray copy(size_);
        if (size_ != 0) std::memcpy(copy.data_, data_, size_ * sizeof(T));
        return copy;
    }

    T* data() { return data_; }
    const T* data() const { return data_; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    T& operator[](size_t i) { return data_[i]; }
    const T& operator[](size_t i) const { return data_[i]; }
    T* begin() { return data_; }
    T* end() { return data_ + size_; }
    const T* begin() const { return data_; }
    const T* end() const { return data_ + size_; }

private:
    void free() noexcept {
        if (data_) pagememory::release(data_, capacity_ * sizeof(T));
        data_ = nullptr;
        size_ = capacity_ = 0;
    }
    T* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

}  // namespace lumbrix
