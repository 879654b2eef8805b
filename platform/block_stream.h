#ifndef SNAPRESERVE_PLATFORM_BLOCK_STREAM_H_
#define SNAPRESERVE_PLATFORM_BLOCK_STREAM_H_

#include <algorithm>
#include <functional>
#include <istream>
#include <streambuf>

namespace platform {

/// An input stream over an open file that keeps no block of its own: a block
/// read (`sgetn`) goes straight from the file into the reader's buffer, so the
/// listing passes through one buffer only. `read` fills a buffer and returns
/// how many bytes it got (0 at the end, or below 0 on failure, which sets the
/// stream's badbit: a listing cut short by a read error is no whole listing);
/// `close` runs when the stream goes.
class BlockStream : public std::istream {
 public:
  using Reader = std::function<long(char* buffer, unsigned size)>;

  BlockStream(Reader read, std::function<void()> close)
      : std::istream(nullptr), buffer_(std::move(read), std::move(close), this) {
    rdbuf(&buffer_);
  }

 private:
  class Buffer : public std::streambuf {
   public:
    Buffer(Reader read, std::function<void()> close, std::istream* stream)
        : read_(std::move(read)), close_(std::move(close)), stream_(stream) {}
    ~Buffer() override { close_(); }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

   protected:
    // A reader that takes a character at a time gets one at a time.
    int_type underflow() override {
      if (Read(&byte_, 1) <= 0) return traits_type::eof();
      setg(&byte_, &byte_, &byte_ + 1);
      return traits_type::to_int_type(byte_);
    }

    // Whatever underflow still holds first, then the file itself. Short only
    // at the end of the file.
    std::streamsize xsgetn(char* buffer, std::streamsize size) override {
      std::streamsize done = 0;
      if (gptr() < egptr() && size > 0) {
        buffer[done++] = *gptr();
        gbump(1);
      }
      while (done < size) {
        const std::streamsize want = std::min<std::streamsize>(size - done, kMostAtOnce);
        const long got = Read(buffer + done, static_cast<unsigned>(want));
        if (got <= 0) break;
        done += got;
      }
      return done;
    }

   private:
    static constexpr std::streamsize kMostAtOnce = 1 << 30;

    long Read(char* buffer, unsigned size) {
      const long got = read_(buffer, size);
      if (got < 0) stream_->setstate(std::ios::badbit);
      return got;
    }

    Reader read_;
    std::function<void()> close_;
    std::istream* stream_;
    char byte_ = 0;
  };

  Buffer buffer_;
};

}  // namespace platform

#endif  // SNAPRESERVE_PLATFORM_BLOCK_STREAM_H_
