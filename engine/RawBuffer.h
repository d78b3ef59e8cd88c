// A growing byte buffer whose new bytes are not set first, for buffers that
// are filled right after they grow (by memcpy, by the cipher, or by two
// threads at once): clearing megabytes only to overwrite them costs time.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

namespace contavio {

class RawBuffer {
  public:
    const char* data() const { return data_.get(); }
    char* data() { return data_.get(); }
    size_t size() const { return size_; }
    // n more bytes at the end, not yet set; their start. The bytes before
    // keep their values, but not their addresses.
    char* extend(size_t n);
    void append(std::string_view text);
    // Empty, keeping the memory for what comes next.
    void clear() { size_ = 0; }

  private:
    std::unique_ptr<char[]> data_;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

}  // namespace contavio
