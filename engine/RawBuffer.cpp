#include "RawBuffer.h"

#include <algorithm>
#include <cstring>

namespace contavio {

char* RawBuffer::extend(size_t n) {
    if (capacity_ - size_ < n) {
        const size_t wanted = std::max(size_ + n, capacity_ * 2);
        std::unique_ptr<char[]> grown(new char[wanted]);
        if (size_ > 0) std::memcpy(grown.get(), data_.get(), size_);
        data_ = std::move(grown);
        capacity_ = wanted;
    }
    char* at = data_.get() + size_;
    size_ += n;
    return at;
}

void RawBuffer::append(std::string_view text) {
    if (!text.empty()) std::memcpy(extend(text.size()), text.data(), text.size());
}

}  // namespace contavio
