#include "framework/MemoryStream.h"

#include <algorithm>
#include <cstring>

namespace qvl {

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
    const int64_t size = static_cast<int64_t>(data_.size());
    if (count <= 0 || position_ >= size) return 0;
    const int64_t n = std::min(count, size - position_);
    std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
    position_ += n;
    return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    const size_t end = static_cast<size_t>(position_ + count);
    if (end > data_.size()) data_.resize(end);
    std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
    position_ += count;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, Origin origin) {
    const int64_t base = origin == Origin::Beginning ? 0 : origin == Origin::Current ? position_ : Size();
    position_ = std::max<int64_t>(0, base + offset);
    return position_;
}

void TMemoryStream::SetSize(int64_t size) {
    data_.resize(static_cast<size_t>(std::max<int64_t>(0, size)));
    position_ = std::min(position_, Size());
}

}  // namespace qvl
