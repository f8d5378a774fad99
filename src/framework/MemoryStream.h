#pragma once
// TMemoryStream: a stream held in memory.
#include <string>

#include "framework/Stream.h"

namespace qvl {

class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::string data) : data_(std::move(data)) {}

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, Origin origin) override;
    void SetSize(int64_t size) override;
    int64_t Size() override { return static_cast<int64_t>(data_.size()); }

    const std::string& Data() const { return data_; }
    void Clear() {
        data_.clear();
        position_ = 0;
    }

private:
    std::string data_;
    int64_t position_ = 0;
};

}  // namespace qvl
