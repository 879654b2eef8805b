#ifndef SNAPRESERVE_PLATFORM_BLOCK_STREAM_H_
#define SNAPRESERVE_PLATFORM_BLOCK_STREAM_H_

#include <functional>
#include <istream>
#include <streambuf>

namespace platform {

/// An input stream over an open file, read a block at a time through one
/// fixed buffer. `read` fills a buffer and returns how many bytes it got
/// (0 at the end, or below 0 on failure); `close` runs when the stream goes.
class BlockStream : public std::istream {
 public:
  using Reader = std::function<long(char* buffer, unsigned size)>;

  BlockStream(Reader read, std::function<void()> close)
      : std::istream(nullptr), buffer_(std::move(read), std::move(close)) {
    rdbuf(&buffer_);
  }

 private:
  class Buffer : public std::streambuf {
   public:
    Buffer(Reader read, std::function<void()> close)
        : read_(std::move(read)), close_(std::move(close)) {}
    ~Buffer() override { close_(); }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

   protected:
    int_type underflow() override {
      const long got = read_(block_, sizeof block_);
      if (got <= 0) return traits_type::eof();
      setg(block_, block_, block_ + got);
      return traits_type::to_int_type(block_[0]);
    }

   private:
    Reader read_;
    std::function<void()> close_;
    char block_[65536];
  };

  Buffer buffer_;
};

}  // namespace platform

#endif  // SNAPRESERVE_PLATFORM_BLOCK_STREAM_H_
